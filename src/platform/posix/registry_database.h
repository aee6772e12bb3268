// The parameter store's database on Linux: registry keys and values in one
// SQLite file.
//
// A connection to the file stays open between calls (opening one, with its
// settings and its check of the schema, costs far more than a query), and
// every call of the store does its work in one transaction of its own, so a
// crash or a kill never leaves half a change and two processes (the service
// and a command) can share the file. A file replaced, removed or given other
// permissions between calls is opened anew. The file is in WAL mode, which
// lets readers go on while a writer works; a writer waits for another writer
// up to the busy time-out and then fails with ERROR_BUSY. The WAL files are
// kept when the last connection closes, so that a user who may only read the
// file can still read it.
//
// Keys form a tree below the root key (HKEY_LOCAL_MACHINE, id 0), as in the
// registry, so that a key is found by the names of its path. Names keep the
// case they were created with and are found through their folded (upper
// case) form, so lookups ignore case.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/parameter_store.h"

struct sqlite3;
struct sqlite3_stmt;

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
    ~RegistryDatabase();
    RegistryDatabase(const RegistryDatabase&) = delete;
    RegistryDatabase& operator=(const RegistryDatabase&) = delete;

    const std::filesystem::path& file() const { return file_; }

    // Begins the call's transaction, (re)opening the file when needed. Reading
    // or changing a file that does not exist yet finds an empty registry and
    // creates nothing; writing creates the file (and its folder) on first use.
    // The folder and the files are state (state_folder.h): an untrusted one
    // fails with ERROR_ACCESS_DENIED, and a link is never followed.
    LSTATUS Begin(Purpose purpose);
    LSTATUS Commit();
    // Ends the call: rolls back whatever was not committed.
    void End();

    // The key at the end of path, a key's names from below the root down;
    // ERROR_FILE_NOT_FOUND when one of them is missing.
    LSTATUS FindKey(std::span<const std::wstring_view> path, RegistryKeyId& found);
    // The same, creating each key of path that is missing.
    LSTATUS CreateKey(std::span<const std::wstring_view> path, RegistryKeyId& found);
    // Deletes the key and its values; ERROR_ACCESS_DENIED while it has subkeys.
    LSTATUS DeleteKey(RegistryKeyId key);

    // Stores a value; an existing value of that name keeps its name's case.
    LSTATUS PutValue(RegistryKeyId key, std::wstring_view name, std::uint32_t type,
                     std::span<const std::uint8_t> data);
    // ERROR_FILE_NOT_FOUND when the key has no value of that name.
    LSTATUS GetValue(RegistryKeyId key, std::wstring_view name, StoredRegistryValue& value);

private:
    class Statement;

    struct FileIdentity {
        dev_t device = 0;
        ino_t inode = 0;
        mode_t mode = 0;
        uid_t owner = 0;
        gid_t group = 0;
        friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
    };

    // The database file in its checked folder, whether it exists and, if so,
    // its status; a read of a registry whose folder is missing finds nothing
    // and fails not.
    LSTATUS FindTrustedFile(bool creating, std::filesystem::path& file, bool& exists, struct stat& info) const;
    LSTATUS Open(const std::filesystem::path& file, bool creating);
    void Close();
    LSTATUS PrepareForWriting();
    LSTATUS Execute(const char* sql);
    LSTATUS UseWriteAheadLog();
    LSTATUS Prepare(const char* sql, Statement& statement);
    LSTATUS CheckSchema();
    // ERROR_FILE_NOT_FOUND when parent has no subkey of that name.
    LSTATUS FindSubkey(RegistryKeyId parent, std::wstring_view name, RegistryKeyId& found);
    LSTATUS CreateSubkey(RegistryKeyId parent, std::wstring_view name, RegistryKeyId& created);
    LSTATUS Fail(int result) const { return WindowsErrorFromSqlite(result, writing_); }

    std::filesystem::path file_;
    std::chrono::milliseconds busyTimeout_;
    sqlite3* connection_ = nullptr;
    FileIdentity opened_;               // of the file the connection has open
    mutable std::optional<std::filesystem::path> trustedFolder_;  // proven for this connection (FindTrustedFile)
    bool preparedForWriting_ = false;   // WAL and durable commits set on this connection
    bool schemaKnown_ = false;          // the file is known to hold this registry's tables
    std::map<const char*, sqlite3_stmt*> statements_;  // prepared once per connection, by their SQL's address
    bool writing_ = false;
    bool inTransaction_ = false;
    bool empty_ = false;  // nothing stored yet: every key but the root and every value is missing
};

}  // namespace kairovel::platform
