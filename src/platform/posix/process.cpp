// The process facility on Linux: /proc/self, setpriority and malloc_trim.
#include "platform/process.h"

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>

#include "platform/codepage.h"
#include "platform/last_error.h"
#include "platform/posix/errors.h"
#include "platform/win_types.h"

namespace kairovel::platform {
namespace {

// Niceness that stands for each Windows priority class; nothing for a value that is none.
std::optional<int> NicenessOf(std::uint32_t priorityClass) {
    switch (priorityClass) {
        case 0x100:  // REALTIME_PRIORITY_CLASS
            return -20;
        case HIGH_PRIORITY_CLASS:
            return -10;
        case 0x8000:  // ABOVE_NORMAL_PRIORITY_CLASS
            return -5;
        case 0x20:  // NORMAL_PRIORITY_CLASS
            return 0;
        case 0x4000:  // BELOW_NORMAL_PRIORITY_CLASS
            return 5;
        case 0x40:  // IDLE_PRIORITY_CLASS
            return 19;
        default:
            return std::nullopt;
    }
}

class PosixProcess final : public ProcessFacility {
public:
    std::wstring GetModuleFileNameW() override {
        std::string path(4096, '\0');
        const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
        if (n <= 0) return {};
        path.resize(static_cast<std::size_t>(n));
        return AnsiToWide(path);
    }

    std::wstring GetCommandLineW() override {
        std::ifstream in("/proc/self/cmdline", std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
        // A program path with blanks in it is put in quotation marks, as Windows shows it.
        const std::size_t programEnd = std::min(bytes.find('\0'), bytes.size());
        if (bytes.find_first_of(" \t") < programEnd) {
            bytes.insert(programEnd, 1, '"');
            bytes.insert(0, 1, '"');
        }
        for (char& c : bytes) {
            if (c == '\0') c = ' ';
        }
        return AnsiToWide(bytes);
    }

    bool SetPriorityClass(std::uint32_t priorityClass) override {
        const std::optional<int> niceness = NicenessOf(priorityClass);
        if (!niceness) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        if (::setpriority(PRIO_PROCESS, 0, *niceness) != 0) {
            SetLastError(WindowsErrorFromErrno(errno));
            return false;
        }
        return true;
    }

    bool SetProcessWorkingSetSize(std::size_t minimum, std::size_t maximum) override {
        if (minimum == kWorkingSetRelease && maximum == kWorkingSetRelease) ::malloc_trim(0);
        return true;
    }
};

}  // namespace

template <>
ProcessFacility& DefaultFacility<ProcessFacility>() {
    static PosixProcess process;
    return process;
}

void ExitProcess(std::uint32_t exitCode) {
    std::fflush(nullptr);
    ::_exit(static_cast<int>(exitCode & 0xFF));  // the low eight bits are what a Linux parent sees
}

}  // namespace kairovel::platform
