// Threads and events: starting threads, suspending and resuming them, reading
// their exit codes, and the manual- or auto-reset events threads signal each
// other with.
//
// Suspension is cooperative: a thread is only ever held at a suspension point,
// which is the beginning and the end of a suspendable call (the clock
// facility's Sleep, WaitForSingleObject) and the start of its routine. While
// it is inside such a call, or not yet started, it runs none of the program's
// code, so it counts as stopped. SuspendThread marks the thread and returns
// once it is stopped, so that, as on Windows, the thread does nothing after
// SuspendThread has returned: a thread between two calls is let run to the
// next one (waited for at most kSuspendSettleMilliseconds; a thread that runs
// longer without one is held at its next suspension point). A suspended
// thread is held for as long as it stays suspended, and a sleep it was in
// never ends earlier than planned. A thread the program pauses (the scheduler)
// spends its life sleeping, so it stops where Windows would stop it. On
// Windows suspension is the system's own, which stops a thread wherever it
// is, so there the suspension points have nothing to do.
//
// This is the facility without its constants, for the Windows backend beside
// windows.h; platform/threads.h adds them under their Windows names.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/facility.h"
#include "platform/interface/kernel_object.h"

namespace kairovel::platform {

inline constexpr std::uint32_t kSuspendCountFailed = 0xFFFF'FFFF;  // (DWORD)-1 of Suspend/ResumeThread
// How long SuspendThread waits for a running thread to reach a suspendable call.
inline constexpr std::uint32_t kSuspendSettleMilliseconds = 2000;

// The body of a thread; what it returns becomes the thread's exit code. An
// exception that escapes it ends the process, as an unhandled one does on Windows.
// On Windows the run-time library's thread start (unsigned __stdcall of void*)
// calls a trampoline that owns the routine and runs it.
using ThreadRoutine = std::function<std::uint32_t()>;

class ThreadsFacility {
public:
    virtual ~ThreadsFacility() = default;

    // Starts routine on a new thread and returns a handle to it, or null with
    // the last error set when no thread can be started.
    virtual HANDLE CreateThread(ThreadRoutine routine) = 0;
    // Both return the suspend count before the call, or kSuspendCountFailed.
    // SuspendThread returns once the thread is stopped (see above).
    virtual std::uint32_t SuspendThread(HANDLE thread) = 0;
    virtual std::uint32_t ResumeThread(HANDLE thread) = 0;
    // STILL_ACTIVE while the thread runs, then what its routine returned.
    virtual bool GetExitCodeThread(HANDLE thread, std::uint32_t& exitCode) = 0;

    // A named event is shared by every CreateEventW of that name in the process
    // (the later calls leave ERROR_ALREADY_EXISTS as last error); null: unnamed.
    virtual HANDLE CreateEventW(bool manualReset, bool initialState, const wchar_t* name) = 0;
    virtual bool SetEvent(HANDLE event) = 0;
    virtual bool ResetEvent(HANDLE event) = 0;
    // Waits for an event to be signalled or a thread to end: WAIT_OBJECT_0,
    // WAIT_TIMEOUT after the given milliseconds of the machine's monotonic
    // time (INFINITE: no limit), or WAIT_FAILED for a handle of another kind.
    // A suspendable call.
    virtual std::uint32_t WaitForSingleObject(HANDLE object, std::uint32_t milliseconds) = 0;
};

template <>
ThreadsFacility& DefaultFacility<ThreadsFacility>();

inline ThreadsFacility& Threads() { return Facility<ThreadsFacility>::Get(); }

// Brackets a blocking call of the calling thread as suspendable: a suspension
// point as it begins and as it ends, and the thread counts as stopped in
// between. Every backend of the clock facility makes its Sleep one. Threads not
// started through CreateThread are never held.
class SuspendableCall {
public:
    SuspendableCall();
    ~SuspendableCall();
    SuspendableCall(const SuspendableCall&) = delete;
    SuspendableCall& operator=(const SuspendableCall&) = delete;
};

// Holds the calling thread while it is suspended: a suspension point of its own.
void SuspensionPoint();

}  // namespace kairovel::platform
