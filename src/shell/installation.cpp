#include "shell/installation.h"

#include <optional>
#include <string>
#include <vector>

#include "config/registry_store.h"
#include "log/logger.h"
#include "platform/parameter_store.h"
#include "shell/service_control.h"
#include "shell/service_status.h"

namespace kairovel {
namespace {

// What an installation keeps in the registry, as stored, so that a
// reinstallation that cannot store its own can put it back.
class StoredInstallation {
public:
    StoredInstallation() {
        for (const ParameterRow& row : ParameterTable()) Take(parameters_, platform::StoreKey::Parameters, row.name);
        Take(parameters_, platform::StoreKey::Parameters, L"IsInstalled");
        Take(parameters_, platform::StoreKey::Parameters, L"LastAdjustmentValue");
        for (const EventLogRow& row : EventLogTable()) Take(eventLogSource_, platform::StoreKey::EventLogSource, row.name);
    }

    // Writes every value back; the first failure ends it, with its code.
    platform::LSTATUS Restore() const {
        const platform::LSTATUS status = Restore(platform::StoreKey::Parameters, parameters_);
        return status != platform::ERROR_SUCCESS ? status : Restore(platform::StoreKey::EventLogSource, eventLogSource_);
    }

private:
    // Keeps the value when there is one: asks for its size first, then for its data.
    static void Take(ValuesToStore& values, platform::StoreKey key, const wchar_t* name) {
        std::uint32_t type = 0;
        std::uint32_t size = 0;
        std::vector<std::uint8_t> data;
        platform::LSTATUS status = platform::ParameterStore().ReadValue(key, name, type, data, size);
        if (status == platform::ERROR_MORE_DATA) {
            data.resize(size);
            status = platform::ParameterStore().ReadValue(key, name, type, data, size);
        }
        if (status == platform::ERROR_SUCCESS) {
            data.resize(size);
            values.Add(name, type, std::move(data));
        }
    }

    // A key that held nothing is not made again.
    static platform::LSTATUS Restore(platform::StoreKey key, const ValuesToStore& values) {
        if (values.values().empty()) return platform::ERROR_SUCCESS;
        std::size_t failed = 0;
        return platform::ParameterStore().WriteValues(key, platform::IfMissing::Create, values.values(), failed);
    }

    ValuesToStore parameters_;
    ValuesToStore eventLogSource_;
};

// The new parameters could not be stored: the previous installation comes back, running.
void PutBack(const StoredInstallation& previous) {
    if (const platform::LSTATUS status = previous.Restore(); status != platform::ERROR_SUCCESS) {
        Log(CurrentLogger(), LevelError, L"Registry error %d while putting back the previous parameters", status);
        return;
    }
    LoggingErrors([] { ManageService(ScmStart); });
    Log(CurrentLogger(), LevelError, L"Reinstallation failed: the previous parameters were put back");
}

// A first installation failed: what it stored and created goes again.
void TakeBack(bool created) {
    if (created) LoggingErrors([] { ManageService(ScmStop | ScmDelete); });
    LoggingErrors([] { SetInstalled(0); });
    LoggingErrors([] { DeleteParameters(); });
}

}  // namespace

void InstallService() {
    const ServiceDatabaseLock oneAtATime;
    SetDamagedRegistryAside();
    // An entry whose parameters went missing is installed anew over itself.
    const bool reinstalling = IsServiceInstalled() != 0 || !ServiceEntryState().empty();
    std::optional<StoredInstallation> previous;
    if (reinstalling) {
        previous.emplace();
        RemoveInstallation(ScmStop);
    }
    bool created = false;
    try {
        WriteParameters();
        SetInstalled(1);
    } catch (const std::wstring&) {
        if (reinstalling) {
            PutBack(*previous);  // over whatever of the new ones was stored
        } else {
            TakeBack(false);
        }
        throw;
    }
    try {
        ManageService(reinstalling ? ScmStart : ScmCreate | ScmStart, &created);
    } catch (const std::wstring&) {
        if (!reinstalling) TakeBack(created);
        throw;
    }
    Log(CurrentLogger(), LevelOk, L"Service %s and running", reinstalling ? L"reinstalled" : L"installed");
}

void RemoveService() {
    const ServiceDatabaseLock oneAtATime;
    SetDamagedRegistryAside();
    RemoveInstallation(ScmStop | ScmDelete);
    Log(CurrentLogger(), LevelOk, L"Service stopped and removed");
}

}  // namespace kairovel
