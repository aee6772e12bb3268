// The parameter store's calls on Linux, on the database of registry_database.h.
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <span>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "platform/posix/service_user.h"
#include "platform/posix/settings.h"
#include "platform/posix/sqlite_parameter_store.h"
#include "platform/posix/state_folder.h"

namespace kairovel::platform {
namespace {

// The names of a key's path, split at its backslashes.
std::vector<std::wstring_view> SplitPath(std::wstring_view path) {
    std::vector<std::wstring_view> names;
    for (std::size_t start = 0;;) {
        const std::size_t end = path.find(L'\\', start);
        names.push_back(path.substr(start, end == std::wstring_view::npos ? end : end - start));
        if (end == std::wstring_view::npos) return names;
        start = end + 1;
    }
}

// The names of one of the two keys' paths, from below the root down.
std::span<const std::wstring_view> PathOf(StoreKey key) {
    static const std::vector<std::wstring_view> parameters = SplitPath(StoreKeyPath(StoreKey::Parameters));
    static const std::vector<std::wstring_view> eventLogSource = SplitPath(StoreKeyPath(StoreKey::EventLogSource));
    return key == StoreKey::Parameters ? parameters : eventLogSource;
}

}  // namespace

// One call's transaction on the database of the file the store uses now: the
// call has the connection to itself, and the transaction ends (rolled back
// unless committed) when the call does. Root works in the service's folder
// with the rights of its user (service_user.h), SQLite's companion files too.
class SqliteParameterStore::Transaction {
public:
    Transaction(SqliteParameterStore& store, RegistryDatabase::Purpose purpose)
        : lock_(store.mutex_), asOwner_(DatabaseFile().parent_path()) {
        const std::filesystem::path file = DatabaseFile();
        if (store.database_ == nullptr || store.database_->file() != file) {
            store.database_ = std::make_unique<RegistryDatabase>(file, store.busyTimeout_);
        }
        database_ = store.database_.get();
        began_ = database_->Begin(purpose);
    }
    ~Transaction() { database_->End(); }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    LSTATUS began() const { return began_; }
    RegistryDatabase* operator->() { return database_; }

    // Whether the transaction began, and the key's id in it.
    LSTATUS Find(StoreKey key, RegistryKeyId& id) {
        if (began_ != ERROR_SUCCESS) return began_;
        return database_->FindKey(PathOf(key), id);
    }

private:
    std::lock_guard<std::mutex> lock_;
    FilesAsStateOwner asOwner_;
    RegistryDatabase* database_ = nullptr;
    LSTATUS began_ = ERROR_SUCCESS;
};

SqliteParameterStore::SqliteParameterStore(std::chrono::milliseconds busyTimeout) : busyTimeout_(busyTimeout) {}

std::filesystem::path SqliteParameterStore::DatabaseFile() { return StateRoot() / "registry.sqlite"; }

LSTATUS SqliteParameterStore::FindKey(StoreKey key) {
    Transaction reading(*this, RegistryDatabase::Purpose::Read);
    RegistryKeyId id = kRegistryRootKey;
    return reading.Find(key, id);
}

LSTATUS SqliteParameterStore::ReadValue(StoreKey key, std::wstring_view name, std::uint32_t& type,
                                        std::span<std::uint8_t> room, std::uint32_t& size) {
    StoredRegistryValue value;
    {
        Transaction reading(*this, RegistryDatabase::Purpose::Read);
        RegistryKeyId id = kRegistryRootKey;
        if (const LSTATUS status = reading.Find(key, id); status != ERROR_SUCCESS) return status;
        if (const LSTATUS status = reading->GetValue(id, name, value); status != ERROR_SUCCESS) return status;
    }
    if (value.data.size() > UINT32_MAX) return ERROR_BADDB;
    type = value.type;
    size = static_cast<std::uint32_t>(value.data.size());
    if (value.data.size() > room.size()) return ERROR_MORE_DATA;
    std::copy(value.data.begin(), value.data.end(), room.begin());
    return ERROR_SUCCESS;
}

// An existing key only needs reading, so it is found even where nothing can
// be written; only a missing one is created, with the file when there is none.
LSTATUS SqliteParameterStore::CreateKey(StoreKey key) {
    if (const LSTATUS status = FindKey(key); status != ERROR_FILE_NOT_FOUND) return status;
    Transaction writing(*this, RegistryDatabase::Purpose::Write);
    if (writing.began() != ERROR_SUCCESS) return writing.began();
    RegistryKeyId id = kRegistryRootKey;
    if (const LSTATUS status = writing->CreateKey(PathOf(key), id); status != ERROR_SUCCESS) return status;
    return writing->Commit();
}

LSTATUS SqliteParameterStore::WriteValues(StoreKey key, IfMissing ifMissing, std::span<const StoreValue> values,
                                          std::size_t& failed) {
    failed = kKeyFailed;
    if (const LSTATUS status = ifMissing == IfMissing::Create ? CreateKey(key) : FindKey(key);
        status != ERROR_SUCCESS) {
        return status;
    }
    failed = 0;
    Transaction writing(*this, RegistryDatabase::Purpose::Change);
    RegistryKeyId id = kRegistryRootKey;
    if (const LSTATUS status = writing.Find(key, id); status != ERROR_SUCCESS) {
        return status == ERROR_FILE_NOT_FOUND ? ERROR_KEY_DELETED : status;  // by another process, since it was found
    }
    for (; failed < values.size(); ++failed) {
        const StoreValue& value = values[failed];
        if (const LSTATUS status = writing->PutValue(id, value.name, value.type, value.data); status != ERROR_SUCCESS) {
            return status;
        }
    }
    failed = 0;
    return writing->Commit();
}

LSTATUS SqliteParameterStore::DeleteKey(StoreKey key) {
    Transaction writing(*this, RegistryDatabase::Purpose::Change);
    RegistryKeyId id = kRegistryRootKey;
    if (const LSTATUS status = writing.Find(key, id); status != ERROR_SUCCESS) return status;
    if (const LSTATUS status = writing->DeleteKey(id); status != ERROR_SUCCESS) return status;
    return writing->Commit();
}

bool SqliteParameterStore::SetDamagedStoreAside(std::wstring& keptAs) {
    const FilesAsStateOwner asOwner(DatabaseFile().parent_path());
    const std::lock_guard<std::mutex> lock(mutex_);
    database_.reset();  // the next call opens what is in the file's place then
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

template <>
ParameterStoreFacility& DefaultFacility<ParameterStoreFacility>() {
    static SqliteParameterStore store;
    return store;
}

}  // namespace kairovel::platform
