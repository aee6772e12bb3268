// Console output on the process's file descriptors 1 and 2.
#include "platform/console.h"

#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>

#include "platform/codepage.h"

namespace kairovel::platform {
namespace {

class PosixConsole final : public ConsoleFacility {
public:
    void WriteStandardOutput(std::wstring_view text) override { WriteAll(STDOUT_FILENO, text); }
    void WriteStandardError(std::wstring_view text) override { WriteAll(STDERR_FILENO, text); }

private:
    void WriteAll(int descriptor, std::wstring_view text) {
        const std::string bytes = WideToAnsi(text);
        const std::lock_guard<std::mutex> lock(mutex_);
        std::size_t written = 0;
        while (written < bytes.size()) {
            const ssize_t n = ::write(descriptor, bytes.data() + written, bytes.size() - written);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;  // a closed or broken stream loses the text, as a console would
            written += static_cast<std::size_t>(n);
        }
    }

    std::mutex mutex_;
};

}  // namespace

template <>
ConsoleFacility& DefaultFacility<ConsoleFacility>() {
    static PosixConsole console;
    return console;
}

}  // namespace kairovel::platform
