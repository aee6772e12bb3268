// Standard output and error on Windows: wide text straight to a console, or
// the ANSI code page with CR LF line ends to a file or pipe, as a console
// program's C run-time library writes in text mode.
#include <windows.h>

#include <mutex>
#include <string>

#include "platform/codepage.h"
#include "platform/interface/console.h"

namespace kairovel::platform {
namespace {

class WindowsConsole final : public ConsoleFacility {
public:
    void WriteStandardOutput(std::wstring_view text) override { Write(STD_OUTPUT_HANDLE, text); }
    void WriteStandardError(std::wstring_view text) override { Write(STD_ERROR_HANDLE, text); }
    bool AllocConsole() override { return ::AllocConsole() != FALSE; }

private:
    void Write(DWORD stream, std::wstring_view text) {
        const std::lock_guard<std::mutex> lock(mutex_);
        const HANDLE handle = ::GetStdHandle(stream);
        if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
        DWORD mode = 0;
        if (::GetConsoleMode(handle, &mode)) {
            DWORD written = 0;
            ::WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
            return;
        }
        std::wstring lines;
        lines.reserve(text.size());
        for (const wchar_t c : text) {
            if (c == L'\n') lines.push_back(L'\r');
            lines.push_back(c);
        }
        const std::string bytes = WideToAnsi(lines);
        std::size_t done = 0;
        while (done < bytes.size()) {
            DWORD written = 0;
            if (!::WriteFile(handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) ||
                written == 0) {
                return;  // a closed stream loses the text, as a console would
            }
            done += written;
        }
    }

    std::mutex mutex_;
};

}  // namespace

template <>
ConsoleFacility& DefaultFacility<ConsoleFacility>() {
    static WindowsConsole console;
    return console;
}

}  // namespace kairovel::platform
