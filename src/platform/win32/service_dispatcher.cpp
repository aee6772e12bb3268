// The service side of the control manager on Windows. The system calls a
// service's main function and its control handler with its own types (VOID
// WINAPI with DWORD and LPWSTR*, DWORD WINAPI for the extended handler), so
// the table and the handler it is given are trampolines that call the
// program's functions.
#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/interface/service_dispatcher.h"
#include "platform/win32/service_status.h"

namespace kairovel::platform {
namespace {

struct TableEntry {
    std::wstring name;
    LPSERVICE_MAIN_FUNCTIONW main;
};

// The running table: written before the dispatcher starts, read by the system's threads.
std::vector<TableEntry>& Table() {
    static std::vector<TableEntry> table;
    return table;
}

VOID WINAPI ServiceMainTrampoline(DWORD argumentCount, LPWSTR* arguments) {
    const std::vector<TableEntry>& table = Table();
    for (const TableEntry& entry : table) {
        if (argumentCount == 0 || table.size() == 1 || ::lstrcmpiW(arguments[0], entry.name.c_str()) == 0) {
            entry.main(argumentCount, arguments);
            return;
        }
    }
}

// The handler a registration calls, kept for the life of the process (a
// service registers once), since the system may call it until the process ends.
struct RegisteredHandler {
    LPHANDLER_FUNCTION handler;
};

DWORD WINAPI HandlerTrampoline(DWORD control, DWORD, LPVOID, LPVOID context) {
    static_cast<RegisteredHandler*>(context)->handler(control);
    return NO_ERROR;
}

class WindowsServiceDispatcher final : public ServiceDispatcherFacility {
public:
    bool StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* serviceTable) override {
        std::vector<::SERVICE_TABLE_ENTRYW> native;
        Table().clear();
        for (const SERVICE_TABLE_ENTRYW* entry = serviceTable; entry->lpServiceName != nullptr; ++entry) {
            Table().push_back({entry->lpServiceName, entry->lpServiceProc});
        }
        for (TableEntry& entry : Table()) native.push_back({entry.name.data(), &ServiceMainTrampoline});
        native.push_back({nullptr, nullptr});
        return ::StartServiceCtrlDispatcherW(native.data()) != FALSE;
    }

    SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerW(const wchar_t* serviceName, LPHANDLER_FUNCTION handler) override {
        auto* registered = new RegisteredHandler{handler};
        const ::SERVICE_STATUS_HANDLE handle = ::RegisterServiceCtrlHandlerExW(serviceName, &HandlerTrampoline, registered);
        if (handle == nullptr) delete registered;
        return SERVICE_STATUS_HANDLE{reinterpret_cast<std::uintptr_t>(handle)};
    }

    bool SetServiceStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS& status) override {
        ::SERVICE_STATUS native = NativeStatus(status);
        return ::SetServiceStatus(reinterpret_cast<::SERVICE_STATUS_HANDLE>(handle.value()), &native) != FALSE;
    }
};

}  // namespace

template <>
ServiceDispatcherFacility& DefaultFacility<ServiceDispatcherFacility>() {
    static WindowsServiceDispatcher dispatcher;
    return dispatcher;
}

}  // namespace kairovel::platform
