// The process's one table of kernel-object handles.
#include "platform/posix/kernel_objects.h"

#include "platform/posix/handle_table.h"

namespace kairovel::platform {
namespace {

HandleTable<HandleObject>& KernelObjects() {
    static HandleTable<HandleObject> table;
    return table;
}

}  // namespace

HANDLE AddHandle(std::shared_ptr<HandleObject> object) { return KernelObjects().Add(std::move(object)); }

std::shared_ptr<HandleObject> FindHandle(HANDLE handle) { return KernelObjects().Find(handle); }

bool CloseHandle(HANDLE handle) {
    if (KernelObjects().Remove(handle) == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return true;
}

}  // namespace kairovel::platform
