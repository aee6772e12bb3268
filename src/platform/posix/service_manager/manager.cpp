// The service control manager on Linux: the host's systemd.
//
// A service entry is a unit file that CreateServiceW writes to
// /etc/systemd/system (unit_file.h) and enables when the service starts
// automatically; StartServiceW and the stop control start and stop the unit;
// the controls systemd has no verb for go to the service's own dispatcher;
// the status is systemd's state of the unit with what the service reported
// (service_state.h); DeleteService disables the unit and removes its file,
// and systemd lets a unit that still runs go once it has stopped, as Windows
// deletes an entry marked for deletion. The unit is also listed for timedated
// (/etc/systemd/ntp-units.d) as the machine's time service, so that
// timedatectl shows it and set-ntp stops and starts it. The calls keep the Windows error
// codes: ERROR_SERVICE_DOES_NOT_EXIST, ERROR_SERVICE_EXISTS,
// ERROR_SERVICE_ALREADY_RUNNING, ERROR_SERVICE_NOT_ACTIVE, ERROR_ACCESS_DENIED
// for a caller who is not root, RPC_S_SERVER_UNAVAILABLE where systemd is not
// the init system (a container), said in words on standard error too.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/codepage.h"
#include "platform/last_error.h"
#include "platform/posix/ascii_case.h"
#include "platform/posix/errors.h"
#include "platform/posix/handle_table.h"
#include "platform/posix/problem_report.h"
#include "platform/posix/service_manager/protocol.h"
#include "platform/posix/service_manager/runtime_folder.h"
#include "platform/posix/service_manager/service_state.h"
#include "platform/posix/service_manager/systemd_bus.h"
#include "platform/posix/service_manager/unit_file.h"
#include "platform/posix/service_manager/unit_name.h"
#include "platform/posix/service_user.h"
#include "platform/posix/state_folder.h"
#include "platform/service_controls.h"
#include "platform/service_manager.h"
#include "platform/settings.h"
#include "platform/win_types.h"

extern char** environ;

namespace kairovel::platform::scm {
namespace {

constexpr std::wstring_view kActiveDatabase = L"ServicesActive";
constexpr std::uint32_t GENERIC_READ = 0x80000000;
// What a user who is no administrator may ask for, as Windows grants it.
constexpr std::uint32_t kUserManagerRights =
    SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS | READ_CONTROL_RIGHT | GENERIC_READ;
constexpr std::uint32_t kUserServiceRights = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS |
                                             SERVICE_ENUMERATE_DEPENDENTS | SERVICE_INTERROGATE |
                                             SERVICE_USER_DEFINED_CONTROL | READ_CONTROL_RIGHT | GENERIC_READ;
constexpr std::string_view kSettingsPrefix = "KAIROVEL_";
constexpr unsigned kUnitFileMode = 0644;
// How long StartServiceW waits for the service to take its start
// parameters, and a control for its answer, as Windows waits for a service.
constexpr std::chrono::seconds kStartWait{30};
constexpr std::chrono::seconds kControlWait{30};
constexpr std::chrono::milliseconds kPoll{20};
constexpr char kDatabaseLock[] = "/run/kairovel-services.lock";
// systemd's exit status of a service whose program could not be executed.
constexpr std::int32_t kExitExec = 203;

struct OpenObject {
    bool isManager = false;
    std::uint32_t access = 0;
    std::shared_ptr<SystemdBus> bus;
    std::wstring name;  // of a service, as the caller spelt it
    std::string stem;
    ServiceUnit unit;   // the entry as it was when the handle was opened
};

template <class Result>
Result Fail(std::uint32_t code, Result result) {
    SetLastError(code);
    return result;
}
SC_HANDLE FailHandle(std::uint32_t code) { return Fail(code, SC_HANDLE{}); }
bool FailCall(std::uint32_t code) { return Fail(code, false); }

bool IsAdministrator() { return ::geteuid() == 0; }
bool IsEmpty(const wchar_t* text) { return text == nullptr || *text == L'\0'; }

// The KAIROVEL_ settings of the creating command, which its service keeps;
// the state folder made absolute, since the service runs in /.
std::vector<std::string> CallersSettings() {
    std::vector<std::string> settings;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text(*entry);
        if (!text.starts_with(kSettingsPrefix)) continue;
        const std::size_t equals = text.find('=');
        if (equals != std::string::npos && text.substr(0, equals) == "KAIROVEL_ROOT" && equals + 1 < text.size()) {
            std::error_code error;
            const std::filesystem::path root = std::filesystem::absolute(text.substr(equals + 1), error);
            if (!error) text = "KAIROVEL_ROOT=" + root.lexically_normal().string();
        }
        settings.push_back(std::move(text));
    }
    return settings;
}

// The entry a unit file of ours holds; nullopt when it holds none.
std::optional<ServiceUnit> ReadUnit(const std::filesystem::path& file) {
    std::optional<std::string> text;
    ServiceUnit unit;
    if (file.empty() || !ReadFile(file, text) || !text || !ParseUnitText(*text, unit)) return std::nullopt;
    return unit;
}

// Writes a new unit file, never over one that is there.
std::uint32_t WriteNewFile(const std::filesystem::path& file, const std::string& text) {
    const Descriptor out(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kUnitFileMode));
    if (!out.valid()) return errno == EEXIST ? ERROR_SERVICE_EXISTS : WindowsErrorFromErrno(errno);
    // The mode whatever the umask.
    const bool modeSet = ::fchmod(out.get(), kUnitFileMode) == 0;
    if (!modeSet) SetLastError(WindowsErrorFromErrno(errno));
    if (modeSet && WriteAll(out.get(), text)) return ERROR_SUCCESS;
    const std::uint32_t code = GetLastError();
    ::unlink(file.c_str());
    return code;
}

// Names the unit for timedated as a time service's, over what an earlier
// one of this name left.
std::uint32_t ListAsTimeService(const std::string& stem) {
    if (::mkdir(kTimeServiceListFolder.c_str(), 0755) != 0 && errno != EEXIST) return WindowsErrorFromErrno(errno);
    const std::filesystem::path file = TimeServiceListFile(stem);
    if (::unlink(file.c_str()) != 0 && errno != ENOENT) return WindowsErrorFromErrno(errno);
    return WriteNewFile(file, "# The time service of kairovel /install, for timedatectl set-ntp.\n" + UnitName(stem) + "\n");
}

// systemd runs the program as root: one that another user could replace
// would run as root whatever they put there. The refusal says why on
// standard error (state_folder.h).
bool OnlyRootCanReplace(std::wstring_view program) {
    std::string problem;
    return CheckTrustedPath(WideToAnsi(program), "the service's program", problem) == ERROR_SUCCESS;
}

// Why a start ended before the service took its start parameters.
std::uint32_t StartFailure(const UnitState& unit, const ServiceUnit& entry) {
    if (unit.result == "start-limit-hit") return ERROR_SERVICE_DISABLED;
    if (unit.execMainStatus == kExitExec) {
        struct stat info {};
        return ::stat(WideToAnsi(entry.binaryPath).c_str(), &info) != 0 ? ERROR_FILE_NOT_FOUND : ERROR_BAD_EXE_FORMAT;
    }
    return ERROR_PROCESS_ABORTED;
}

class SystemdServiceManager final : public ServiceManagerFacility {
public:
    SC_HANDLE OpenSCManagerW(const wchar_t* machine, const wchar_t* database, std::uint32_t access) override {
        if (!IsEmpty(machine)) return FailHandle(ERROR_NOT_SUPPORTED);  // no remote managers
        if (database != nullptr && !EqualsIgnoringAsciiCase(database, kActiveDatabase)) {
            return FailHandle(ERROR_INVALID_PARAMETER);
        }
        if (!IsAdministrator() && (access & ~kUserManagerRights) != 0) {
            ReportProblem("only root may install, remove, start or control the service (a user may query its state)");
            return FailHandle(ERROR_ACCESS_DENIED);
        }
        auto bus = std::make_shared<SystemdBus>();
        if (const std::uint32_t status = bus->Connect(); status != ERROR_SUCCESS) {
            if (status == RPC_S_SERVER_UNAVAILABLE) {
                ReportProblem("systemd is not the init system here, so there is no service manager to install, "
                              "start or control the service with (/immediate and /control=test work without it)");
            }
            return FailHandle(status);
        }
        auto manager = std::make_shared<OpenObject>();
        manager->isManager = true;
        manager->access = access;
        manager->bus = std::move(bus);
        return TypedHandle<ServiceHandleKind>(handles_.Add(std::move(manager)));
    }

    SC_HANDLE CreateServiceW(SC_HANDLE managerHandle, const wchar_t* serviceName, const wchar_t* displayName,
                             std::uint32_t access, std::uint32_t serviceType, std::uint32_t startType,
                             std::uint32_t errorControl, const wchar_t* binaryPathName, const wchar_t* loadOrderGroup,
                             std::uint32_t* tagId, const wchar_t* dependencies, const wchar_t* serviceStartName,
                             const wchar_t* password) override {
        const std::shared_ptr<OpenObject> manager = handles_.Find(TableHandle(managerHandle));
        if (manager == nullptr || !manager->isManager) return FailHandle(ERROR_INVALID_HANDLE);
        if ((manager->access & SC_MANAGER_CREATE_SERVICE) == 0) return FailHandle(ERROR_ACCESS_DENIED);
        if (serviceName == nullptr) return FailHandle(ERROR_INVALID_NAME);
        const std::string stem = UnitStem(serviceName);
        if (stem.empty()) return FailHandle(ERROR_INVALID_NAME);
        const std::uint32_t processType = serviceType & ~SERVICE_INTERACTIVE_PROCESS;
        if (processType != SERVICE_WIN32_OWN_PROCESS && processType != SERVICE_WIN32_SHARE_PROCESS) {
            return FailHandle(ERROR_INVALID_PARAMETER);
        }
        if (startType < SERVICE_AUTO_START || startType > SERVICE_DISABLED) return FailHandle(ERROR_INVALID_PARAMETER);
        if (errorControl > SERVICE_ERROR_CRITICAL || IsEmpty(binaryPathName) || tagId != nullptr) {
            return FailHandle(ERROR_INVALID_PARAMETER);
        }
        // One service a process, as the local system, in no group and after nothing.
        if (processType != SERVICE_WIN32_OWN_PROCESS || !IsEmpty(loadOrderGroup) || !IsEmpty(dependencies) ||
            !IsEmpty(serviceStartName) || !IsEmpty(password)) {
            return FailHandle(ERROR_NOT_SUPPORTED);
        }

        if (!OnlyRootCanReplace(binaryPathName)) return FailHandle(ERROR_ACCESS_DENIED);
        // The service runs as a user of its own, to whom its state folder belongs.
        ServiceUser user;
        if (const std::uint32_t status = MakeServiceUser(user); status != ERROR_SUCCESS) return FailHandle(status);
        if (!ServiceUserMayRun(WideToAnsi(binaryPathName), user)) return FailHandle(ERROR_ACCESS_DENIED);
        UnitState state;
        if (const std::uint32_t status = manager->bus->Unit(UnitName(stem), state); status != ERROR_SUCCESS) {
            return FailHandle(status);
        }
        if (state.loadState != "not-found") return FailHandle(ERROR_SERVICE_EXISTS);
        if (state.IsActive()) return FailHandle(ERROR_SERVICE_MARKED_FOR_DELETE);  // deleted, still running
        ServiceUnit unit;
        unit.serviceName = serviceName;
        unit.displayName = IsEmpty(displayName) ? serviceName : displayName;
        unit.type = serviceType;
        unit.startType = startType;
        unit.errorControl = errorControl;
        unit.binaryPath = binaryPathName;
        unit.environment = CallersSettings();
        const std::optional<std::string> text = UnitText(unit, stem);
        if (!text) return FailHandle(ERROR_INVALID_PARAMETER);
        if (const std::uint32_t status = GiveStateFolder(StateRoot(), user); status != ERROR_SUCCESS) {
            return FailHandle(status);
        }
        if (const std::uint32_t status = WriteNewFile(UnitFile(stem), *text); status != ERROR_SUCCESS) {
            return FailHandle(status);
        }
        RuntimeFolder(stem).Remove();  // what an earlier service of this name left
        std::uint32_t status = ListAsTimeService(stem);
        if (status == ERROR_SUCCESS && startType == SERVICE_AUTO_START) status = manager->bus->Enable(UnitName(stem));
        if (status == ERROR_SUCCESS) status = manager->bus->Reload();
        if (status != ERROR_SUCCESS) {
            // Nothing half-made stays behind.
            manager->bus->Disable(UnitName(stem));
            ::unlink(TimeServiceListFile(stem).c_str());
            ::unlink(UnitFile(stem).c_str());
            manager->bus->Reload();
            return FailHandle(status);
        }
        return OpenHandle(*manager, serviceName, access);
    }

    SC_HANDLE OpenServiceW(SC_HANDLE managerHandle, const wchar_t* serviceName, std::uint32_t access) override {
        const std::shared_ptr<OpenObject> manager = handles_.Find(TableHandle(managerHandle));
        if (manager == nullptr || !manager->isManager) return FailHandle(ERROR_INVALID_HANDLE);
        if (serviceName == nullptr) return FailHandle(ERROR_INVALID_PARAMETER);
        if (!IsAdministrator() && (access & ~kUserServiceRights) != 0) return FailHandle(ERROR_ACCESS_DENIED);
        return OpenHandle(*manager, serviceName, access);
    }

    bool StartServiceW(SC_HANDLE handle, std::uint32_t argumentCount, const wchar_t** arguments) override {
        const std::shared_ptr<OpenObject> service = FindService(handle, SERVICE_START);
        if (service == nullptr) return false;
        if (argumentCount > 0 && arguments == nullptr) return FailCall(ERROR_INVALID_PARAMETER);
        std::vector<std::wstring> parameters = {service->name};
        for (std::uint32_t i = 0; i < argumentCount; ++i) {
            if (arguments[i] == nullptr) return FailCall(ERROR_INVALID_PARAMETER);
            parameters.emplace_back(arguments[i]);
        }
        const std::string unitName = UnitName(service->stem);
        UnitState state;
        if (const std::uint32_t status = service->bus->Unit(unitName, state); status != ERROR_SUCCESS) {
            return FailCall(status);
        }
        if (state.loadState == "not-found") return FailCall(ERROR_SERVICE_MARKED_FOR_DELETE);
        if (state.loadState == "masked" || service->unit.startType == SERVICE_DISABLED) {
            return FailCall(ERROR_SERVICE_DISABLED);
        }
        if (state.IsActive() && state.subState != "auto-restart") return FailCall(ERROR_SERVICE_ALREADY_RUNNING);
        if (!OnlyRootCanReplace(service->unit.binaryPath)) return FailCall(ERROR_ACCESS_DENIED);

        // What root stored since (a reinstallation's parameters) is the service's user's to read and write.
        if (const std::optional<ServiceUser> user = FindServiceUser()) GiveStateFolder(StateRoot(), *user);
        const RuntimeFolder folder(service->stem);
        if (!folder.Prepare() || !WriteStartParameters(folder, parameters)) return false;
        const auto abandon = [&](std::uint32_t code) {
            ::unlink(folder.StartFile().c_str());
            return FailCall(code);
        };
        if (const std::uint32_t status = service->bus->Start(unitName); status != ERROR_SUCCESS) return abandon(status);
        // The start is done once the service has taken its start parameters:
        // its dispatcher runs, as a Windows start returns once it has connected.
        const auto deadline = std::chrono::steady_clock::now() + kStartWait;
        while (std::chrono::steady_clock::now() < deadline) {
            if (::access(folder.StartFile().c_str(), F_OK) != 0) return true;
            if (const std::uint32_t status = service->bus->Unit(unitName, state); status != ERROR_SUCCESS) {
                return abandon(status);
            }
            if (!state.jobPending && (!state.IsActive() || state.subState == "auto-restart")) {
                return abandon(StartFailure(state, service->unit));
            }
            std::this_thread::sleep_for(kPoll);
        }
        return abandon(ERROR_SERVICE_REQUEST_TIMEOUT);
    }

    bool ControlService(SC_HANDLE handle, std::uint32_t control, SERVICE_STATUS& status) override {
        const ServiceControl* entry = FindServiceControl(control);
        const std::uint32_t needed = entry != nullptr ? entry->neededAccess : 0;
        if (needed == 0) return FailCall(ERROR_INVALID_PARAMETER);  // the shut-down control is the system's own
        const std::shared_ptr<OpenObject> service = FindService(handle, needed);
        if (service == nullptr) return false;
        UnitState state;
        if (!CurrentStatus(*service, status, &state)) return false;
        const std::uint32_t refusal = ControlRefusal(control, status);
        if (control == SERVICE_CONTROL_STOP && refusal == ERROR_SERVICE_NOT_ACTIVE && state.IsActive()) {
            service->bus->Stop(UnitName(service->stem));  // no restart after a crash either
        }
        if (refusal != ERROR_SUCCESS) return FailCall(refusal);
        return control == SERVICE_CONTROL_STOP ? Stop(*service, status) : Deliver(*service, control, status);
    }

    bool QueryServiceStatus(SC_HANDLE handle, SERVICE_STATUS& status) override {
        const std::shared_ptr<OpenObject> service = FindService(handle, SERVICE_QUERY_STATUS);
        return service != nullptr && CurrentStatus(*service, status, nullptr);
    }

    bool QueryServiceConfigW(SC_HANDLE handle, QUERY_SERVICE_CONFIGW& config) override {
        const std::shared_ptr<OpenObject> service = FindService(handle, SERVICE_QUERY_CONFIG);
        if (service == nullptr) return false;
        UnitState state;
        if (const std::uint32_t status = service->bus->Unit(UnitName(service->stem), state); status != ERROR_SUCCESS) {
            return FailCall(status);
        }
        const ServiceUnit unit = ReadUnit(state.fragmentPath).value_or(service->unit);
        config = QUERY_SERVICE_CONFIGW{};
        config.dwServiceType = unit.type;
        // Whether it starts with the machine is systemd's to say: an
        // administrator may have enabled, disabled or masked the unit since.
        config.dwStartType = state.unitFileState == "enabled"    ? SERVICE_AUTO_START
                             : state.unitFileState == "disabled" ? SERVICE_DEMAND_START
                             : state.loadState == "masked"       ? SERVICE_DISABLED
                                                                 : unit.startType;
        config.dwErrorControl = unit.errorControl;
        config.lpBinaryPathName = unit.binaryPath;
        config.lpServiceStartName = L"LocalSystem";
        config.lpDisplayName = unit.displayName;
        return true;
    }

    bool DeleteService(SC_HANDLE handle) override {
        const std::shared_ptr<OpenObject> service = FindService(handle, DELETE);
        if (service == nullptr) return false;
        const std::string unitName = UnitName(service->stem);
        if (::access(UnitFile(service->stem).c_str(), F_OK) != 0) return FailCall(ERROR_SERVICE_MARKED_FOR_DELETE);
        std::uint32_t status = service->bus->Disable(unitName);
        if (status == ERROR_SUCCESS && ::unlink(UnitFile(service->stem).c_str()) != 0) {
            status = WindowsErrorFromErrno(errno);
        }
        if (status == ERROR_SUCCESS) ::unlink(TimeServiceListFile(service->stem).c_str());
        if (status == ERROR_SUCCESS) status = service->bus->Reload();
        if (status != ERROR_SUCCESS) return FailCall(status);
        // A stopped service leaves nothing; a running one keeps its folder until the machine stops.
        UnitState state;
        if (service->bus->Unit(unitName, state) == ERROR_SUCCESS && !state.IsActive()) {
            RuntimeFolder(service->stem).Remove();
        }
        return true;
    }

    bool CloseServiceHandle(SC_HANDLE handle) override {
        return handles_.Remove(TableHandle(handle)) != nullptr || FailCall(ERROR_INVALID_HANDLE);
    }

    // systemd has no such lock: it is an flock of a file that only root may
    // open, so no other user can hold it up.
    SC_LOCK LockServiceDatabase(SC_HANDLE managerHandle) override {
        const std::shared_ptr<OpenObject> manager = handles_.Find(TableHandle(managerHandle));
        if (manager == nullptr || !manager->isManager) return Fail(ERROR_INVALID_HANDLE, SC_LOCK{});
        if ((manager->access & SC_MANAGER_LOCK) == 0 || !IsAdministrator()) return Fail(ERROR_ACCESS_DENIED, SC_LOCK{});
        auto lock = std::make_shared<Descriptor>(
            ::open(kDatabaseLock, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR));
        if (!lock->valid()) return Fail(WindowsErrorFromErrno(errno), SC_LOCK{});
        if (::flock(lock->get(), LOCK_EX | LOCK_NB) != 0) {
            return Fail(errno == EWOULDBLOCK ? ERROR_SERVICE_DATABASE_LOCKED : WindowsErrorFromErrno(errno), SC_LOCK{});
        }
        return TypedHandle<ServiceLockKind>(locks_.Add(std::move(lock)));
    }

    bool UnlockServiceDatabase(SC_LOCK lock) override {
        return locks_.Remove(TableHandle(lock)) != nullptr || FailCall(ERROR_INVALID_HANDLE);
    }

private:
    SC_HANDLE OpenHandle(const OpenObject& manager, std::wstring_view name, std::uint32_t access) {
        const std::string stem = UnitStem(name);
        if (stem.empty()) return FailHandle(ERROR_INVALID_NAME);
        UnitState state;
        if (const std::uint32_t status = manager.bus->Unit(UnitName(stem), state); status != ERROR_SUCCESS) {
            return FailHandle(status);
        }
        // A deleted unit stays known to systemd while it still runs.
        if (state.loadState == "not-found" && !state.IsActive()) return FailHandle(ERROR_SERVICE_DOES_NOT_EXIST);
        auto service = std::make_shared<OpenObject>();
        service->access = access;
        service->bus = manager.bus;
        service->name = name;
        service->stem = stem;
        service->unit = ReadUnit(state.fragmentPath).value_or(ServiceUnit{});
        if (service->unit.type == 0) service->unit.type = SERVICE_WIN32_OWN_PROCESS;
        return TypedHandle<ServiceHandleKind>(handles_.Add(std::move(service)));
    }

    std::shared_ptr<OpenObject> FindService(SC_HANDLE handle, std::uint32_t neededAccess) {
        std::shared_ptr<OpenObject> service = handles_.Find(TableHandle(handle));
        if (service == nullptr || service->isManager) return Fail(ERROR_INVALID_HANDLE, std::shared_ptr<OpenObject>{});
        if ((service->access & neededAccess) != neededAccess) {
            return Fail(ERROR_ACCESS_DENIED, std::shared_ptr<OpenObject>{});
        }
        return service;
    }

    bool CurrentStatus(const OpenObject& service, SERVICE_STATUS& status, UnitState* stateOut) {
        UnitState state;
        if (const std::uint32_t code = service.bus->Unit(UnitName(service.stem), state); code != ERROR_SUCCESS) {
            return FailCall(code);
        }
        std::optional<RunRecord> record;
        if (!ReadRunRecord(RuntimeFolder(service.stem), record)) return false;
        status = EffectiveStatus(state, record, service.unit.type);
        if (stateOut != nullptr) *stateOut = state;
        return true;
    }

    // systemd stops the unit with SIGTERM, which the service's dispatcher
    // hands its handler as the stop control; the answer is the status the
    // service reports to it (a stop pending, or stopped already).
    bool Stop(const OpenObject& service, SERVICE_STATUS& status) {
        if (const std::uint32_t code = service.bus->Stop(UnitName(service.stem)); code != ERROR_SUCCESS) {
            return FailCall(code);
        }
        const auto deadline = std::chrono::steady_clock::now() + kControlWait;
        while (std::chrono::steady_clock::now() < deadline) {
            if (!CurrentStatus(service, status, nullptr)) return false;
            if (status.dwCurrentState == SERVICE_STOP_PENDING || status.dwCurrentState == SERVICE_STOPPED) return true;
            std::this_thread::sleep_for(kPoll);
        }
        return FailCall(ERROR_SERVICE_REQUEST_TIMEOUT);
    }

    // Pause, continue, interrogation and the service's own controls, on the dispatcher's socket.
    bool Deliver(const OpenObject& service, std::uint32_t control, SERVICE_STATUS& status) {
        if (!IsAdministrator()) return FailCall(ERROR_ACCESS_DENIED);
        std::uint32_t error = ERROR_SUCCESS;
        const RuntimeFolder folder(service.stem);
        Descriptor connection;
        {
            // Only to the socket the service's user could reach itself.
            const FilesAsStateOwner asOwner(folder.path());
            connection = Descriptor(ConnectToDispatcher(folder.ControlSocket(), error));
        }
        if (!connection.valid()) return FailCall(error);
        Message message;
        if (!SendMessage(connection.get(), Encode(ControlRequest{control}), error)) return FailCall(error);
        error = ReceiveMessage(connection.get(), message, kControlWait);
        // The process ended on the way: it has stopped, as the status then says.
        if (error == ERROR_PROCESS_ABORTED) {
            CurrentStatus(service, status, nullptr);
            return FailCall(ERROR_SERVICE_NOT_ACTIVE);
        }
        if (error != ERROR_SUCCESS) return FailCall(error);
        ControlReply reply;
        if (!Decode(message, reply)) return FailCall(ERROR_INVALID_DATA);
        status = reply.status;
        return reply.error == ERROR_SUCCESS || FailCall(reply.error);
    }

    HandleTable<OpenObject> handles_;
    HandleTable<Descriptor> locks_;
};

}  // namespace
}  // namespace kairovel::platform::scm

namespace kairovel::platform {

template <>
ServiceManagerFacility& DefaultFacility<ServiceManagerFacility>() {
    static scm::SystemdServiceManager manager;
    return manager;
}

}  // namespace kairovel::platform
