#include "shell/installation.h"

#include <optional>
#include <string>
#include <vector>

#include "config/registry_store.h"
#include "log/logger.h"
#include "platform/registry.h"
#include "shell/service_control.h"
#include "shell/service_status.h"

namespace kairovel {
namespace {

// What an installation keeps in the registry, as stored, so that a
// reinstallation that cannot store its own can put it back.
class StoredInstallation {
public:
    StoredInstallation() {
        for (const ParameterRow& row : ParameterTable()) Take(ParameterKeyPath, row.name);
        Take(ParameterKeyPath, L"IsInstalled");
        Take(ParameterKeyPath, L"LastAdjustmentValue");
        for (const EventLogRow& row : EventLogTable()) Take(EventLogKeyPath, row.name);
    }

    // Writes every value back; the first failure ends it, with its code.
    platform::LSTATUS Restore() const {
        for (const Value& value : values_) {
            platform::HKEY key{};
            platform::LSTATUS status = platform::Registry().RegCreateKeyExW(
                platform::HKEY_LOCAL_MACHINE, value.keyPath, 0, nullptr, platform::REG_OPTION_NON_VOLATILE,
                platform::KEY_WRITE, nullptr, &key, nullptr);
            if (status != platform::ERROR_SUCCESS) return status;
            status = platform::Registry().RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(),
                                                        static_cast<std::uint32_t>(value.data.size()));
            platform::Registry().RegCloseKey(key);
            if (status != platform::ERROR_SUCCESS) return status;
        }
        return platform::ERROR_SUCCESS;
    }

private:
    struct Value {
        const wchar_t* keyPath;
        std::wstring name;
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
    };

    // Keeps the value when there is one.
    void Take(const wchar_t* keyPath, const wchar_t* name) {
        platform::HKEY key{};
        if (platform::Registry().RegOpenKeyExW(platform::HKEY_LOCAL_MACHINE, keyPath, 0, platform::KEY_READ, &key) !=
            platform::ERROR_SUCCESS) {
            return;
        }
        Value value{keyPath, name, 0, {}};
        std::uint32_t size = 0;
        if (platform::Registry().RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size) ==
            platform::ERROR_SUCCESS) {
            value.data.resize(size);
            if (platform::Registry().RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size) ==
                platform::ERROR_SUCCESS) {
                values_.push_back(std::move(value));
            }
        }
        platform::Registry().RegCloseKey(key);
    }

    std::vector<Value> values_;
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
