// The host's systemd, reached over D-Bus with sd-bus: the calls of its
// manager interface that the service manager facility is made of.
//
// Root talks to systemd directly on its private socket, which needs no bus
// daemon; anyone else goes through the system bus, where systemd lets an
// unprivileged caller read a unit's state and nothing more. Every call gives
// ERROR_SUCCESS or the Windows code that says best why systemd refused it.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

struct sd_bus;

namespace kairovel::platform::scm {

// What systemd says of one unit.
struct UnitState {
    std::string loadState;      // "loaded", "not-found", "masked", ...
    std::string activeState;    // "active", "activating", "deactivating", "reloading", "inactive", "failed"
    std::string subState;       // "running", "auto-restart", "dead", ...
    std::string unitFileState;  // "enabled", "disabled", "masked", ... or empty without a file
    std::string fragmentPath;   // the unit file, empty when there is none
    std::string result;         // how the last run ended: "success", "exit-code", "signal", "start-limit-hit", ...
    std::uint32_t mainPid = 0;  // the main process while it runs
    std::uint32_t execMainPid = 0;  // the last main process, also after it ended
    std::int32_t execMainStatus = 0;  // its exit status (203: it could not be executed)
    bool jobPending = false;          // a start or stop of it is queued or under way

    // Whether the unit runs or is on its way up or down.
    bool IsActive() const { return activeState != "inactive" && activeState != "failed"; }
};

class SystemdBus {
public:
    SystemdBus() = default;
    ~SystemdBus();
    SystemdBus(const SystemdBus&) = delete;
    SystemdBus& operator=(const SystemdBus&) = delete;

    // Connects, once; RPC_S_SERVER_UNAVAILABLE where systemd is not the init system.
    std::uint32_t Connect();

    std::uint32_t Unit(const std::string& unitName, UnitState& state);
    std::uint32_t Start(const std::string& unitName);
    std::uint32_t Stop(const std::string& unitName);
    // Enabling and disabling change the unit's links, which a Reload makes systemd read.
    std::uint32_t Enable(const std::string& unitName);
    std::uint32_t Disable(const std::string& unitName);
    std::uint32_t Reload();

private:
    std::uint32_t CallJob(const char* method, const std::string& unitName);

    std::mutex mutex_;  // sd-bus objects are not for two threads at once
    sd_bus* bus_ = nullptr;
};

}  // namespace kairovel::platform::scm
