// The registry stand-in of the Linux build: HKEY_LOCAL_MACHINE kept in
// $KAIROVEL_ROOT/registry.sqlite, with the Windows calls' meanings and codes.
//
// An open key is a handle into a table of this process: the connection to the
// database file it lives in, its key's id and the access it was opened with.
// Each call is one transaction of its own (see registry_database.h).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/posix/handle_table.h"
#include "platform/posix/registry_database.h"
#include "platform/registry.h"

namespace kairovel::platform {

class SqliteRegistry final : public RegistryFacility {
public:
    // How long a call waits for another process's write to finish.
    static constexpr std::chrono::milliseconds kDefaultBusyTimeout{5000};

    explicit SqliteRegistry(std::chrono::milliseconds busyTimeout = kDefaultBusyTimeout);

    // The database file that HKEY_LOCAL_MACHINE opens now.
    static std::filesystem::path DatabaseFile();

    LSTATUS RegCreateKeyExW(HKEY key, const wchar_t* subKey, std::uint32_t reserved, const wchar_t* keyClass,
                            std::uint32_t options, REGSAM desired, const void* securityAttributes, HKEY* result,
                            std::uint32_t* disposition) override;
    LSTATUS RegOpenKeyExW(HKEY key, const wchar_t* subKey, std::uint32_t options, REGSAM desired,
                          HKEY* result) override;
    LSTATUS RegSetValueExW(HKEY key, const wchar_t* valueName, std::uint32_t reserved, std::uint32_t type,
                           const std::uint8_t* data, std::uint32_t size) override;
    LSTATUS RegQueryValueExW(HKEY key, const wchar_t* valueName, std::uint32_t* reserved, std::uint32_t* type,
                             std::uint8_t* data, std::uint32_t* size) override;
    LSTATUS RegDeleteKeyW(HKEY key, const wchar_t* subKey) override;
    LSTATUS RegDeleteValueW(HKEY key, const wchar_t* valueName) override;
    LSTATUS RegCloseKey(HKEY key) override;
    // The database file and the files SQLite keeps beside it, renamed to
    // <file>.damaged-<local time> in their trusted folder.
    bool SetDamagedStoreAside(std::wstring& keptAs) override;

private:
    struct OpenKey {
        std::shared_ptr<RegistryDatabase> database;
        RegistryKeyId id = kRegistryRootKey;
        REGSAM access = 0;
    };

    std::shared_ptr<RegistryDatabase> Connection();
    bool Find(HKEY key, OpenKey& found);
    // The open key a call starts from, and the names of the path below it.
    LSTATUS Resolve(HKEY key, std::wstring_view subKey, OpenKey& start, std::vector<std::wstring_view>& names);
    HKEY Issue(OpenKey key);

    const std::chrono::milliseconds busyTimeout_;
    std::mutex connectionMutex_;
    std::shared_ptr<RegistryDatabase> connection_;  // of the file HKEY_LOCAL_MACHINE stands for now
    HandleTable<OpenKey> openKeys_;                 // shared by the program's threads
};

}  // namespace kairovel::platform
