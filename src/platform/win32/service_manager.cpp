// The service control manager on Windows: each call passes to the real one.
#include <windows.h>

#include <vector>

#include "platform/interface/service_manager.h"
#include "platform/win32/service_status.h"

namespace kairovel::platform {
namespace {

::SC_HANDLE Native(SC_HANDLE handle) { return reinterpret_cast<::SC_HANDLE>(handle.value()); }
SC_HANDLE Ours(::SC_HANDLE handle) { return SC_HANDLE{reinterpret_cast<std::uintptr_t>(handle)}; }

std::wstring Text(const wchar_t* text) { return text != nullptr ? text : L""; }

// A double-null-terminated list (lpDependencies) as one text, the nulls between its names kept.
std::wstring List(const wchar_t* list) {
    if (list == nullptr) return {};
    const wchar_t* end = list;
    while (*end != L'\0') end += wcslen(end) + 1;
    return std::wstring(list, end);
}

// The image path Windows reads as a command line: the executable's path in
// quotation marks when it has blanks and none yet.
std::wstring ImagePath(const wchar_t* path) {
    const std::wstring text = Text(path);
    if (text.find_first_of(L" \t") == std::wstring::npos || text.front() == L'"') return text;
    return L'"' + text + L'"';
}

// The executable's path of an image path that ImagePath quoted.
std::wstring ExecutablePath(const wchar_t* imagePath) {
    const std::wstring text = Text(imagePath);
    if (text.size() >= 2 && text.front() == L'"' && text.back() == L'"') return text.substr(1, text.size() - 2);
    return text;
}

class WindowsServiceManager final : public ServiceManagerFacility {
public:
    SC_HANDLE OpenSCManagerW(const wchar_t* machine, const wchar_t* database, std::uint32_t access) override {
        return Ours(::OpenSCManagerW(machine, database, access));
    }

    SC_HANDLE CreateServiceW(SC_HANDLE manager, const wchar_t* serviceName, const wchar_t* displayName,
                             std::uint32_t access, std::uint32_t serviceType, std::uint32_t startType,
                             std::uint32_t errorControl, const wchar_t* binaryPathName, const wchar_t* loadOrderGroup,
                             std::uint32_t* tagId, const wchar_t* dependencies, const wchar_t* serviceStartName,
                             const wchar_t* password) override {
        DWORD tag = 0;
        const std::wstring imagePath = ImagePath(binaryPathName);
        const ::SC_HANDLE service = ::CreateServiceW(
            Native(manager), serviceName, displayName, access, serviceType, startType, errorControl,
            binaryPathName != nullptr ? imagePath.c_str() : nullptr, loadOrderGroup,
            tagId != nullptr ? &tag : nullptr, dependencies, serviceStartName, password);
        if (service != nullptr && tagId != nullptr) *tagId = tag;
        return Ours(service);
    }

    SC_HANDLE OpenServiceW(SC_HANDLE manager, const wchar_t* serviceName, std::uint32_t access) override {
        return Ours(::OpenServiceW(Native(manager), serviceName, access));
    }

    bool StartServiceW(SC_HANDLE service, std::uint32_t argumentCount, const wchar_t** arguments) override {
        return ::StartServiceW(Native(service), argumentCount, arguments) != FALSE;
    }

    bool ControlService(SC_HANDLE service, std::uint32_t control, SERVICE_STATUS& status) override {
        ::SERVICE_STATUS native{};
        const bool sent = ::ControlService(Native(service), control, &native) != FALSE;
        status = StatusOf(native);  // Windows fills it also for some failures
        return sent;
    }

    bool QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS& status) override {
        ::SERVICE_STATUS native{};
        if (!::QueryServiceStatus(Native(service), &native)) return false;
        status = StatusOf(native);
        return true;
    }

    bool QueryServiceConfigW(SC_HANDLE service, QUERY_SERVICE_CONFIGW& config) override {
        DWORD needed = 0;
        ::QueryServiceConfigW(Native(service), nullptr, 0, &needed);
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
        std::vector<std::uint64_t> buffer((needed + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
        auto* native = reinterpret_cast<::QUERY_SERVICE_CONFIGW*>(buffer.data());
        if (!::QueryServiceConfigW(Native(service), native, needed, &needed)) return false;
        config.dwServiceType = native->dwServiceType;
        config.dwStartType = native->dwStartType;
        config.dwErrorControl = native->dwErrorControl;
        config.lpBinaryPathName = ExecutablePath(native->lpBinaryPathName);
        config.lpLoadOrderGroup = Text(native->lpLoadOrderGroup);
        config.dwTagId = native->dwTagId;
        config.lpDependencies = List(native->lpDependencies);
        config.lpServiceStartName = Text(native->lpServiceStartName);
        config.lpDisplayName = Text(native->lpDisplayName);
        return true;
    }

    bool DeleteService(SC_HANDLE service) override { return ::DeleteService(Native(service)) != FALSE; }

    bool CloseServiceHandle(SC_HANDLE handle) override { return ::CloseServiceHandle(Native(handle)) != FALSE; }

    SC_LOCK LockServiceDatabase(SC_HANDLE manager) override {
        return SC_LOCK{reinterpret_cast<std::uintptr_t>(::LockServiceDatabase(Native(manager)))};
    }

    bool UnlockServiceDatabase(SC_LOCK lock) override {
        return ::UnlockServiceDatabase(reinterpret_cast<::SC_LOCK>(lock.value())) != FALSE;
    }
};

}  // namespace

template <>
ServiceManagerFacility& DefaultFacility<ServiceManagerFacility>() {
    static WindowsServiceManager manager;
    return manager;
}

}  // namespace kairovel::platform
