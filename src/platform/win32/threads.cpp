// Threads and events on Windows: the system's own. A thread's routine is
// started through a trampoline of the run-time library's thread start
// (_beginthreadex, unsigned __stdcall), which owns the routine. Suspension is
// the system's, which stops a thread wherever it is, so a suspension point has
// nothing to do here.
#include <process.h>
#include <windows.h>

#include <exception>
#include <memory>

#include "platform/interface/threads.h"

namespace kairovel::platform {
namespace {

unsigned __stdcall StartRoutine(void* context) {
    const std::unique_ptr<ThreadRoutine> routine(static_cast<ThreadRoutine*>(context));
    try {
        return (*routine)();
    } catch (...) {
        std::terminate();  // as an unhandled exception ends a thread's process on Windows
    }
}

class WindowsThreads final : public ThreadsFacility {
public:
    HANDLE CreateThread(ThreadRoutine routine) override {
        auto owned = std::make_unique<ThreadRoutine>(std::move(routine));
        const std::uintptr_t thread = ::_beginthreadex(nullptr, 0, &StartRoutine, owned.get(), 0, nullptr);
        if (thread == 0) return nullptr;
        owned.release();  // the thread has it now
        return reinterpret_cast<HANDLE>(thread);
    }

    std::uint32_t SuspendThread(HANDLE thread) override { return ::SuspendThread(thread); }
    std::uint32_t ResumeThread(HANDLE thread) override { return ::ResumeThread(thread); }

    bool GetExitCodeThread(HANDLE thread, std::uint32_t& exitCode) override {
        DWORD code = 0;
        if (!::GetExitCodeThread(thread, &code)) return false;
        exitCode = code;
        return true;
    }

    HANDLE CreateEventW(bool manualReset, bool initialState, const wchar_t* name) override {
        return ::CreateEventW(nullptr, manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE, name);
    }
    bool SetEvent(HANDLE event) override { return ::SetEvent(event) != FALSE; }
    bool ResetEvent(HANDLE event) override { return ::ResetEvent(event) != FALSE; }
    std::uint32_t WaitForSingleObject(HANDLE object, std::uint32_t milliseconds) override {
        return ::WaitForSingleObject(object, milliseconds);
    }
};

}  // namespace

template <>
ThreadsFacility& DefaultFacility<ThreadsFacility>() {
    static WindowsThreads threads;
    return threads;
}

SuspendableCall::SuspendableCall() = default;
SuspendableCall::~SuspendableCall() = default;

void SuspensionPoint() {}

}  // namespace kairovel::platform
