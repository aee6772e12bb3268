#include "platform/posix/service_manager/systemd_bus.h"

#include <systemd/sd-bus.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/posix/errors.h"
#include "platform/win_types.h"

namespace kairovel::platform::scm {
namespace {

constexpr char kDestination[] = "org.freedesktop.systemd1";
constexpr char kManagerPath[] = "/org/freedesktop/systemd1";
constexpr char kManagerInterface[] = "org.freedesktop.systemd1.Manager";
constexpr char kUnitInterface[] = "org.freedesktop.systemd1.Unit";
constexpr char kServiceInterface[] = "org.freedesktop.systemd1.Service";
// systemd's own socket for root's clients, which works without a bus daemon.
constexpr char kPrivateSocket[] = "unix:path=/run/systemd/private";

struct ErrorGuard {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    ~ErrorGuard() { sd_bus_error_free(&error); }
};
struct MessageGuard {
    sd_bus_message* message = nullptr;
    ~MessageGuard() { sd_bus_message_unref(message); }
};

// The Windows code for what systemd or the bus answered.
std::uint32_t CodeOf(int result, const sd_bus_error& error) {
    if (result >= 0) return ERROR_SUCCESS;
    if (sd_bus_error_is_set(&error)) {
        if (sd_bus_error_has_names(&error, SD_BUS_ERROR_ACCESS_DENIED, SD_BUS_ERROR_INTERACTIVE_AUTHORIZATION_REQUIRED,
                                   "org.freedesktop.DBus.Error.AuthFailed")) {
            return ERROR_ACCESS_DENIED;
        }
        if (sd_bus_error_has_names(&error, "org.freedesktop.systemd1.NoSuchUnit", "org.freedesktop.systemd1.LoadFailed")) {
            return ERROR_SERVICE_DOES_NOT_EXIST;
        }
        if (sd_bus_error_has_name(&error, "org.freedesktop.systemd1.UnitMasked")) return ERROR_SERVICE_DISABLED;
        if (sd_bus_error_has_name(&error, SD_BUS_ERROR_NO_REPLY)) return ERROR_SERVICE_REQUEST_TIMEOUT;
    }
    return WindowsErrorFromErrno(-result);
}

}  // namespace

SystemdBus::~SystemdBus() { sd_bus_flush_close_unref(bus_); }

std::uint32_t SystemdBus::Connect() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (bus_ != nullptr) return ERROR_SUCCESS;
    if (sd_booted() <= 0) return RPC_S_SERVER_UNAVAILABLE;
    sd_bus* bus = nullptr;
    int result = -EACCES;
    if (::geteuid() == 0 && sd_bus_new(&bus) >= 0) {
        result = sd_bus_set_address(bus, kPrivateSocket);
        if (result >= 0) result = sd_bus_start(bus);
        if (result < 0) bus = sd_bus_flush_close_unref(bus);
    }
    if (result < 0) result = sd_bus_open_system(&bus);
    if (result < 0) return result == -ENOENT || result == -ECONNREFUSED ? RPC_S_SERVER_UNAVAILABLE
                                                                        : WindowsErrorFromErrno(-result);
    bus_ = bus;
    return ERROR_SUCCESS;
}

std::uint32_t SystemdBus::Unit(const std::string& unitName, UnitState& state) {
    const std::lock_guard<std::mutex> lock(mutex_);
    ErrorGuard error;
    MessageGuard reply;
    int result = sd_bus_call_method(bus_, kDestination, kManagerPath, kManagerInterface, "LoadUnit", &error.error,
                                    &reply.message, "s", unitName.c_str());
    if (result < 0) return CodeOf(result, error.error);
    const char* path = nullptr;
    result = sd_bus_message_read(reply.message, "o", &path);
    if (result < 0) return CodeOf(result, error.error);
    const std::string object = path;

    state = UnitState{};
    const auto text = [&](const char* interface, const char* property, std::string& value) {
        char* read = nullptr;
        if (result >= 0) result = sd_bus_get_property_string(bus_, kDestination, object.c_str(), interface, property,
                                                              &error.error, &read);
        if (read != nullptr) value = read;
        std::free(read);
    };
    const auto number = [&](const char* property, char type, auto& value) {
        if (result >= 0) result = sd_bus_get_property_trivial(bus_, kDestination, object.c_str(), kServiceInterface,
                                                               property, &error.error, type, &value);
    };
    text(kUnitInterface, "LoadState", state.loadState);
    text(kUnitInterface, "ActiveState", state.activeState);
    text(kUnitInterface, "SubState", state.subState);
    text(kUnitInterface, "UnitFileState", state.unitFileState);
    text(kUnitInterface, "FragmentPath", state.fragmentPath);
    if (result >= 0) {
        MessageGuard job;
        result = sd_bus_get_property(bus_, kDestination, object.c_str(), kUnitInterface, "Job", &error.error,
                                     &job.message, "(uo)");
        std::uint32_t id = 0;
        const char* jobPath = nullptr;
        if (result >= 0) result = sd_bus_message_read(job.message, "(uo)", &id, &jobPath);
        state.jobPending = id != 0;
    }
    if (result >= 0 && state.loadState != "not-found") {
        text(kServiceInterface, "Result", state.result);
        number("MainPID", 'u', state.mainPid);
        number("ExecMainPID", 'u', state.execMainPid);
        number("ExecMainStatus", 'i', state.execMainStatus);
    }
    return CodeOf(result, error.error);
}

std::uint32_t SystemdBus::CallJob(const char* method, const std::string& unitName) {
    const std::lock_guard<std::mutex> lock(mutex_);
    ErrorGuard error;
    const int result = sd_bus_call_method(bus_, kDestination, kManagerPath, kManagerInterface, method, &error.error,
                                          nullptr, "ss", unitName.c_str(), "replace");
    return CodeOf(result, error.error);
}

std::uint32_t SystemdBus::Start(const std::string& unitName) { return CallJob("StartUnit", unitName); }
std::uint32_t SystemdBus::Stop(const std::string& unitName) { return CallJob("StopUnit", unitName); }

std::uint32_t SystemdBus::Enable(const std::string& unitName) {
    const std::lock_guard<std::mutex> lock(mutex_);
    ErrorGuard error;
    // The unit's file by name, for good (not only until the next boot), replacing a stale link.
    const int result = sd_bus_call_method(bus_, kDestination, kManagerPath, kManagerInterface, "EnableUnitFiles",
                                          &error.error, nullptr, "asbb", 1, unitName.c_str(), 0, 1);
    return CodeOf(result, error.error);
}

std::uint32_t SystemdBus::Disable(const std::string& unitName) {
    const std::lock_guard<std::mutex> lock(mutex_);
    ErrorGuard error;
    const int result = sd_bus_call_method(bus_, kDestination, kManagerPath, kManagerInterface, "DisableUnitFiles",
                                          &error.error, nullptr, "asb", 1, unitName.c_str(), 0);
    return CodeOf(result, error.error);
}

std::uint32_t SystemdBus::Reload() {
    const std::lock_guard<std::mutex> lock(mutex_);
    ErrorGuard error;
    const int result =
        sd_bus_call_method(bus_, kDestination, kManagerPath, kManagerInterface, "Reload", &error.error, nullptr, "");
    return CodeOf(result, error.error);
}

}  // namespace kairovel::platform::scm
