// The registry calls of the Linux stand-in, on the database of registry_database.h.
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "platform/posix/state_folder.h"

#include "platform/posix/settings.h"
#include "platform/posix/sqlite_registry.h"

namespace kairovel::platform {
namespace {

constexpr REGSAM kWow64Flags = 0x0300;  // KEY_WOW64_64KEY | KEY_WOW64_32KEY: which view, not which rights
constexpr wchar_t kSeparator = L'\\';

// Splits a key path into its names. One trailing separator is allowed; an
// empty name anywhere else, or a name longer than Windows allows, is not.
LSTATUS SplitKeyPath(std::wstring_view path, std::vector<std::wstring_view>& names) {
    names.clear();
    if (!path.empty() && path.back() == kSeparator) path.remove_suffix(1);
    if (path.empty()) return ERROR_SUCCESS;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find(kSeparator, start);
        const std::wstring_view name = path.substr(start, end == std::wstring_view::npos ? end : end - start);
        if (name.empty() || name.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
        names.push_back(name);
        if (end == std::wstring_view::npos) return ERROR_SUCCESS;
        start = end + 1;
    }
}

std::wstring_view TextOrEmpty(const wchar_t* name) { return name != nullptr ? std::wstring_view(name) : L""; }

// Walks from key down the names; ERROR_FILE_NOT_FOUND when one is missing.
LSTATUS Walk(RegistryDatabase& database, RegistryKeyId key, const std::vector<std::wstring_view>& names,
             RegistryKeyId& found) {
    found = key;
    for (const std::wstring_view name : names) {
        if (const LSTATUS status = database.FindSubkey(found, name, found); status != ERROR_SUCCESS) return status;
    }
    return ERROR_SUCCESS;
}

// Opens the database for one call and checks that the call's key still exists:
// a key deleted while a handle to it was open gives ERROR_KEY_DELETED.
LSTATUS BeginOn(RegistryDatabase& database, RegistryDatabase::Purpose purpose, RegistryKeyId key) {
    if (const LSTATUS status = database.Begin(purpose); status != ERROR_SUCCESS) return status;
    bool exists = false;
    if (const LSTATUS status = database.KeyExists(key, exists); status != ERROR_SUCCESS) return status;
    return exists ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

// Begins the call's transaction on the key start and walks down the names from there.
LSTATUS BeginAndWalk(RegistryDatabase& database, RegistryDatabase::Purpose purpose, RegistryKeyId start,
                     const std::vector<std::wstring_view>& names, RegistryKeyId& found) {
    if (const LSTATUS status = BeginOn(database, purpose, start); status != ERROR_SUCCESS) return status;
    return Walk(database, start, names, found);
}

// Only writing below the root creates the database: below any other key, a
// missing file means the key is gone, and that is all there is to say.
RegistryDatabase::Purpose WritePurpose(RegistryKeyId key) {
    return key == kRegistryRootKey ? RegistryDatabase::Purpose::Write : RegistryDatabase::Purpose::Change;
}

// One call's use of a connection: the call has it to itself, and its
// transaction ends (rolled back unless committed) when the call does.
class Call {
public:
    explicit Call(RegistryDatabase& database) : database_(database), lock_(database.mutex()) {}
    ~Call() { database_.End(); }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    RegistryDatabase& operator*() { return database_; }

private:
    RegistryDatabase& database_;
    std::lock_guard<std::mutex> lock_;
};

}  // namespace

SqliteRegistry::SqliteRegistry(std::chrono::milliseconds busyTimeout) : busyTimeout_(busyTimeout) {}

std::filesystem::path SqliteRegistry::DatabaseFile() { return StateRoot() / "registry.sqlite"; }

bool SqliteRegistry::SetDamagedStoreAside(std::wstring& keptAs) {
    const std::lock_guard<std::mutex> lock(connectionMutex_);
    connection_.reset();  // a new connection opens what is in the file's place then
    const std::filesystem::path file = DatabaseFile();
    std::filesystem::path folder;
    std::string problem;
    if (OpenStateFolder(file.parent_path(), false, folder, problem) != ERROR_SUCCESS) return false;
    const std::filesystem::path database = folder / file.filename();
    if (CheckStateFile(database, problem) != ERROR_SUCCESS) return false;
    char stamp[32];
    const time_t now = ::time(nullptr);
    tm local{};
    ::localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    // Never over another one set aside in the same second.
    std::string kept = database.string() + ".damaged-" + stamp;
    struct stat taken {};
    for (int n = 2; ::lstat(kept.c_str(), &taken) == 0; ++n) {
        kept = database.string() + ".damaged-" + stamp + "-" + std::to_string(n);
    }
    if (::rename(database.c_str(), kept.c_str()) != 0) return false;
    for (const char* companion : {"-journal", "-wal", "-shm"}) {
        ::rename((database.string() + companion).c_str(), (kept + companion).c_str());
    }
    keptAs = AnsiToWide(kept);
    return true;
}

// The connection to the file HKEY_LOCAL_MACHINE stands for now. It is kept
// while that stays the file, and while keys opened in it are open.
std::shared_ptr<RegistryDatabase> SqliteRegistry::Connection() {
    const std::filesystem::path file = DatabaseFile();
    const std::lock_guard<std::mutex> lock(connectionMutex_);
    if (connection_ == nullptr || connection_->file() != file) {
        connection_ = std::make_shared<RegistryDatabase>(file, busyTimeout_);
    }
    return connection_;
}

bool SqliteRegistry::Find(HKEY key, OpenKey& found) {
    if (key == HKEY_LOCAL_MACHINE) {
        found = OpenKey{Connection(), kRegistryRootKey, KEY_ALL_ACCESS};
        return true;
    }
    const std::shared_ptr<OpenKey> open = openKeys_.Find(TableHandle(key));
    if (open == nullptr) return false;
    found = *open;
    return true;
}

LSTATUS SqliteRegistry::Resolve(HKEY key, std::wstring_view subKey, OpenKey& start,
                                std::vector<std::wstring_view>& names) {
    if (!Find(key, start)) return ERROR_INVALID_HANDLE;
    return SplitKeyPath(subKey, names);
}

// Issued handles are multiples of four, as on Windows; the predefined keys
// (such as 0x80000002) are not, so an issued handle is never taken for one.
HKEY SqliteRegistry::Issue(OpenKey key) {
    key.access &= ~kWow64Flags;
    return TypedHandle<RegistryKeyKind>(openKeys_.Add(std::make_shared<OpenKey>(std::move(key))));
}

LSTATUS SqliteRegistry::RegCreateKeyExW(HKEY key, const wchar_t* subKey, std::uint32_t reserved,
                                        const wchar_t* /*keyClass: not kept*/, std::uint32_t options, REGSAM desired,
                                        const void* /*securityAttributes: the stand-in has no security*/,
                                        HKEY* result, std::uint32_t* disposition) {
    if (result == nullptr || subKey == nullptr || reserved != 0) return ERROR_INVALID_PARAMETER;
    *result = HKEY{};
    if (options != REG_OPTION_NON_VOLATILE) return ERROR_NOT_SUPPORTED;
    OpenKey parent;
    std::vector<std::wstring_view> names;
    if (const LSTATUS status = Resolve(key, subKey, parent, names); status != ERROR_SUCCESS) return status;

    // An existing key only needs reading, so it opens even where nothing can be written.
    RegistryKeyId found = kRegistryRootKey;
    {
        Call call(*parent.database);
        RegistryDatabase& database = *call;
        const LSTATUS status = BeginAndWalk(database, RegistryDatabase::Purpose::Read, parent.id, names, found);
        if (status == ERROR_SUCCESS) {
            *result = Issue(OpenKey{parent.database, found, desired});
            if (disposition != nullptr) *disposition = REG_OPENED_EXISTING_KEY;
            return ERROR_SUCCESS;
        }
        if (status != ERROR_FILE_NOT_FOUND) return status;
    }

    if ((parent.access & KEY_CREATE_SUB_KEY) == 0) return ERROR_ACCESS_DENIED;
    Call call(*parent.database);
    RegistryDatabase& database = *call;
    if (const LSTATUS status = BeginOn(database, WritePurpose(parent.id), parent.id);
        status != ERROR_SUCCESS) {
        return status;
    }
    // Another process may have created some of the keys in between: find or create each.
    bool created = false;
    found = parent.id;
    for (const std::wstring_view name : names) {
        LSTATUS status = database.FindSubkey(found, name, found);
        if (status == ERROR_FILE_NOT_FOUND) {
            status = database.CreateSubkey(found, name, found);
            created = true;
        }
        if (status != ERROR_SUCCESS) return status;
    }
    if (const LSTATUS status = database.Commit(); status != ERROR_SUCCESS) return status;
    *result = Issue(OpenKey{parent.database, found, desired});
    if (disposition != nullptr) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LSTATUS SqliteRegistry::RegOpenKeyExW(HKEY key, const wchar_t* subKey, std::uint32_t /*options*/, REGSAM desired,
                                      HKEY* result) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = HKEY{};
    OpenKey parent;
    std::vector<std::wstring_view> names;
    if (const LSTATUS status = Resolve(key, TextOrEmpty(subKey), parent, names); status != ERROR_SUCCESS) return status;

    Call call(*parent.database);
    RegistryDatabase& database = *call;
    RegistryKeyId found = kRegistryRootKey;
    if (const LSTATUS status = BeginAndWalk(database, RegistryDatabase::Purpose::Read, parent.id, names, found);
        status != ERROR_SUCCESS) {
        return status;
    }
    *result = Issue(OpenKey{parent.database, found, desired});
    return ERROR_SUCCESS;
}

LSTATUS SqliteRegistry::RegSetValueExW(HKEY key, const wchar_t* valueName, std::uint32_t reserved,
                                       std::uint32_t type, const std::uint8_t* data, std::uint32_t size) {
    if (reserved != 0 || (data == nullptr && size != 0)) return ERROR_INVALID_PARAMETER;
    const std::wstring_view name = TextOrEmpty(valueName);
    if (name.size() > kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
    OpenKey target;
    if (!Find(key, target)) return ERROR_INVALID_HANDLE;
    if ((target.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;

    Call call(*target.database);
    RegistryDatabase& database = *call;
    if (const LSTATUS status = BeginOn(database, WritePurpose(target.id), target.id);
        status != ERROR_SUCCESS) {
        return status;
    }
    const std::span<const std::uint8_t> bytes(data, data != nullptr ? size : 0);
    if (const LSTATUS status = database.PutValue(target.id, name, type, bytes); status != ERROR_SUCCESS) return status;
    return database.Commit();
}

LSTATUS SqliteRegistry::RegQueryValueExW(HKEY key, const wchar_t* valueName, std::uint32_t* reserved,
                                         std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) {
    if (reserved != nullptr || (data != nullptr && size == nullptr)) return ERROR_INVALID_PARAMETER;
    OpenKey target;
    if (!Find(key, target)) return ERROR_INVALID_HANDLE;
    if ((target.access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;

    StoredRegistryValue value;
    {
        Call call(*target.database);
        RegistryDatabase& database = *call;
        if (const LSTATUS status = BeginOn(database, RegistryDatabase::Purpose::Read, target.id);
            status != ERROR_SUCCESS) {
            return status;
        }
        if (const LSTATUS status = database.GetValue(target.id, TextOrEmpty(valueName), value);
            status != ERROR_SUCCESS) {
            return status;
        }
    }
    if (value.data.size() > UINT32_MAX) return ERROR_BADDB;
    const auto stored = static_cast<std::uint32_t>(value.data.size());
    if (type != nullptr) *type = value.type;
    if (data != nullptr) {
        const std::uint32_t room = *size;
        *size = stored;
        if (stored > room) return ERROR_MORE_DATA;
        if (stored > 0) std::memcpy(data, value.data.data(), stored);
    } else if (size != nullptr) {
        *size = stored;
    }
    return ERROR_SUCCESS;
}

LSTATUS SqliteRegistry::RegDeleteKeyW(HKEY key, const wchar_t* subKey) {
    if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
    OpenKey parent;
    std::vector<std::wstring_view> names;
    if (const LSTATUS status = Resolve(key, subKey, parent, names); status != ERROR_SUCCESS) return status;

    Call call(*parent.database);
    RegistryDatabase& database = *call;
    RegistryKeyId target = kRegistryRootKey;
    if (const LSTATUS status = BeginAndWalk(database, RegistryDatabase::Purpose::Change, parent.id, names, target);
        status != ERROR_SUCCESS) {
        return status;
    }
    if (target == kRegistryRootKey) return ERROR_ACCESS_DENIED;  // the root of the registry stays
    bool hasSubkeys = false;
    if (const LSTATUS status = database.HasSubkeys(target, hasSubkeys); status != ERROR_SUCCESS) return status;
    if (hasSubkeys) return ERROR_ACCESS_DENIED;
    if (const LSTATUS status = database.DeleteKey(target); status != ERROR_SUCCESS) return status;
    return database.Commit();
}

LSTATUS SqliteRegistry::RegDeleteValueW(HKEY key, const wchar_t* valueName) {
    OpenKey target;
    if (!Find(key, target)) return ERROR_INVALID_HANDLE;
    if ((target.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
    Call call(*target.database);
    RegistryDatabase& database = *call;
    if (const LSTATUS status = BeginOn(database, RegistryDatabase::Purpose::Change, target.id);
        status != ERROR_SUCCESS) {
        return status;
    }
    if (const LSTATUS status = database.DeleteValue(target.id, TextOrEmpty(valueName)); status != ERROR_SUCCESS) {
        return status;
    }
    return database.Commit();
}

LSTATUS SqliteRegistry::RegCloseKey(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
    return openKeys_.Remove(TableHandle(key)) != nullptr ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

template <>
RegistryFacility& DefaultFacility<RegistryFacility>() {
    static SqliteRegistry registry;
    return registry;
}

}  // namespace kairovel::platform
