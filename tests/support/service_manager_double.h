// Test doubles of the service manager and dispatcher facilities, for tests
// that run in-process, without systemd: bases whose every call fails with
// ERROR_CALL_NOT_IMPLEMENTED unless the double overrides it, and a manager
// that keeps its entries in memory.
#pragma once

#include <sys/stat.h>

#include <cwctype>
#include <map>
#include <string>

#include "platform/codepage.h"
#include "platform/last_error.h"
#include "platform/service_dispatcher.h"
#include "platform/service_manager.h"
#include "platform/win_types.h"

namespace kairovel::testing {

class ServiceManagerDouble : public platform::ServiceManagerFacility {
public:
    platform::SC_HANDLE OpenSCManagerW(const wchar_t*, const wchar_t*, std::uint32_t) override { return NoHandle(); }
    platform::SC_HANDLE CreateServiceW(platform::SC_HANDLE, const wchar_t*, const wchar_t*, std::uint32_t,
                                       std::uint32_t, std::uint32_t, std::uint32_t, const wchar_t*, const wchar_t*,
                                       std::uint32_t*, const wchar_t*, const wchar_t*, const wchar_t*) override {
        return NoHandle();
    }
    platform::SC_HANDLE OpenServiceW(platform::SC_HANDLE, const wchar_t*, std::uint32_t) override { return NoHandle(); }
    bool StartServiceW(platform::SC_HANDLE, std::uint32_t, const wchar_t**) override { return No(); }
    bool ControlService(platform::SC_HANDLE, std::uint32_t, platform::SERVICE_STATUS&) override { return No(); }
    bool QueryServiceStatus(platform::SC_HANDLE, platform::SERVICE_STATUS&) override { return No(); }
    bool QueryServiceConfigW(platform::SC_HANDLE, platform::QUERY_SERVICE_CONFIGW&) override { return No(); }
    bool DeleteService(platform::SC_HANDLE) override { return No(); }
    bool CloseServiceHandle(platform::SC_HANDLE) override { return No(); }
    platform::SC_LOCK LockServiceDatabase(platform::SC_HANDLE) override {
        No();
        return platform::SC_LOCK{};
    }
    bool UnlockServiceDatabase(platform::SC_LOCK) override { return No(); }

protected:
    static bool No() {
        platform::SetLastError(platform::ERROR_CALL_NOT_IMPLEMENTED);
        return false;
    }
    static platform::SC_HANDLE NoHandle() {
        No();
        return platform::SC_HANDLE{};
    }
};

class ServiceDispatcherDouble : public platform::ServiceDispatcherFacility {
public:
    bool StartServiceCtrlDispatcherW(const platform::SERVICE_TABLE_ENTRYW*) override {
        platform::SetLastError(platform::ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        return false;
    }
    platform::SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerW(const wchar_t*, platform::LPHANDLER_FUNCTION) override {
        platform::SetLastError(platform::ERROR_SERVICE_DOES_NOT_EXIST);
        return platform::SERVICE_STATUS_HANDLE{};
    }
    bool SetServiceStatus(platform::SERVICE_STATUS_HANDLE, const platform::SERVICE_STATUS&) override {
        platform::SetLastError(platform::ERROR_INVALID_HANDLE);
        return false;
    }
};

// A manager with its entries in memory, names compared without regard to
// case: a start runs nothing, but fails as a real one does for a program
// that is not there. A service may be held in its start, when it takes no stop.
class MemoryServiceManager final : public ServiceManagerDouble {
public:
    void HoldStarts() { holdStarts_ = true; }

    platform::SC_HANDLE OpenSCManagerW(const wchar_t*, const wchar_t*, std::uint32_t) override { return Open(L""); }
    platform::SC_HANDLE CreateServiceW(platform::SC_HANDLE, const wchar_t* name, const wchar_t*, std::uint32_t,
                                       std::uint32_t type, std::uint32_t, std::uint32_t, const wchar_t* program,
                                       const wchar_t*, std::uint32_t*, const wchar_t*, const wchar_t*,
                                       const wchar_t*) override {
        if (!entries_.emplace(Folded(name), Entry{program, type, platform::SERVICE_STOPPED}).second) {
            return Refuse(platform::ERROR_SERVICE_EXISTS);
        }
        return Open(Folded(name));
    }
    platform::SC_HANDLE OpenServiceW(platform::SC_HANDLE, const wchar_t* name, std::uint32_t) override {
        return entries_.contains(Folded(name)) ? Open(Folded(name)) : Refuse(platform::ERROR_SERVICE_DOES_NOT_EXIST);
    }
    bool StartServiceW(platform::SC_HANDLE handle, std::uint32_t, const wchar_t**) override {
        Entry* entry = Find(handle);
        if (entry == nullptr) return false;
        if (entry->state != platform::SERVICE_STOPPED) return Fail(platform::ERROR_SERVICE_ALREADY_RUNNING);
        struct stat info {};
        if (::stat(platform::WideToAnsi(entry->program).c_str(), &info) != 0) return Fail(platform::ERROR_FILE_NOT_FOUND);
        entry->state = holdStarts_ ? platform::SERVICE_START_PENDING : platform::SERVICE_RUNNING;
        return true;
    }
    bool ControlService(platform::SC_HANDLE handle, std::uint32_t control, platform::SERVICE_STATUS& status) override {
        Entry* entry = Find(handle);
        if (entry == nullptr) return false;
        if (entry->state == platform::SERVICE_STOPPED) return Fail(platform::ERROR_SERVICE_NOT_ACTIVE);
        if (entry->state == platform::SERVICE_START_PENDING) return Fail(platform::ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
        if (control == platform::SERVICE_CONTROL_STOP) entry->state = platform::SERVICE_STOPPED;
        return QueryServiceStatus(handle, status);
    }
    bool QueryServiceStatus(platform::SC_HANDLE handle, platform::SERVICE_STATUS& status) override {
        const Entry* entry = Find(handle);
        if (entry == nullptr) return false;
        status = platform::SERVICE_STATUS{};
        status.dwServiceType = entry->type;
        status.dwCurrentState = entry->state;
        return true;
    }
    bool DeleteService(platform::SC_HANDLE handle) override {
        if (Find(handle) == nullptr) return false;
        entries_.erase(handles_[handle.value()]);
        return true;
    }
    bool CloseServiceHandle(platform::SC_HANDLE handle) override {
        return handles_.erase(handle.value()) == 1 || Fail(platform::ERROR_INVALID_HANDLE);
    }
    // One process: the lock is always free.
    platform::SC_LOCK LockServiceDatabase(platform::SC_HANDLE) override { return platform::SC_LOCK{1}; }
    bool UnlockServiceDatabase(platform::SC_LOCK) override { return true; }

private:
    struct Entry {
        std::wstring program;
        std::uint32_t type = 0;
        std::uint32_t state = 0;
    };
    static std::wstring Folded(const wchar_t* name) {
        std::wstring folded = name == nullptr ? L"" : name;
        for (wchar_t& c : folded) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
        return folded;
    }
    static bool Fail(std::uint32_t code) {
        platform::SetLastError(code);
        return false;
    }
    static platform::SC_HANDLE Refuse(std::uint32_t code) {
        Fail(code);
        return platform::SC_HANDLE{};
    }
    platform::SC_HANDLE Open(const std::wstring& name) {
        handles_[next_] = name;
        return platform::SC_HANDLE{next_++};
    }
    Entry* Find(platform::SC_HANDLE handle) {
        const auto open = handles_.find(handle.value());
        const auto entry = open == handles_.end() ? entries_.end() : entries_.find(open->second);
        if (entry == entries_.end()) {
            Fail(platform::ERROR_INVALID_HANDLE);
            return nullptr;
        }
        return &entry->second;
    }

    std::map<std::wstring, Entry> entries_;
    std::map<std::uintptr_t, std::wstring> handles_;
    std::uintptr_t next_ = 4;
    bool holdStarts_ = false;
};

}  // namespace kairovel::testing
