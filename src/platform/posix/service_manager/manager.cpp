#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/last_error.h"
#include "platform/posix/ascii_case.h"
#include "platform/posix/service_manager/protocol.h"
#include "platform/posix/service_manager/service_entries.h"
#include "platform/posix/service_manager/service_files.h"
#include "platform/posix/service_manager/service_process.h"
#include "platform/posix/service_manager/service_state.h"
#include "platform/posix/service_manager/stand_in_manager.h"
#include "platform/win_types.h"

extern char** environ;

namespace kairovel::platform::scm {

struct StandInServiceManager::OpenObject {
    bool isManager = false;
    std::uint32_t access = 0;
    std::wstring name;  // of a service, as the caller spelt it
    std::uint32_t type = 0;
    std::unique_ptr<FileLock> handle;  // counts this handle among the service's open ones
};

namespace {

constexpr std::wstring_view kActiveDatabase = L"ServicesActive";
constexpr std::uint32_t GENERIC_READ = 0x80000000;
// What a user who is no administrator may ask for, as Windows grants it.
constexpr std::uint32_t kUserManagerRights =
    SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS | READ_CONTROL_RIGHT | GENERIC_READ;
constexpr std::uint32_t kUserServiceRights = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS |
                                             SERVICE_ENUMERATE_DEPENDENTS | SERVICE_INTERROGATE |
                                             SERVICE_USER_DEFINED_CONTROL | READ_CONTROL_RIGHT | GENERIC_READ;
constexpr std::uint32_t kStartWaitHintMilliseconds = 2000;
constexpr char kServicePath[] = "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
constexpr std::string_view kSettingsPrefix = "KAIROVEL_";

bool IsAdministrator() { return ::geteuid() == 0; }

template <class Result>
Result Fail(std::uint32_t code, Result result) {
    SetLastError(code);
    return result;
}

SC_HANDLE FailHandle(std::uint32_t code) { return Fail(code, SC_HANDLE{}); }
bool FailCall(std::uint32_t code) { return Fail(code, false); }

bool IsActiveDatabase(const wchar_t* database) {
    return database == nullptr || EqualsIgnoringAsciiCase(database, kActiveDatabase);
}

bool IsEmpty(const wchar_t* text) { return text == nullptr || *text == L'\0'; }

// The settings of the stand-ins that the creating command runs with, which its service keeps.
std::vector<std::wstring> CallersSettings() {
    std::vector<std::wstring> settings;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        if (text.starts_with(kSettingsPrefix) && !text.starts_with(kChannelVariable)) settings.push_back(AnsiToWide(text));
    }
    return settings;
}

// The program of an image path: the whole text, or the text in quotation marks.
std::filesystem::path ProgramOf(std::wstring_view imagePath) {
    if (imagePath.size() >= 2 && imagePath.front() == L'"') {
        const std::size_t close = imagePath.find(L'"', 1);
        imagePath = imagePath.substr(1, close == std::wstring_view::npos ? close : close - 1);
    }
    return WideToAnsi(imagePath);
}

std::uint32_t AccessForControl(std::uint32_t control) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
            return SERVICE_STOP;
        case SERVICE_CONTROL_PAUSE:
        case SERVICE_CONTROL_CONTINUE:
            return SERVICE_PAUSE_CONTINUE;
        case SERVICE_CONTROL_INTERROGATE:
            return SERVICE_INTERROGATE;
        default:
            return control >= kFirstUserControl && control <= kLastUserControl ? SERVICE_USER_DEFINED_CONTROL : 0;
    }
}

}  // namespace

StandInServiceManager::StandInServiceManager(ManagerTimeouts timeouts) : timeouts_(timeouts) {}
StandInServiceManager::~StandInServiceManager() = default;

SC_HANDLE StandInServiceManager::OpenSCManagerW(const wchar_t* machine, const wchar_t* database,
                                                std::uint32_t access) {
    if (!IsEmpty(machine)) return FailHandle(ERROR_NOT_SUPPORTED);  // no remote managers
    if (!IsActiveDatabase(database)) return FailHandle(ERROR_INVALID_PARAMETER);
    if (!IsAdministrator() && (access & ~kUserManagerRights) != 0) return FailHandle(ERROR_ACCESS_DENIED);
    auto manager = std::make_shared<OpenObject>();
    manager->isManager = true;
    manager->access = access;
    return TypedHandle<ServiceHandleKind>(handles_.Add(std::move(manager)));
}

SC_HANDLE StandInServiceManager::OpenHandle(std::wstring_view name, std::uint32_t access) {
    ServiceEntry entry;
    std::uint32_t status = ReadEntry(name, entry);
    if (status == ERROR_SUCCESS && entry.markedForDeletion) {
        DeleteIfDue(name);  // it may have become due while nobody looked: a crash, the last handle of a process that ended
        status = ReadEntry(name, entry);
    }
    if (status != ERROR_SUCCESS) return FailHandle(status);
    auto service = std::make_shared<OpenObject>();
    service->access = access;
    service->name = name;
    service->type = entry.type;
    service->handle = std::make_unique<FileLock>(ServiceFolder(name).HandlesFile(), FileLock::Mode::Shared);
    return TypedHandle<ServiceHandleKind>(handles_.Add(std::move(service)));
}

SC_HANDLE StandInServiceManager::CreateServiceW(SC_HANDLE managerHandle, const wchar_t* serviceName,
                                                const wchar_t* displayName, std::uint32_t access,
                                                std::uint32_t serviceType, std::uint32_t startType,
                                                std::uint32_t errorControl, const wchar_t* binaryPathName,
                                                const wchar_t* loadOrderGroup, std::uint32_t* tagId,
                                                const wchar_t* dependencies, const wchar_t* serviceStartName,
                                                const wchar_t* password) {
    const std::shared_ptr<OpenObject> manager = handles_.Find(TableHandle(managerHandle));
    if (manager == nullptr || !manager->isManager) return FailHandle(ERROR_INVALID_HANDLE);
    if ((manager->access & SC_MANAGER_CREATE_SERVICE) == 0) return FailHandle(ERROR_ACCESS_DENIED);
    if (serviceName == nullptr || !IsValidServiceName(serviceName)) return FailHandle(ERROR_INVALID_NAME);
    const std::uint32_t processType = serviceType & ~SERVICE_INTERACTIVE_PROCESS;
    if (processType != SERVICE_WIN32_OWN_PROCESS && processType != SERVICE_WIN32_SHARE_PROCESS) {
        return FailHandle(ERROR_INVALID_PARAMETER);
    }
    if (startType < SERVICE_AUTO_START || startType > SERVICE_DISABLED) return FailHandle(ERROR_INVALID_PARAMETER);
    if (errorControl > SERVICE_ERROR_CRITICAL || IsEmpty(binaryPathName) || tagId != nullptr) {
        return FailHandle(ERROR_INVALID_PARAMETER);
    }
    // The stand-in runs one service a process, as the local system, in no group and after nothing.
    if (processType != SERVICE_WIN32_OWN_PROCESS || !IsEmpty(loadOrderGroup) || !IsEmpty(dependencies) ||
        !IsEmpty(serviceStartName) || !IsEmpty(password)) {
        return FailHandle(ERROR_NOT_SUPPORTED);
    }

    const ServiceFolder folder(serviceName);
    if (!folder.Prepare()) return SC_HANDLE{};
    {
        const FileLock changing(folder.LockFile(), FileLock::Mode::Exclusive);
        if (!changing.held()) return FailHandle(changing.error());
        ServiceEntry existing;
        const std::uint32_t found = ReadEntry(serviceName, existing);
        if (found == ERROR_SUCCESS) return FailHandle(existing.markedForDeletion ? ERROR_SERVICE_MARKED_FOR_DELETE
                                                                                 : ERROR_SERVICE_EXISTS);
        if (found != ERROR_SERVICE_DOES_NOT_EXIST) return FailHandle(found);
        ServiceEntry entry;
        entry.displayName = IsEmpty(displayName) ? serviceName : displayName;
        entry.type = serviceType;
        entry.startType = startType;
        entry.errorControl = errorControl;
        entry.imagePath = binaryPathName;
        entry.account = L"LocalSystem";
        entry.environment = CallersSettings();
        RemoveRunRecord(folder);  // what an earlier service of this name left
        if (const std::uint32_t status = WriteEntry(serviceName, entry); status != ERROR_SUCCESS) {
            RemoveEntry(serviceName);
            return FailHandle(status);
        }
    }
    return OpenHandle(serviceName, access);
}

SC_HANDLE StandInServiceManager::OpenServiceW(SC_HANDLE managerHandle, const wchar_t* serviceName,
                                              std::uint32_t access) {
    const std::shared_ptr<OpenObject> manager = handles_.Find(TableHandle(managerHandle));
    if (manager == nullptr || !manager->isManager) return FailHandle(ERROR_INVALID_HANDLE);
    if (serviceName == nullptr) return FailHandle(ERROR_INVALID_PARAMETER);
    if (!IsValidServiceName(serviceName)) return FailHandle(ERROR_INVALID_NAME);
    if (!IsAdministrator() && (access & ~kUserServiceRights) != 0) return FailHandle(ERROR_ACCESS_DENIED);
    return OpenHandle(serviceName, access);
}

std::shared_ptr<StandInServiceManager::OpenObject> StandInServiceManager::FindService(SC_HANDLE handle,
                                                                                     std::uint32_t neededAccess) {
    std::shared_ptr<OpenObject> service = handles_.Find(TableHandle(handle));
    if (service == nullptr || service->isManager) return Fail(ERROR_INVALID_HANDLE, std::shared_ptr<OpenObject>{});
    if ((service->access & neededAccess) != neededAccess) return Fail(ERROR_ACCESS_DENIED, std::shared_ptr<OpenObject>{});
    return service;
}

bool StandInServiceManager::StartServiceW(SC_HANDLE handle, std::uint32_t argumentCount, const wchar_t** arguments) {
    const std::shared_ptr<OpenObject> service = FindService(handle, SERVICE_START);
    if (service == nullptr) return false;
    if (argumentCount > 0 && arguments == nullptr) return FailCall(ERROR_INVALID_PARAMETER);
    StartRequest request;
    request.arguments.push_back(service->name);
    for (std::uint32_t i = 0; i < argumentCount; ++i) {
        if (arguments[i] == nullptr) return FailCall(ERROR_INVALID_PARAMETER);
        request.arguments.emplace_back(arguments[i]);
    }

    const ServiceFolder folder(service->name);
    const FileLock changing(folder.LockFile(), FileLock::Mode::Exclusive);
    if (!changing.held()) return FailCall(changing.error());
    ServiceEntry entry;
    if (const std::uint32_t status = ReadEntry(service->name, entry); status != ERROR_SUCCESS) return FailCall(status);
    if (entry.markedForDeletion) return FailCall(ERROR_SERVICE_MARKED_FOR_DELETE);
    if (entry.startType == SERVICE_DISABLED) return FailCall(ERROR_SERVICE_DISABLED);
    SERVICE_STATUS current;
    std::optional<RunRecord> previous;
    if (!CurrentStatus(folder, entry.type, current, &previous)) return false;
    if (current.dwCurrentState != SERVICE_STOPPED) return FailCall(ERROR_SERVICE_ALREADY_RUNNING);
    if (previous && !IsRunning(previous->process)) ::unlink(folder.SocketFile(previous->process.pid).c_str());

    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return FailCall(ERROR_NOT_ENOUGH_MEMORY);
    const Descriptor ours(pair[0]);
    const Descriptor theirs(pair[1]);
    Descriptor output;
    if ((entry.type & SERVICE_INTERACTIVE_PROCESS) != 0) {
        output.Reset(CreateFresh(folder.ConsoleFile()));
        if (!output.valid()) return false;
    }
    LaunchRequest launch;
    launch.program = ProgramOf(entry.imagePath);
    launch.environment.emplace_back(kServicePath);
    for (const std::wstring& setting : entry.environment) launch.environment.push_back(WideToAnsi(setting));
    launch.environment.push_back(std::string(kChannelVariable) + "=" + std::to_string(kChannelDescriptor));
    launch.channel = theirs.get();
    launch.output = output.get();
    int pid = 0;
    if (const std::uint32_t status = LaunchDetached(launch, pid); status != ERROR_SUCCESS) return FailCall(status);
    ProcessWatch watch(pid);

    RunRecord record;
    record.status.dwServiceType = entry.type;
    record.status.dwCurrentState = SERVICE_START_PENDING;
    record.status.dwWaitHint = kStartWaitHintMilliseconds;
    // Whatever goes wrong from here, the process does not stay behind.
    const auto abandon = [&](std::uint32_t code) {
        watch.Kill();
        record.status.dwCurrentState = SERVICE_STOPPED;
        record.status.dwWin32ExitCode = code;
        record.status.dwWaitHint = 0;
        WriteRunRecord(folder, record);
        return FailCall(code);
    };
    if (!watch.valid() || !IdentityOf(pid, record.process)) return abandon(ERROR_PROCESS_ABORTED);
    if (!WriteRunRecord(folder, record)) return abandon(GetLastError());

    std::uint32_t error = ERROR_SUCCESS;
    if (!SendMessage(ours.get(), Encode(request), error)) return abandon(error);
    Message message;
    error = ReceiveMessage(ours.get(), message, timeouts_.start, watch.descriptor());
    if (error != ERROR_SUCCESS) return abandon(error);
    StartReply reply;
    if (!Decode(message, reply)) return abandon(ERROR_INVALID_DATA);
    if (reply.error != ERROR_SUCCESS) return abandon(reply.error);
    return true;
}

bool StandInServiceManager::ControlService(SC_HANDLE handle, std::uint32_t control, SERVICE_STATUS& status) {
    const std::uint32_t needed = AccessForControl(control);
    if (needed == 0) return FailCall(ERROR_INVALID_PARAMETER);  // the shut-down control is the system's own
    const std::shared_ptr<OpenObject> service = FindService(handle, needed);
    if (service == nullptr) return false;
    return Deliver(*service, control, status);
}

bool StandInServiceManager::SendShutdown(SC_HANDLE handle, SERVICE_STATUS& status) {
    const std::shared_ptr<OpenObject> service = FindService(handle, SERVICE_QUERY_STATUS);
    if (service == nullptr) return false;
    if (!IsAdministrator()) return FailCall(ERROR_ACCESS_DENIED);
    return Deliver(*service, SERVICE_CONTROL_SHUTDOWN, status);
}

bool StandInServiceManager::Deliver(const OpenObject& service, std::uint32_t control, SERVICE_STATUS& status) {
    const ServiceFolder folder(service.name);
    std::optional<RunRecord> record;
    if (!CurrentStatus(folder, service.type, status, &record)) return false;
    if (const std::uint32_t refusal = ControlRefusal(control, status); refusal != ERROR_SUCCESS) {
        return FailCall(refusal);
    }
    std::uint32_t error = ERROR_SUCCESS;
    const Descriptor connection(ConnectToDispatcher(folder.SocketFile(record->process.pid), error));
    if (!connection.valid()) return FailCall(error);
    Message message;
    if (!SendMessage(connection.get(), Encode(ControlRequest{control}), error)) return FailCall(error);
    error = ReceiveMessage(connection.get(), message, timeouts_.control);
    // The process ended on the way: it has stopped, as the status then says.
    if (error == ERROR_PROCESS_ABORTED) {
        CurrentStatus(folder, service.type, status);
        return FailCall(ERROR_SERVICE_NOT_ACTIVE);
    }
    if (error != ERROR_SUCCESS) return FailCall(error);
    ControlReply reply;
    if (!Decode(message, reply)) return FailCall(ERROR_INVALID_DATA);
    status = reply.status;
    return reply.error == ERROR_SUCCESS ? true : FailCall(reply.error);
}

bool StandInServiceManager::QueryServiceStatus(SC_HANDLE handle, SERVICE_STATUS& status) {
    const std::shared_ptr<OpenObject> service = FindService(handle, SERVICE_QUERY_STATUS);
    return service != nullptr && CurrentStatus(ServiceFolder(service->name), service->type, status);
}

bool StandInServiceManager::QueryServiceConfigW(SC_HANDLE handle, QUERY_SERVICE_CONFIGW& config) {
    const std::shared_ptr<OpenObject> service = FindService(handle, SERVICE_QUERY_CONFIG);
    if (service == nullptr) return false;
    ServiceEntry entry;
    if (const std::uint32_t status = ReadEntry(service->name, entry); status != ERROR_SUCCESS) return FailCall(status);
    config = QUERY_SERVICE_CONFIGW{};
    config.dwServiceType = entry.type;
    config.dwStartType = entry.startType;
    config.dwErrorControl = entry.errorControl;
    config.lpBinaryPathName = entry.imagePath;
    config.lpServiceStartName = entry.account;
    config.lpDisplayName = entry.displayName;
    return true;
}

bool StandInServiceManager::DeleteService(SC_HANDLE handle) {
    const std::shared_ptr<OpenObject> service = FindService(handle, DELETE);
    if (service == nullptr) return false;
    const ServiceFolder folder(service->name);
    {
        const FileLock changing(folder.LockFile(), FileLock::Mode::Exclusive);
        if (!changing.held()) return FailCall(changing.error());
        ServiceEntry entry;
        if (const std::uint32_t status = ReadEntry(service->name, entry); status != ERROR_SUCCESS) {
            return FailCall(status);
        }
        if (entry.markedForDeletion) return FailCall(ERROR_SERVICE_MARKED_FOR_DELETE);
        if (const std::uint32_t status = MarkEntryForDeletion(service->name); status != ERROR_SUCCESS) {
            return FailCall(status);
        }
    }
    return true;
}

bool StandInServiceManager::CloseServiceHandle(SC_HANDLE handle) {
    const std::shared_ptr<OpenObject> closed = handles_.Remove(TableHandle(handle));
    if (closed == nullptr) return FailCall(ERROR_INVALID_HANDLE);
    if (closed->isManager) return true;
    closed->handle.reset();
    ServiceEntry entry;
    if (ReadEntry(closed->name, entry) == ERROR_SUCCESS && entry.markedForDeletion) DeleteIfDue(closed->name);
    return true;
}

}  // namespace kairovel::platform::scm

namespace kairovel::platform {

template <>
ServiceManagerFacility& DefaultFacility<ServiceManagerFacility>() {
    static scm::StandInServiceManager manager;
    return manager;
}

}  // namespace kairovel::platform
