#include "shell/service_life.h"

#include <string>

#include "log/logger.h"
#include "platform/last_error.h"
#include "platform/service_dispatcher.h"
#include "log/program_identity.h"

namespace kairovel {
namespace {

// ServiceMain creates the stop event when the service runs; until it exists
// there is nothing to set, and this build has no service run that creates it.
void SetStopEvent() {}

}  // namespace

void StartDispatcher() {
    const std::wstring serviceName(ServiceName);
    const platform::SERVICE_TABLE_ENTRYW serviceTable[] = {
        {serviceName.c_str(), ServiceMain},
        {nullptr, nullptr},
    };
    if (!platform::ServiceDispatcher().StartServiceCtrlDispatcherW(serviceTable)) {
        StopServiceWithError(L"StartServiceCtrlDispatcher failed.");
    }
}

void StopServiceWithError(std::wstring_view text) {
    const std::uint32_t error = platform::GetLastError();  // first, before anything can change it
    Log(CurrentLogger(), LevelError, L"Service was stopped because %s. Error code was %d", text, error);
    SetStopEvent();
}

void ServiceMain(std::uint32_t, wchar_t**) {
    // The service's own life (status reports, stored parameters, the
    // scheduler) is not part of this build: a start ends at once, and says so.
    StopServiceWithError(L"the service life is not part of this build");
}

}  // namespace kairovel
