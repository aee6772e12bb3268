// The control manager of the Linux stand-in, as far as controlling programs
// need it so far: connecting to it, and finding that it knows no service yet.
#include <memory>
#include <string_view>

#include "platform/last_error.h"
#include "platform/posix/ascii_case.h"
#include "platform/posix/handle_table.h"
#include "platform/service_manager.h"
#include "platform/win_types.h"

namespace kairovel::platform {
namespace {

constexpr std::wstring_view kActiveDatabase = L"ServicesActive";

bool IsActiveDatabase(const wchar_t* database) {
    return database == nullptr || EqualsIgnoringAsciiCase(database, kActiveDatabase);
}

class StandInServiceManager final : public ServiceManagerFacility {
public:
    SC_HANDLE OpenSCManagerW(const wchar_t* machine, const wchar_t* database, std::uint32_t /*access*/) override {
        if (machine != nullptr && *machine != L'\0') return Fail(ERROR_NOT_SUPPORTED);  // no remote managers
        if (!IsActiveDatabase(database)) return Fail(ERROR_INVALID_PARAMETER);
        return TypedHandle<ServiceHandleKind>(managers_.Add(std::make_shared<ManagerConnection>()));
    }

    SC_HANDLE OpenServiceW(SC_HANDLE manager, const wchar_t* serviceName, std::uint32_t /*access*/) override {
        if (!IsManager(manager)) return Fail(ERROR_INVALID_HANDLE);
        if (serviceName == nullptr) return Fail(ERROR_INVALID_PARAMETER);
        return Fail(ERROR_SERVICE_DOES_NOT_EXIST);  // no service is installed with this stand-in yet
    }

    bool QueryServiceStatus(SC_HANDLE /*service*/, SERVICE_STATUS& /*status*/) override {
        SetLastError(ERROR_INVALID_HANDLE);  // no service handle is ever issued
        return false;
    }

    bool CloseServiceHandle(SC_HANDLE handle) override {
        if (managers_.Remove(TableHandle(handle)) != nullptr) return true;
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }

private:
    static SC_HANDLE Fail(std::uint32_t code) {
        SetLastError(code);
        return SC_HANDLE{};
    }

    bool IsManager(SC_HANDLE handle) { return managers_.Find(TableHandle(handle)) != nullptr; }

    // A connection to this manager holds nothing yet: the handle is all there is to it.
    struct ManagerConnection {};
    HandleTable<ManagerConnection> managers_;
};

}  // namespace

template <>
ServiceManagerFacility& DefaultFacility<ServiceManagerFacility>() {
    static StandInServiceManager manager;
    return manager;
}

}  // namespace kairovel::platform
