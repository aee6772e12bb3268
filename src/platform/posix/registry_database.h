// The registry stand-in's database: keys and values in one SQLite file.
//
// Every registry call opens its own connection, does its work in one
// transaction and closes again, so a crash or a kill never leaves half a
// change, two processes (the service and a command) can share the file, and
// a file replaced between calls is simply opened anew. The file is in WAL
// mode, which lets readers go on while a writer works; a writer waits for
// another writer up to the busy time-out and then fails with ERROR_BUSY.
//
// Keys form a tree below the root key (HKEY_LOCAL_MACHINE, id 0). Names keep
// the case they were created with and are found through their folded (upper
// case) form, so lookups ignore case.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

struct sqlite3;

namespace kairovel::platform {

using RegistryKeyId = std::int64_t;
inline constexpr RegistryKeyId kRegistryRootKey = 0;

struct StoredRegistryValue {
    std::uint32_t type = REG_NONE;
    std::vector<std::uint8_t> data;
};

// The upper-case form under which names are compared.
std::wstring FoldRegistryName(std::wstring_view name);

// The Windows error code for an SQLite result code.
LSTATUS WindowsErrorFromSqlite(int result, bool writing);

class RegistryDatabase {
public:
    enum class Purpose {
        Read,
        Write,   // creates the file when there is none
        Change,  // writes, but a file that does not exist is an empty registry with nothing to change
    };

    RegistryDatabase(std::filesystem::path file, std::chrono::milliseconds busyTimeout);
    ~RegistryDatabase();  // rolls back whatever was not committed
    RegistryDatabase(const RegistryDatabase&) = delete;
    RegistryDatabase& operator=(const RegistryDatabase&) = delete;

    // Opens the file and begins the call's transaction. Reading or changing a
    // file that does not exist yet finds an empty registry and creates
    // nothing; writing creates the file (and its folder) on first use. The
    // folder and the files are state (state_folder.h): an untrusted one
    // fails with ERROR_ACCESS_DENIED, and a link is never followed.
    LSTATUS Begin(Purpose purpose);
    LSTATUS Commit();

    LSTATUS KeyExists(RegistryKeyId key, bool& exists);
    // ERROR_FILE_NOT_FOUND when parent has no subkey of that name.
    LSTATUS FindSubkey(RegistryKeyId parent, std::wstring_view name, RegistryKeyId& found);
    LSTATUS CreateSubkey(RegistryKeyId parent, std::wstring_view name, RegistryKeyId& created);
    LSTATUS HasSubkeys(RegistryKeyId key, bool& has);
    // Deletes the key and its values (not its subkeys: the caller makes sure there are none).
    LSTATUS DeleteKey(RegistryKeyId key);

    // Stores a value; an existing value of that name keeps its name's case.
    LSTATUS PutValue(RegistryKeyId key, std::wstring_view name, std::uint32_t type,
                     std::span<const std::uint8_t> data);
    // ERROR_FILE_NOT_FOUND when the key has no value of that name.
    LSTATUS GetValue(RegistryKeyId key, std::wstring_view name, StoredRegistryValue& value);

private:
    class Statement;

    // The database file in its checked folder, and whether it exists; a read
    // of a registry whose folder is missing finds nothing and fails not.
    LSTATUS OpenTrustedFile(bool creating, std::filesystem::path& file, bool& exists) const;
    LSTATUS Execute(const char* sql);
    LSTATUS UseWriteAheadLog();
    LSTATUS Prepare(const char* sql, Statement& statement);
    LSTATUS CheckSchema();
    // Whether sql, with key bound to ?1, gives a row.
    LSTATUS AnyRow(const char* sql, RegistryKeyId key, bool& found);
    LSTATUS Fail(int result) const { return WindowsErrorFromSqlite(result, writing_); }

    std::filesystem::path file_;
    std::chrono::milliseconds busyTimeout_;
    sqlite3* connection_ = nullptr;
    bool writing_ = false;
    bool inTransaction_ = false;
    bool empty_ = false;  // nothing stored yet: every key but the root and every value is missing
};

}  // namespace kairovel::platform
