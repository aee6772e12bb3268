#include "platform/posix/registry_database.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <limits>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/posix/errors.h"
#include "platform/posix/problem_report.h"
#include "platform/posix/state_folder.h"

namespace kairovel::platform {
namespace {

// Marks the file as this registry's ("KRVL"), so that an unrelated SQLite
// database is refused instead of being written into.
constexpr int kApplicationId = 0x4B52564C;
constexpr int kSchemaVersion = 1;

// The file's layout is that of every version so far: a database an earlier
// version made reads unchanged, and an earlier version reads what this one
// writes.
constexpr const char* kCreateSchema =
    "CREATE TABLE registry_key ("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER NOT NULL,"
    "  name TEXT NOT NULL,"
    "  folded TEXT NOT NULL,"
    "  UNIQUE (parent, folded));"
    "CREATE TABLE registry_value ("
    "  key INTEGER NOT NULL,"
    "  name TEXT NOT NULL,"
    "  folded TEXT NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  PRIMARY KEY (key, folded)) WITHOUT ROWID;";

// Upper case of the letters of the Latin, Greek and Cyrillic alphabets; other
// characters compare as they are.
wchar_t UpperCase(wchar_t c) {
    const auto v = static_cast<std::uint32_t>(c);
    auto shifted = [c](int by) { return static_cast<wchar_t>(static_cast<int>(c) + by); };
    if (v >= 'a' && v <= 'z') return shifted(-0x20);
    if (v < 0xE0) return c;
    if (v <= 0xFE) return v == 0xF7 ? c : shifted(-0x20);  // U+00F7 is the division sign
    if (v == 0xFF) return static_cast<wchar_t>(0x178);
    // Latin Extended-A: pairs of capital and small letter.
    if ((v >= 0x100 && v <= 0x12F) || (v >= 0x132 && v <= 0x137) || (v >= 0x14A && v <= 0x177)) {
        return v % 2 == 1 ? shifted(-1) : c;
    }
    if ((v >= 0x139 && v <= 0x148) || (v >= 0x179 && v <= 0x17E)) return v % 2 == 0 ? shifted(-1) : c;
    if (v == 0x3C2) return static_cast<wchar_t>(0x3A3);  // final sigma
    if (v >= 0x3B1 && v <= 0x3CB) return shifted(-0x20);
    if (v >= 0x430 && v <= 0x44F) return shifted(-0x20);
    if (v >= 0x450 && v <= 0x45F) return shifted(-0x50);
    return c;
}

}  // namespace

std::wstring FoldRegistryName(std::wstring_view name) {
    std::wstring folded(name);
    for (wchar_t& c : folded) c = UpperCase(c);
    return folded;
}

LSTATUS WindowsErrorFromSqlite(int result, bool writing) {
    switch (result & 0xFF) {  // the primary code of an extended one
        case SQLITE_OK:
        case SQLITE_ROW:
        case SQLITE_DONE:
            return ERROR_SUCCESS;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return ERROR_BUSY;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return ERROR_ACCESS_DENIED;
        case SQLITE_NOMEM:
        case SQLITE_TOOBIG:
            return ERROR_NOT_ENOUGH_MEMORY;
        case SQLITE_FULL:
            return ERROR_HANDLE_DISK_FULL;
        case SQLITE_IOERR:
            return writing ? ERROR_CANTWRITE : ERROR_CANTREAD;
        case SQLITE_CANTOPEN:
            return ERROR_CANTOPEN;
        default:  // not a database, a damaged one, or one whose tables are not ours
            return ERROR_BADDB;
    }
}

// One use of a prepared statement of the connection's: reset for the next
// use when it goes, and finalised only with the connection.
class RegistryDatabase::Statement {
public:
    Statement() = default;
    ~Statement() {
        if (statement_ != nullptr) {
            sqlite3_reset(statement_);
            sqlite3_clear_bindings(statement_);
        }
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    sqlite3_stmt*& handle() { return statement_; }

    void Bind(int index, std::int64_t number) { sqlite3_bind_int64(statement_, index, number); }
    // Names are bound as UTF-16LE text: the same code units the registry compares.
    void Bind(int index, std::wstring_view text) {
        const std::vector<std::uint8_t> units = RegistryString(text);
        sqlite3_bind_text64(statement_, index, reinterpret_cast<const char*>(units.data()), units.size() - 2,
                            SQLITE_TRANSIENT, SQLITE_UTF16LE);
    }
    void Bind(int index, std::span<const std::uint8_t> bytes) {
        // A zero-length blob, not NULL, for an empty value.
        static constexpr std::uint8_t kNothing = 0;
        sqlite3_bind_blob64(statement_, index, bytes.empty() ? &kNothing : bytes.data(), bytes.size(),
                            SQLITE_TRANSIENT);
    }
    int Step() { return sqlite3_step(statement_); }

private:
    sqlite3_stmt* statement_ = nullptr;
};

RegistryDatabase::RegistryDatabase(std::filesystem::path file, std::chrono::milliseconds busyTimeout)
    : file_(std::move(file)), busyTimeout_(busyTimeout) {}

RegistryDatabase::~RegistryDatabase() { Close(); }

void RegistryDatabase::Close() {
    trustedFolder_.reset();
    End();
    for (const auto& [sql, statement] : statements_) sqlite3_finalize(statement);
    statements_.clear();
    sqlite3_close_v2(connection_);
    connection_ = nullptr;
    preparedForWriting_ = false;
    schemaKnown_ = false;
}

void RegistryDatabase::End() {
    if (inTransaction_) sqlite3_exec(connection_, "ROLLBACK", nullptr, nullptr, nullptr);
    inTransaction_ = false;
}

namespace {

// The database and the files SQLite keeps beside it are root's alone (or the
// owner's, for a private KAIROVEL_ROOT): anyone who may open them may take
// SQLite's lock bytes and hold up every write of the service and of root's
// commands. A new database is made so from its first instant, before SQLite
// opens it (SQLite would make it under the umask and leave a moment in which
// another user could open it), and SQLite gives new companion files the
// database's mode. One made open by an earlier version is made so whenever
// the owner opens it to write.
constexpr mode_t kOwnerOnly = 0600;

// Creates the database file empty and the owner's alone, unless it is there.
bool CreateOwnerOnly(const std::filesystem::path& file) {
    const int descriptor = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kOwnerOnly);
    if (descriptor >= 0) {
        ::close(descriptor);
        return true;
    }
    return errno == EEXIST;
}

void RestrictToOwner(const std::filesystem::path& file) {
    for (const char* companion : {"", "-journal", "-wal", "-shm"}) {
        std::filesystem::path path = file;
        path += companion;
        struct stat info {};
        if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
            (info.st_mode & 0777) != kOwnerOnly) {
            ::chmod(path.c_str(), kOwnerOnly);
        }
    }
}

}  // namespace

LSTATUS RegistryDatabase::Open(const std::filesystem::path& file, bool creating) {
    if (::access(file.c_str(), R_OK) != 0 && errno == EACCES) {
        ReportProblem(file.string() + " may be read by its owner alone: ask root for the service's configuration");
        return ERROR_ACCESS_DENIED;
    }
    if (creating && !CreateOwnerOnly(file)) return WindowsErrorFromErrno(errno);
    // Opened for reading and writing where the file allows it, for reading
    // otherwise; SQLITE_OPEN_NOFOLLOW: a link in the database's place is refused, not followed.
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | (creating ? SQLITE_OPEN_CREATE : 0);
    if (const int result = sqlite3_open_v2(file.c_str(), &connection_, flags, nullptr); result != SQLITE_OK) {
        const LSTATUS status = Fail(result);
        Close();
        return status;
    }
    sqlite3_extended_result_codes(connection_, 1);
    if (creating) RestrictToOwner(file);
    const auto timeout =
        std::min<std::chrono::milliseconds::rep>(busyTimeout_.count(), std::numeric_limits<int>::max());
    sqlite3_busy_timeout(connection_, static_cast<int>(timeout));
    struct stat info {};
    if (::stat(file.c_str(), &info) == 0) {
        opened_ = FileIdentity{info.st_dev, info.st_ino, info.st_mode, info.st_uid, info.st_gid};
    }
    return ERROR_SUCCESS;
}

// The database and the files SQLite keeps beside it (its journal, write-ahead
// log and shared memory) are state: each may be missing, but one that is there
// must be a trusted file, and the folder a trusted one (state_folder.h).
// The folder is proven once per connection: a trusted folder, and every
// folder above it, only root and the caller may change, so it stays trusted
// while the connection lives (a connection that is closed, the file being
// replaced, proves it anew). The files are looked at by every call, with an
// lstat each, so that a link in their place is refused before SQLite
// follows it.
LSTATUS RegistryDatabase::FindTrustedFile(bool creating, std::filesystem::path& file, bool& exists,
                                          struct stat& info) const {
    exists = false;
    if (!trustedFolder_ || (creating && !std::filesystem::is_directory(*trustedFolder_))) {
        std::filesystem::path folder;
        std::string problem;
        const LSTATUS status = OpenStateFolder(file_.parent_path(), creating, folder, problem);
        if (!creating && (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND)) return ERROR_SUCCESS;
        if (status != ERROR_SUCCESS) return status;
        trustedFolder_ = folder;
    }
    file = *trustedFolder_ / file_.filename();
    std::string problem;
    for (const char* companion : {"-journal", "-wal", "-shm", ""}) {
        std::filesystem::path path = file;
        path += companion;
        if (const LSTATUS checked = CheckStateFile(path, problem); checked != ERROR_SUCCESS) return checked;
    }
    if (::lstat(file.c_str(), &info) == 0) {
        exists = true;
        return ERROR_SUCCESS;
    }
    return errno == ENOENT ? ERROR_SUCCESS : WindowsErrorFromErrno(errno);
}

LSTATUS RegistryDatabase::Begin(Purpose purpose) {
    End();
    writing_ = purpose != Purpose::Read;
    empty_ = false;
    std::filesystem::path file;
    bool exists = false;
    struct stat info {};
    if (const LSTATUS status = FindTrustedFile(purpose == Purpose::Write, file, exists, info);
        status != ERROR_SUCCESS) {
        Close();
        return status;
    }
    if (!exists) {
        Close();  // removed since: what the connection has open is gone
        if (purpose != Purpose::Write) {
            empty_ = true;
            return ERROR_SUCCESS;
        }
    } else if (connection_ != nullptr &&
               !(opened_ == FileIdentity{info.st_dev, info.st_ino, info.st_mode, info.st_uid, info.st_gid})) {
        Close();  // replaced, or its permissions changed: open what is there now, with the rights we have now
    }
    if (connection_ == nullptr) {
        if (const LSTATUS status = Open(file, purpose == Purpose::Write); status != ERROR_SUCCESS) return status;
    }
    if (writing_) {
        if (const LSTATUS status = PrepareForWriting(); status != ERROR_SUCCESS) return status;
    }
    // A writer takes the write lock at once, so it waits for another writer
    // here, under the busy time-out, and never half-way through its work.
    if (const LSTATUS status = Execute(writing_ ? "BEGIN IMMEDIATE" : "BEGIN"); status != ERROR_SUCCESS) return status;
    inTransaction_ = true;
    if (schemaKnown_) return ERROR_SUCCESS;
    return CheckSchema();
}

// Both settings stay with the file; FULL makes each commit durable when it
// returns. The WAL files stay when the connection closes, so that readers
// without the right to create them can still read.
LSTATUS RegistryDatabase::PrepareForWriting() {
    if (preparedForWriting_) return ERROR_SUCCESS;
    if (const LSTATUS status = UseWriteAheadLog(); status != ERROR_SUCCESS) return status;
    if (const LSTATUS status = Execute("PRAGMA synchronous = FULL"); status != ERROR_SUCCESS) return status;
    int persist = 1;
    sqlite3_file_control(connection_, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    preparedForWriting_ = true;
    return ERROR_SUCCESS;
}

// Accepts this registry's own database, and an empty file (which a write
// then makes into one); refuses any other SQLite database.
LSTATUS RegistryDatabase::CheckSchema() {
    Statement statement;
    if (const LSTATUS status = Prepare(
            "SELECT (SELECT application_id FROM pragma_application_id),"
            "       (SELECT user_version FROM pragma_user_version),"
            "       (SELECT count(*) FROM sqlite_schema)",
            statement);
        status != ERROR_SUCCESS) {
        return status;
    }
    if (const int result = statement.Step(); result != SQLITE_ROW) return Fail(result);
    const int applicationId = sqlite3_column_int(statement.handle(), 0);
    const int version = sqlite3_column_int(statement.handle(), 1);
    const std::int64_t objects = sqlite3_column_int64(statement.handle(), 2);
    if (applicationId == kApplicationId && version == kSchemaVersion) {
        schemaKnown_ = true;
        return ERROR_SUCCESS;
    }
    if (applicationId != 0 || objects != 0) return ERROR_BADDB;
    if (!writing_) {
        empty_ = true;
        return ERROR_SUCCESS;
    }
    const std::string marks = "PRAGMA application_id = " + std::to_string(kApplicationId) +
                              "; PRAGMA user_version = " + std::to_string(kSchemaVersion);
    if (const LSTATUS status = Execute(kCreateSchema); status != ERROR_SUCCESS) return status;
    return Execute(marks.c_str());  // known to be ours from the next call, once this one has committed
}

LSTATUS RegistryDatabase::Commit() {
    if (!inTransaction_) return ERROR_SUCCESS;
    const LSTATUS status = Execute("COMMIT");
    if (status == ERROR_SUCCESS) inTransaction_ = false;
    return status;
}

// Two connections switching a new database to WAL at the same moment get
// "busy" at once, without SQLite's busy handler: try again within the busy time-out.
LSTATUS RegistryDatabase::UseWriteAheadLog() {
    constexpr auto kRetryPause = std::chrono::milliseconds(10);
    const auto deadline = std::chrono::steady_clock::now() + busyTimeout_;
    for (;;) {
        const int result = sqlite3_exec(connection_, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
        if ((result & 0xFF) != SQLITE_BUSY || std::chrono::steady_clock::now() >= deadline) return Fail(result);
        std::this_thread::sleep_for(kRetryPause);
    }
}

LSTATUS RegistryDatabase::Execute(const char* sql) {
    return Fail(sqlite3_exec(connection_, sql, nullptr, nullptr, nullptr));
}

LSTATUS RegistryDatabase::Prepare(const char* sql, Statement& statement) {
    const auto found = statements_.find(sql);
    if (found != statements_.end()) {
        statement.handle() = found->second;
        return ERROR_SUCCESS;
    }
    sqlite3_stmt* prepared = nullptr;
    if (const int result = sqlite3_prepare_v3(connection_, sql, -1, SQLITE_PREPARE_PERSISTENT, &prepared, nullptr);
        result != SQLITE_OK) {
        sqlite3_finalize(prepared);
        return Fail(result);
    }
    statements_.emplace(sql, prepared);
    statement.handle() = prepared;
    return ERROR_SUCCESS;
}

LSTATUS RegistryDatabase::FindSubkey(RegistryKeyId parent, std::wstring_view name, RegistryKeyId& found) {
    if (empty_) return ERROR_FILE_NOT_FOUND;
    Statement statement;
    if (const LSTATUS status = Prepare("SELECT id FROM registry_key WHERE parent = ?1 AND folded = ?2", statement);
        status != ERROR_SUCCESS) {
        return status;
    }
    statement.Bind(1, parent);
    statement.Bind(2, FoldRegistryName(name));
    const int result = statement.Step();
    if (result == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
    if (result != SQLITE_ROW) return Fail(result);
    found = sqlite3_column_int64(statement.handle(), 0);
    return ERROR_SUCCESS;
}

LSTATUS RegistryDatabase::CreateSubkey(RegistryKeyId parent, std::wstring_view name, RegistryKeyId& created) {
    Statement statement;
    if (const LSTATUS status =
            Prepare("INSERT INTO registry_key (parent, name, folded) VALUES (?1, ?2, ?3)", statement);
        status != ERROR_SUCCESS) {
        return status;
    }
    statement.Bind(1, parent);
    statement.Bind(2, name);
    statement.Bind(3, FoldRegistryName(name));
    if (const int result = statement.Step(); result != SQLITE_DONE) return Fail(result);
    created = sqlite3_last_insert_rowid(connection_);
    return ERROR_SUCCESS;
}

LSTATUS RegistryDatabase::FindKey(std::span<const std::wstring_view> path, RegistryKeyId& found) {
    found = kRegistryRootKey;
    for (const std::wstring_view name : path) {
        if (const LSTATUS status = FindSubkey(found, name, found); status != ERROR_SUCCESS) return status;
    }
    return ERROR_SUCCESS;
}

// Another process may have created some of the keys since this one looked: finds or creates each.
LSTATUS RegistryDatabase::CreateKey(std::span<const std::wstring_view> path, RegistryKeyId& found) {
    found = kRegistryRootKey;
    for (const std::wstring_view name : path) {
        LSTATUS status = FindSubkey(found, name, found);
        if (status == ERROR_FILE_NOT_FOUND) status = CreateSubkey(found, name, found);
        if (status != ERROR_SUCCESS) return status;
    }
    return ERROR_SUCCESS;
}

LSTATUS RegistryDatabase::DeleteKey(RegistryKeyId key) {
    Statement subkeys;
    if (const LSTATUS status = Prepare("SELECT 1 FROM registry_key WHERE parent = ?1 LIMIT 1", subkeys);
        status != ERROR_SUCCESS) {
        return status;
    }
    subkeys.Bind(1, key);
    const int result = subkeys.Step();
    if (result == SQLITE_ROW) return ERROR_ACCESS_DENIED;
    if (result != SQLITE_DONE) return Fail(result);
    for (const char* sql : {"DELETE FROM registry_value WHERE key = ?1", "DELETE FROM registry_key WHERE id = ?1"}) {
        Statement statement;
        if (const LSTATUS status = Prepare(sql, statement); status != ERROR_SUCCESS) return status;
        statement.Bind(1, key);
        if (const int deleted = statement.Step(); deleted != SQLITE_DONE) return Fail(deleted);
    }
    return ERROR_SUCCESS;
}

LSTATUS RegistryDatabase::PutValue(RegistryKeyId key, std::wstring_view name, std::uint32_t type,
                                   std::span<const std::uint8_t> data) {
    Statement statement;
    if (const LSTATUS status = Prepare(
            "INSERT INTO registry_value (key, name, folded, type, data) VALUES (?1, ?2, ?3, ?4, ?5)"
            " ON CONFLICT (key, folded) DO UPDATE SET type = excluded.type, data = excluded.data",
            statement);
        status != ERROR_SUCCESS) {
        return status;
    }
    statement.Bind(1, key);
    statement.Bind(2, name);
    statement.Bind(3, FoldRegistryName(name));
    statement.Bind(4, static_cast<std::int64_t>(type));
    statement.Bind(5, data);
    if (const int result = statement.Step(); result != SQLITE_DONE) return Fail(result);
    return ERROR_SUCCESS;
}

LSTATUS RegistryDatabase::GetValue(RegistryKeyId key, std::wstring_view name, StoredRegistryValue& value) {
    if (empty_) return ERROR_FILE_NOT_FOUND;
    Statement statement;
    if (const LSTATUS status =
            Prepare("SELECT type, data FROM registry_value WHERE key = ?1 AND folded = ?2", statement);
        status != ERROR_SUCCESS) {
        return status;
    }
    statement.Bind(1, key);
    statement.Bind(2, FoldRegistryName(name));
    const int result = statement.Step();
    if (result == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
    if (result != SQLITE_ROW) return Fail(result);
    // A type edited by hand into something that is not a 32-bit number is kept
    // as its low 32 bits; data edited into text is its bytes.
    value.type = static_cast<std::uint32_t>(sqlite3_column_int64(statement.handle(), 0));
    const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(statement.handle(), 1));
    const int size = sqlite3_column_bytes(statement.handle(), 1);
    if (bytes == nullptr && sqlite3_errcode(connection_) == SQLITE_NOMEM) return ERROR_NOT_ENOUGH_MEMORY;
    value.data.assign(bytes, bytes + (bytes != nullptr ? size : 0));
    return ERROR_SUCCESS;
}

}  // namespace kairovel::platform
