// The parameter store of the Linux build: the two keys in
// $KAIROVEL_ROOT/registry.sqlite (registry_database.h), with the registry's
// meanings and codes.
//
// Each call is one transaction of its own on a connection kept open between
// calls; a call that opens or creates a key before it writes (WriteValues)
// finds the key in a transaction that only reads, as opening a registry key
// does, so that what cannot be written fails on the values.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>

#include "platform/parameter_store.h"
#include "platform/posix/registry_database.h"

namespace kairovel::platform {

class SqliteParameterStore final : public ParameterStoreFacility {
public:
    // How long a write waits for another process's write to finish.
    static constexpr std::chrono::milliseconds kDefaultBusyTimeout{5000};

    explicit SqliteParameterStore(std::chrono::milliseconds busyTimeout = kDefaultBusyTimeout);

    // The database file of the state folder KAIROVEL_ROOT names now.
    static std::filesystem::path DatabaseFile();

    LSTATUS FindKey(StoreKey key) override;
    LSTATUS ReadValue(StoreKey key, std::wstring_view name, std::uint32_t& type, std::span<std::uint8_t> room,
                      std::uint32_t& size) override;
    LSTATUS WriteValues(StoreKey key, IfMissing ifMissing, std::span<const StoreValue> values,
                        std::size_t& failed) override;
    LSTATUS DeleteKey(StoreKey key) override;
    // The database file and the files SQLite keeps beside it, renamed to
    // <file>.damaged-<local time> in their trusted folder.
    bool SetDamagedStoreAside(std::wstring& keptAs) override;

private:
    class Transaction;

    LSTATUS CreateKey(StoreKey key);

    const std::chrono::milliseconds busyTimeout_;
    std::mutex mutex_;                            // one call at a time on the connection
    std::unique_ptr<RegistryDatabase> database_;  // of the file DatabaseFile() named at the last call
};

}  // namespace kairovel::platform
