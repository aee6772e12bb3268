// The controls a service is sent, in one table: what each one's code is, the
// bit by which a service says it takes it, the right a caller needs to send
// it, what the service does on it, and the companion command's word for it.
// The service's handler, the control manager on Linux, its status mapping and
// kairovel-sc read it, so that a control is added in one place.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "platform/service_manager.h"
#include "platform/service_types.h"

namespace kairovel::platform {

// What the service does on a control.
enum class ControlAction {
    Stop,      // reports a stop pending, then stops
    ShutDown,  // the system is going down: stops without a report of its own
    Pause,     // holds the scheduler: no pass starts
    Continue,  // lets the scheduler go on
    Report,    // reports its state again, and nothing else
};

struct ServiceControl {
    std::uint32_t code;             // SERVICE_CONTROL_...
    std::uint32_t acceptedWith;     // the SERVICE_ACCEPT_... bit it needs; 0: always taken
    std::uint32_t neededAccess;     // the service right its sender needs; 0: only the system sends it
    ControlAction action;
    std::string_view commandWord;   // kairovel-sc's command for it; empty: none
};

inline constexpr std::array<ServiceControl, 5> kServiceControls = {{
    {SERVICE_CONTROL_STOP, SERVICE_ACCEPT_STOP, SERVICE_STOP, ControlAction::Stop, "stop"},
    {SERVICE_CONTROL_PAUSE, SERVICE_ACCEPT_PAUSE_CONTINUE, SERVICE_PAUSE_CONTINUE, ControlAction::Pause, "pause"},
    {SERVICE_CONTROL_CONTINUE, SERVICE_ACCEPT_PAUSE_CONTINUE, SERVICE_PAUSE_CONTINUE, ControlAction::Continue,
     "continue"},
    {SERVICE_CONTROL_INTERROGATE, 0, SERVICE_INTERROGATE, ControlAction::Report, "interrogate"},
    {SERVICE_CONTROL_SHUTDOWN, SERVICE_ACCEPT_SHUTDOWN, 0, ControlAction::ShutDown, ""},
}};

// A service's own controls (128 to 255): it takes them whatever it accepts,
// and reports its state on them.
inline constexpr ServiceControl kUserControl = {0, 0, SERVICE_USER_DEFINED_CONTROL, ControlAction::Report, ""};

// The entry of a control code, kUserControl for one of the service's own;
// null for any other code.
constexpr const ServiceControl* FindServiceControl(std::uint32_t code) {
    for (const ServiceControl& control : kServiceControls) {
        if (control.code == code) return &control;
    }
    return code >= kFirstUserControl && code <= kLastUserControl ? &kUserControl : nullptr;
}

// Every control a service that takes all of the table's accepts.
constexpr std::uint32_t AllAcceptedControls() {
    std::uint32_t bits = 0;
    for (const ServiceControl& control : kServiceControls) bits |= control.acceptedWith;
    return bits;
}

}  // namespace kairovel::platform
