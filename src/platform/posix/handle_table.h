// Handles of the Linux stand-ins: opaque numbers that stand for open objects.
//
// A HANDLE given to the program is never a pointer the program could follow:
// it is a number looked up in the table of its kind, so a stale, closed or
// made-up handle is refused with ERROR_INVALID_HANDLE instead of reaching
// freed memory. The objects are shared, so a call that is using an object
// while another thread closes its handle finishes on an object still alive;
// the object goes when the last user lets go of it.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "platform/handle.h"
#include "platform/win_types.h"

namespace kairovel::platform {

// Handle numbers are unique across all tables of the process, multiples of
// four as on Windows, and never 0 or (HANDLE)-1.
std::uintptr_t NextHandleNumber();

template <class Object>
class HandleTable {
public:
    HANDLE Add(std::shared_ptr<Object> object) {
        const std::uintptr_t number = NextHandleNumber();
        const std::lock_guard<std::mutex> lock(mutex_);
        objects_.emplace(number, std::move(object));
        return reinterpret_cast<HANDLE>(number);
    }

    // The object of a handle, or null for a handle that is not open.
    std::shared_ptr<Object> Find(HANDLE handle) {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto found = objects_.find(reinterpret_cast<std::uintptr_t>(handle));
        return found == objects_.end() ? nullptr : found->second;
    }

    // Takes the handle out of the table; null when it was not open.
    std::shared_ptr<Object> Remove(HANDLE handle) {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto found = objects_.find(reinterpret_cast<std::uintptr_t>(handle));
        if (found == objects_.end()) return nullptr;
        std::shared_ptr<Object> object = std::move(found->second);
        objects_.erase(found);
        return object;
    }

private:
    std::mutex mutex_;
    std::map<std::uintptr_t, std::shared_ptr<Object>> objects_;
};

// Typed handles (HKEY, SC_HANDLE) are the same numbers: the table's handle of
// one, and back.
template <class Kind>
HANDLE TableHandle(Handle<Kind> handle) {
    return reinterpret_cast<HANDLE>(handle.value());
}
template <class Kind>
Handle<Kind> TypedHandle(HANDLE handle) {
    return Handle<Kind>{reinterpret_cast<std::uintptr_t>(handle)};
}

}  // namespace kairovel::platform
