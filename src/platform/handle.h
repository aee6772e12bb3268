// Handles to the platform's objects: threads, events, access tokens.
//
// As on Windows, an object is reached through an opaque HANDLE that its
// creating call hands out and CloseHandle gives back. Every kind of object
// derives from HandleObject, so one CloseHandle serves them all and a call
// given a handle of the wrong kind can tell and fail with
// ERROR_INVALID_HANDLE instead of misusing it.
#pragma once

namespace kairovel::platform {

class HandleObject {
public:
    virtual ~HandleObject() = default;

protected:
    HandleObject() = default;
    HandleObject(const HandleObject&) = default;
    HandleObject& operator=(const HandleObject&) = default;
};

using HANDLE = HandleObject*;

// Releases the handle; the object lives on while anything else still uses it
// (a running thread outlives the handle to it). A null handle fails with
// ERROR_INVALID_HANDLE.
bool CloseHandle(HANDLE handle);

// The object behind a handle as the kind a call expects, or null (with
// ERROR_INVALID_HANDLE as last error) when the handle is null or of another kind.
template <class Object>
Object* HandleAs(HANDLE handle);

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

#include "platform/last_error.h"
#include "platform/win_types.h"

namespace kairovel::platform {

template <class Object>
Object* HandleAs(HANDLE handle) {
    auto* object = dynamic_cast<Object*>(handle);
    if (object == nullptr) SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

}  // namespace kairovel::platform
