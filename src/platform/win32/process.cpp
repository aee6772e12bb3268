// The running process on Windows: its module, command line, priority and working set.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/interface/process.h"

namespace kairovel::platform {
namespace {

class WindowsProcess final : public ProcessFacility {
public:
    std::wstring GetModuleFileNameW() override {
        std::wstring path(MAX_PATH, L'\0');
        for (;;) {
            const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
            if (length == 0) return {};
            if (length < path.size()) {
                path.resize(length);
                return path;
            }
            path.resize(path.size() * 2);  // cut short: ask again with more room
        }
    }

    std::wstring GetCommandLineW() override { return ::GetCommandLineW(); }

    bool SetPriorityClass(std::uint32_t priorityClass) override {
        return ::SetPriorityClass(::GetCurrentProcess(), priorityClass) != FALSE;
    }

    bool SetProcessWorkingSetSize(std::size_t minimum, std::size_t maximum) override {
        return ::SetProcessWorkingSetSize(::GetCurrentProcess(), minimum, maximum) != FALSE;
    }
};

}  // namespace

template <>
ProcessFacility& DefaultFacility<ProcessFacility>() {
    static WindowsProcess process;
    return process;
}

void ExitProcess(std::uint32_t exitCode) {
    std::fflush(nullptr);
    ::ExitProcess(exitCode);
}

}  // namespace kairovel::platform
