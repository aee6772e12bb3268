// Threads on std::thread, events on condition variables, cooperative suspension.
#include "platform/threads.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "platform/last_error.h"
#include "platform/posix/kernel_objects.h"
#include "platform/win_types.h"

namespace kairovel::platform {
namespace {

// Waits on condition until done() holds, for at most the given milliseconds
// (INFINITE: without limit). Returns whether done() held.
template <class Done>
bool WaitUntil(std::condition_variable& condition, std::unique_lock<std::mutex>& lock, std::uint32_t milliseconds,
               Done done) {
    if (milliseconds == INFINITE) {
        condition.wait(lock, done);
        return true;
    }
    return condition.wait_for(lock, std::chrono::milliseconds(milliseconds), done);
}

// What WaitForSingleObject waits for: a thread's end, an event's signal. A
// waiter holds the state itself, so closing the last handle while another
// thread waits leaves the wait intact.
class Waitable {
public:
    virtual ~Waitable() = default;
    virtual bool Wait(std::uint32_t milliseconds) = 0;
};

// What a running thread and the handles to it share.
struct ThreadRecord final : Waitable {
    bool Wait(std::uint32_t milliseconds) override {
        std::unique_lock<std::mutex> lock(mutex);
        return WaitUntil(changed, lock, milliseconds, [this] { return finished; });
    }

    // Stopped: runs none of the program's code until it passes a suspension point.
    bool Stopped() const { return !started || suspendableDepth > 0 || finished; }

    // Holds the thread while it is suspended; the caller holds the lock.
    void HoldWhileSuspended(std::unique_lock<std::mutex>& lock) {
        changed.wait(lock, [this] { return suspendCount == 0; });
    }

    std::mutex mutex;
    std::condition_variable changed;  // the thread stopped, ended or was resumed
    std::uint32_t suspendCount = 0;
    bool started = false;               // the routine has begun
    std::uint32_t suspendableDepth = 0;  // suspendable calls (and suspension points) the thread is in
    bool finished = false;
    std::uint32_t exitCode = STILL_ACTIVE;
};

// The record of the calling thread, when it was started through CreateThread.
thread_local ThreadRecord* currentThread = nullptr;

struct EventState final : Waitable {
    EventState(bool manual, bool initialState) : manualReset(manual), isSignalled(initialState) {}

    bool Wait(std::uint32_t milliseconds) override {
        std::unique_lock<std::mutex> lock(mutex);
        if (!WaitUntil(becameSignalled, lock, milliseconds, [this] { return isSignalled; })) return false;
        if (!manualReset) isSignalled = false;  // an auto-reset event releases one waiter
        return true;
    }

    void Set(bool signalled) {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            isSignalled = signalled;
        }
        if (signalled) becameSignalled.notify_all();
    }

    std::mutex mutex;
    std::condition_variable becameSignalled;
    const bool manualReset;
    bool isSignalled;
};

// A handle to something waitable.
class WaitableObject : public HandleObject {
public:
    virtual std::shared_ptr<Waitable> Target() const = 0;
};

class ThreadObject final : public WaitableObject {
public:
    explicit ThreadObject(std::shared_ptr<ThreadRecord> record) : record_(std::move(record)) {}
    std::shared_ptr<Waitable> Target() const override { return record_; }
    ThreadRecord& record() { return *record_; }

private:
    std::shared_ptr<ThreadRecord> record_;
};

class EventObject final : public WaitableObject {
public:
    explicit EventObject(std::shared_ptr<EventState> state) : state_(std::move(state)) {}
    std::shared_ptr<Waitable> Target() const override { return state_; }
    EventState& state() { return *state_; }

private:
    std::shared_ptr<EventState> state_;
};

class PosixThreads final : public ThreadsFacility {
public:
    HANDLE CreateThread(ThreadRoutine routine) override {
        auto record = std::make_shared<ThreadRecord>();
        try {
            std::thread([record, body = std::move(routine)] {
                currentThread = record.get();
                {
                    // A thread suspended as it was created runs none of its routine until resumed.
                    std::unique_lock<std::mutex> lock(record->mutex);
                    record->HoldWhileSuspended(lock);
                    record->started = true;
                }
                const std::uint32_t exitCode = body();
                currentThread = nullptr;
                {
                    const std::lock_guard<std::mutex> lock(record->mutex);
                    record->exitCode = exitCode;
                    record->finished = true;
                }
                record->changed.notify_all();
            }).detach();
        } catch (const std::system_error&) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        return AddHandle(std::make_shared<ThreadObject>(std::move(record)));
    }

    std::uint32_t SuspendThread(HANDLE thread) override {
        const auto object = HandleAs<ThreadObject>(thread);
        if (object == nullptr) return kSuspendCountFailed;
        ThreadRecord& record = object->record();
        std::unique_lock<std::mutex> lock(record.mutex);
        if (record.suspendCount >= MAXIMUM_SUSPEND_COUNT) {
            SetLastError(ERROR_SIGNAL_REFUSED);
            return kSuspendCountFailed;
        }
        const std::uint32_t previous = record.suspendCount++;
        // A thread that suspends itself stops at its next suspension point;
        // another runs on to its next suspendable call before this returns.
        if (&record != currentThread) {
            record.changed.wait_for(lock, std::chrono::milliseconds(kSuspendSettleMilliseconds),
                                    [&record] { return record.Stopped(); });
        }
        return previous;
    }

    std::uint32_t ResumeThread(HANDLE thread) override {
        const auto object = HandleAs<ThreadObject>(thread);
        if (object == nullptr) return kSuspendCountFailed;
        ThreadRecord& record = object->record();
        std::uint32_t previous = 0;
        {
            const std::lock_guard<std::mutex> lock(record.mutex);
            previous = record.suspendCount;
            if (record.suspendCount > 0) --record.suspendCount;
        }
        if (previous == 1) record.changed.notify_all();
        return previous;
    }

    bool GetExitCodeThread(HANDLE thread, std::uint32_t& exitCode) override {
        const auto object = HandleAs<ThreadObject>(thread);
        if (object == nullptr) return false;
        ThreadRecord& record = object->record();
        const std::lock_guard<std::mutex> lock(record.mutex);
        exitCode = record.finished ? record.exitCode : STILL_ACTIVE;
        return true;
    }

    HANDLE CreateEventW(bool manualReset, bool initialState, const wchar_t* name) override {
        if (name == nullptr || *name == L'\0') {
            SetLastError(ERROR_SUCCESS);
            return AddHandle(std::make_shared<EventObject>(std::make_shared<EventState>(manualReset, initialState)));
        }
        const std::lock_guard<std::mutex> lock(namesMutex_);
        std::weak_ptr<EventState>& entry = namedEvents_[name];
        if (std::shared_ptr<EventState> existing = entry.lock()) {
            SetLastError(ERROR_ALREADY_EXISTS);
            return AddHandle(std::make_shared<EventObject>(std::move(existing)));
        }
        auto state = std::make_shared<EventState>(manualReset, initialState);
        entry = state;
        SetLastError(ERROR_SUCCESS);
        return AddHandle(std::make_shared<EventObject>(std::move(state)));
    }

    bool SetEvent(HANDLE event) override { return Signal(event, true); }
    bool ResetEvent(HANDLE event) override { return Signal(event, false); }

    std::uint32_t WaitForSingleObject(HANDLE object, std::uint32_t milliseconds) override {
        const auto waitable = HandleAs<WaitableObject>(object);
        if (waitable == nullptr) return WAIT_FAILED;
        const std::shared_ptr<Waitable> target = waitable->Target();
        const SuspendableCall suspendable;
        return target->Wait(milliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    }

private:
    static bool Signal(HANDLE event, bool signalled) {
        const auto object = HandleAs<EventObject>(event);
        if (object == nullptr) return false;
        object->state().Set(signalled);
        return true;
    }

    std::mutex namesMutex_;
    // Names of events that may still exist; an entry whose event is gone is reused.
    std::map<std::wstring, std::weak_ptr<EventState>> namedEvents_;
};

}  // namespace

SuspendableCall::SuspendableCall() {
    ThreadRecord* record = currentThread;
    if (record == nullptr) return;
    std::unique_lock<std::mutex> lock(record->mutex);
    if (record->suspendableDepth++ == 0) record->changed.notify_all();  // a SuspendThread may wait for this
    record->HoldWhileSuspended(lock);
}

SuspendableCall::~SuspendableCall() {
    ThreadRecord* record = currentThread;
    if (record == nullptr) return;
    std::unique_lock<std::mutex> lock(record->mutex);
    record->HoldWhileSuspended(lock);
    --record->suspendableDepth;
}

void SuspensionPoint() { const SuspendableCall point; }

template <>
ThreadsFacility& DefaultFacility<ThreadsFacility>() {
    static PosixThreads threads;
    return threads;
}

}  // namespace kairovel::platform
