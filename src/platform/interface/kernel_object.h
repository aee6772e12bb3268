// Handles to the system's kernel objects: threads, events, access tokens.
//
// As on Windows, an object is reached through an opaque HANDLE that its
// creating call hands out and CloseHandle gives back. On Windows the handles
// are the system's own; the Linux stand-ins keep a table of their own
// (platform/posix/kernel_objects.h), so that a stale, closed or made-up handle
// is refused with ERROR_INVALID_HANDLE there too.
#pragma once

#include "platform/interface/win_types.h"

namespace kairovel::platform {

// Releases the handle; false with ERROR_INVALID_HANDLE when it is not open.
bool CloseHandle(HANDLE handle);

// Closes a handle when the scope ends, on every way out.
class ScopedHandle {
public:
    explicit ScopedHandle(HANDLE handle = nullptr) : handle_(handle) {}
    ~ScopedHandle() {
        if (handle_ != nullptr) CloseHandle(handle_);
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

}  // namespace kairovel::platform
