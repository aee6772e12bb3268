// The log file on Windows: CreateFileW with FILE_SHARE_READ, so that the
// system itself refuses a second writer and lets readers in, and reads and
// writes at the offsets an OVERLAPPED record gives.
#include <windows.h>

#include <string>

#include "platform/interface/log_file.h"

namespace kairovel::platform {
namespace {

OVERLAPPED At(std::uint64_t offset) {
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return position;
}

class WindowsLogFile final : public LogFile {
public:
    explicit WindowsLogFile(HANDLE file) : file_(file) {}
    ~WindowsLogFile() override { ::CloseHandle(file_); }
    WindowsLogFile(const WindowsLogFile&) = delete;
    WindowsLogFile& operator=(const WindowsLogFile&) = delete;

    bool ReadAt(std::uint64_t offset, void* buffer, std::uint32_t size, std::uint32_t& read) override {
        OVERLAPPED position = At(offset);
        DWORD done = 0;
        const bool ok = ::ReadFile(file_, buffer, size, &done, &position) != FALSE;
        read = done;
        // A read that starts at the end of the file reads nothing, which is no failure.
        return ok || ::GetLastError() == ERROR_HANDLE_EOF;
    }

    bool WriteAt(std::uint64_t offset, const void* bytes, std::uint32_t size, std::uint32_t& written) override {
        OVERLAPPED position = At(offset);
        DWORD done = 0;
        const bool ok = ::WriteFile(file_, bytes, size, &done, &position) != FALSE;
        written = done;
        return ok;
    }

    bool Truncate(std::uint64_t size) override {
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(size);
        return ::SetFilePointerEx(file_, end, nullptr, FILE_BEGIN) != FALSE && ::SetEndOfFile(file_) != FALSE;
    }

    bool Size(std::uint64_t& size) override {
        LARGE_INTEGER found;
        if (::GetFileSizeEx(file_, &found) == FALSE) return false;
        size = static_cast<std::uint64_t>(found.QuadPart);
        return true;
    }

    bool Flush() override { return ::FlushFileBuffers(file_) != FALSE; }

private:
    HANDLE file_;
};

class WindowsLogFiles final : public LogFileFacility {
public:
    std::unique_ptr<LogFile> Open(std::wstring_view fileName) override {
        const std::wstring name(fileName);
        const HANDLE file = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return nullptr;
        return std::make_unique<WindowsLogFile>(file);
    }
};

}  // namespace

template <>
LogFileFacility& DefaultFacility<LogFileFacility>() {
    static WindowsLogFiles files;
    return files;
}

}  // namespace kairovel::platform
