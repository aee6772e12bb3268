// The Linux stand-ins' kernel objects: one table of handles for threads,
// events and access tokens.
//
// A HANDLE is never a pointer the program could follow: it is a number looked
// up in the process's handle table, so a stale, closed or made-up handle is
// refused with ERROR_INVALID_HANDLE instead of reaching freed memory. Objects
// are shared: a call using an object while another thread closes its handle
// finishes on an object still alive, and a running thread outlives the
// handles to it. CloseHandle (platform/kernel_object.h) serves them all.
#pragma once

#include <memory>

#include "platform/kernel_object.h"

namespace kairovel::platform {

// The base of every kind of kernel object, so that one CloseHandle serves them
// all and a call given a handle of the wrong kind can tell.
class HandleObject {
public:
    virtual ~HandleObject() = default;

protected:
    HandleObject() = default;
    HandleObject(const HandleObject&) = default;
    HandleObject& operator=(const HandleObject&) = default;
};

// Enters the object in the handle table and returns its new handle.
HANDLE AddHandle(std::shared_ptr<HandleObject> object);
// The object behind an open handle, or null.
std::shared_ptr<HandleObject> FindHandle(HANDLE handle);

// The object behind a handle as the kind a call expects, or null (with
// ERROR_INVALID_HANDLE as last error) when the handle is not open or is of another kind.
template <class Object>
std::shared_ptr<Object> HandleAs(HANDLE handle) {
    auto object = std::dynamic_pointer_cast<Object>(FindHandle(handle));
    if (object == nullptr) SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

}  // namespace kairovel::platform
