// The parameter store of the Linux build on a real database file under a
// temporary KAIROVEL_ROOT.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/parameter_store.h"
#include "platform/posix/sqlite_parameter_store.h"
#include "support/file_permissions.h"
#include "support/process.h"
#include "support/temporary_directory.h"

namespace kairovel::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;
using kairovel::testing::TemporaryDirectory;

constexpr std::chrono::milliseconds kShortBusyTimeout{300};

// Runs SQL on the database file beside the store and returns the first column of every row.
std::vector<std::string> Sql(const std::filesystem::path& file, const std::string& sql) {
    sqlite3* db = nullptr;
    std::vector<std::string> rows;
    if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) {
        ADD_FAILURE() << "cannot open " << file;
        sqlite3_close(db);
        return rows;
    }
    sqlite3_busy_timeout(db, 5000);
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sqlite3_errmsg(db) << " in " << sql;
    } else {
        int result = SQLITE_ROW;
        while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
            const auto* text = sqlite3_column_text(statement, 0);
            rows.emplace_back(text != nullptr ? reinterpret_cast<const char*>(text) : "");
        }
        if (result != SQLITE_DONE) ADD_FAILURE() << sqlite3_errmsg(db) << " in " << sql;
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

class ParameterStoreTest : public ::testing::Test {
protected:
    std::filesystem::path File() const { return root.path() / "registry.sqlite"; }

    LSTATUS Write(std::wstring_view name, std::uint32_t type, const Bytes& data, IfMissing ifMissing = IfMissing::Create,
                  StoreKey key = StoreKey::Parameters) {
        const StoreValue value{name, type, data};
        return store.WriteValues(key, ifMissing, {&value, 1}, failed);
    }

    // The whole value: asks for its size first, then for its data.
    LSTATUS Read(std::wstring_view name, std::uint32_t& type, Bytes& data, StoreKey key = StoreKey::Parameters) {
        std::uint32_t size = 0;
        data.clear();
        LSTATUS status = store.ReadValue(key, name, type, data, size);
        if (status != ERROR_MORE_DATA) return status;
        data.assign(size, 0xEE);
        status = store.ReadValue(key, name, type, data, size);
        data.resize(size);
        return status;
    }

    TemporaryDirectory root;
    kairovel::testing::ScopedEnvironment environment{"KAIROVEL_ROOT", root.path().string()};
    SqliteParameterStore store{kShortBusyTimeout};
    std::size_t failed = 0;
};

TEST_F(ParameterStoreTest, ReadingAnEmptyStoreCreatesNothing) {
    EXPECT_EQ(store.FindKey(StoreKey::Parameters), ERROR_FILE_NOT_FOUND);
    std::uint32_t type = 0;
    Bytes data;
    EXPECT_EQ(Read(L"IsInstalled", type, data), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(store.DeleteKey(StoreKey::Parameters), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Write(L"IsInstalled", REG_BINARY, {1, 0, 0, 0}, IfMissing::Fail), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(failed, kKeyFailed);
    EXPECT_FALSE(std::filesystem::exists(File()));
}

TEST_F(ParameterStoreTest, ValuesKeepTheirTypeAndBytesGiveWindowsSizesAndIgnoreCase) {
    const Bytes console = RegistryString(L"Console");
    ASSERT_EQ(console.size(), 16u);  // 2 × (7 + 1)
    ASSERT_EQ(Write(L"LogDevice", REG_SZ, console), ERROR_SUCCESS);
    // The keys of the registry's path, each name in the case it was made with.
    EXPECT_EQ(Sql(File(), "SELECT name FROM registry_key ORDER BY id"),
              (std::vector<std::string>{"SYSTEM", "CurrentControlSet", "Services", "Kairovel", "Parameters"}));

    // Too little room, none included: ERROR_MORE_DATA and the size needed.
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    EXPECT_EQ(store.ReadValue(StoreKey::Parameters, L"logdevice", type, {}, size), ERROR_MORE_DATA);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 16u);
    Bytes room(200, 0xEE);
    EXPECT_EQ(store.ReadValue(StoreKey::Parameters, L"LOGDEVICE", type, std::span(room).first(15), size),
              ERROR_MORE_DATA);
    EXPECT_EQ(room, Bytes(200, 0xEE));
    // More room than needed: the stored size comes back.
    EXPECT_EQ(store.ReadValue(StoreKey::Parameters, L"LogDevice", type, room, size), ERROR_SUCCESS);
    EXPECT_EQ(size, 16u);
    EXPECT_TRUE(std::equal(console.begin(), console.end(), room.begin()));
    EXPECT_EQ(room[16], 0xEE);

    // Overwriting under another case, letters beyond ASCII too, replaces type
    // and data and keeps the first name.
    ASSERT_EQ(Write(L"Caf\u00e9", REG_SZ, console), ERROR_SUCCESS);
    const Bytes number{0x80, 0x70, 0, 0};
    ASSERT_EQ(Write(L"CAF\u00c9", REG_BINARY, number), ERROR_SUCCESS);
    Bytes data;
    ASSERT_EQ(Read(L"caf\u00e9", type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(data, number);
    EXPECT_EQ(Sql(File(), "SELECT name FROM registry_value ORDER BY name"),
              (std::vector<std::string>{"Caf\xC3\xA9", "LogDevice"}));

    ASSERT_EQ(Write(L"Empty", REG_MULTI_SZ, {}), ERROR_SUCCESS);
    ASSERT_EQ(Read(L"Empty", type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_MULTI_SZ);
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(Read(L"Missing", type, data), ERROR_FILE_NOT_FOUND);
}

TEST(RegistryString, Utf16LittleEndianWithTheWindowsSize) {
    EXPECT_EQ(RegistryString(L"ab"), (Bytes{'a', 0, 'b', 0, 0, 0}));
    EXPECT_EQ(RegistryString(L""), (Bytes{0, 0}));
    // A character beyond U+FFFF is a surrogate pair, as in a Windows wide string.
    EXPECT_EQ(RegistryString(L"\U0001F600"), (Bytes{0x3D, 0xD8, 0x00, 0xDE, 0, 0}));

    std::size_t offset = 0;
    const Bytes pair{0x3D, 0xD8, 0x00, 0xDE, 'x', 0, 0, 0};
    EXPECT_EQ(ReadRegistryString(pair, offset), L"\U0001F600x");
    EXPECT_EQ(offset, 8u);
}

TEST(RegistryString, ReadingStopsAtTheNullOrTheEndOfTheData) {
    // A multi-string walked string by string.
    const Bytes list{'a', 0, 0, 0, 'b', 0, 'c', 0, 0, 0, 0, 0};
    std::size_t offset = 0;
    EXPECT_EQ(ReadRegistryString(list, offset), L"a");
    EXPECT_EQ(ReadRegistryString(list, offset), L"bc");
    EXPECT_EQ(ReadRegistryString(list, offset), L"");
    EXPECT_EQ(offset, 12u);

    // No null at all, and a last odd byte: the characters there are, nothing past the end.
    offset = 0;
    EXPECT_EQ(ReadRegistryString(Bytes{'x', 0, 'y', 0, 'z'}, offset), L"xy");
    EXPECT_EQ(offset, 5u);
    offset = 0;
    EXPECT_EQ(ReadRegistryString(Bytes{}, offset), L"");
    // A lone surrogate stays one character.
    offset = 0;
    EXPECT_EQ(ReadRegistryString(Bytes{0x3D, 0xD8}, offset), std::wstring(1, static_cast<wchar_t>(0xD83D)));
}

TEST_F(ParameterStoreTest, AKeyGoesWithItsValuesButNotWhileItHasSubkeys) {
    ASSERT_EQ(Write(L"IsInstalled", REG_BINARY, {1, 0, 0, 0}), ERROR_SUCCESS);
    ASSERT_EQ(Write(L"TypesSupported", REG_DWORD, {7, 0, 0, 0}, IfMissing::Create, StoreKey::EventLogSource),
              ERROR_SUCCESS);
    Sql(File(), "INSERT INTO registry_key (parent, name, folded) SELECT id, 'Sub', 'SUB' FROM registry_key "
                "WHERE folded = 'PARAMETERS'");
    EXPECT_EQ(store.DeleteKey(StoreKey::Parameters), ERROR_ACCESS_DENIED);
    Sql(File(), "DELETE FROM registry_key WHERE folded = 'SUB'");

    EXPECT_EQ(store.DeleteKey(StoreKey::Parameters), ERROR_SUCCESS);
    EXPECT_EQ(store.DeleteKey(StoreKey::Parameters), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(store.FindKey(StoreKey::EventLogSource), ERROR_SUCCESS);
    EXPECT_EQ(Sql(File(), "SELECT count(*) FROM registry_value"), std::vector<std::string>{"1"});
    // Made again, the key is empty.
    ASSERT_EQ(Write(L"Period", REG_DWORD, {1, 0, 0, 0}), ERROR_SUCCESS);
    std::uint32_t type = 0;
    Bytes data;
    EXPECT_EQ(Read(L"IsInstalled", type, data), ERROR_FILE_NOT_FOUND);
}

// A database the first version of the program made (its rows as they were
// dumped from one) reads back unchanged, and a write keeps its keys.
TEST_F(ParameterStoreTest, ADatabaseOfTheFirstVersionReadsBack) {
    Sql(File(), "PRAGMA journal_mode = WAL");
    for (const char* sql : {
             "PRAGMA application_id = 1263687244", "PRAGMA user_version = 1",
             "CREATE TABLE registry_key (  id INTEGER PRIMARY KEY AUTOINCREMENT,  parent INTEGER NOT NULL,  "
             "name TEXT NOT NULL,  folded TEXT NOT NULL,  UNIQUE (parent, folded))",
             "CREATE TABLE registry_value (  key INTEGER NOT NULL,  name TEXT NOT NULL,  folded TEXT NOT NULL,  "
             "type INTEGER NOT NULL,  data BLOB NOT NULL,  PRIMARY KEY (key, folded)) WITHOUT ROWID",
             "INSERT INTO registry_key VALUES (1, 0, 'SYSTEM', 'SYSTEM'), (2, 1, 'CurrentControlSet', "
             "'CURRENTCONTROLSET'), (3, 2, 'Services', 'SERVICES'), (4, 3, 'EventLog', 'EVENTLOG'), (5, 4, "
             "'Application', 'APPLICATION'), (6, 5, 'Kairovel', 'KAIROVEL'), (7, 3, 'Kairovel', 'KAIROVEL'), "
             "(8, 7, 'Parameters', 'PARAMETERS')",
             "INSERT INTO registry_value VALUES (6, 'TypesSupported', 'TYPESSUPPORTED', 4, X'07000000'), "
             "(8, 'IsInstalled', 'ISINSTALLED', 3, X'01000000'), (8, 'LastAdjustmentValue', "
             "'LASTADJUSTMENTVALUE', 1, X'3100300030003100340034002e003100310037000000')"}) {
        Sql(File(), sql);
    }
    std::uint32_t type = 0;
    Bytes data;
    ASSERT_EQ(Read(L"lastadjustmentvalue", type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(data, RegistryString(L"100144.117"));
    ASSERT_EQ(Read(L"TypesSupported", type, data, StoreKey::EventLogSource), ERROR_SUCCESS);
    EXPECT_EQ(data, (Bytes{7, 0, 0, 0}));

    ASSERT_EQ(Write(L"IsInstalled", REG_BINARY, {0, 0, 0, 0}, IfMissing::Fail), ERROR_SUCCESS);
    EXPECT_EQ(Sql(File(), "SELECT count(*) FROM registry_key"), std::vector<std::string>{"8"});
    EXPECT_EQ(Sql(File(), "SELECT hex(data) FROM registry_value WHERE key = 8 AND name = 'IsInstalled'"),
              std::vector<std::string>{"00000000"});
}

// ---- Faults of the database file ----

TEST_F(ParameterStoreTest, AFileThatIsNotADatabaseIsReportedAndLeftAlone) {
    const std::string text(5000, 'x');
    kairovel::testing::WriteFileBytes(File(), text);
    EXPECT_EQ(store.FindKey(StoreKey::Parameters), ERROR_BADDB);
    EXPECT_EQ(Write(L"x", REG_NONE, {}), ERROR_BADDB);
    EXPECT_EQ(failed, kKeyFailed);
    EXPECT_EQ(kairovel::testing::ReadFileBytes(File()), text);
}

TEST_F(ParameterStoreTest, AnotherProgramsDatabaseIsNotWrittenInto) {
    Sql(File(), "CREATE TABLE notes (text TEXT)");
    EXPECT_EQ(store.FindKey(StoreKey::Parameters), ERROR_BADDB);
    EXPECT_EQ(Write(L"x", REG_NONE, {}), ERROR_BADDB);
    EXPECT_EQ(Sql(File(), "SELECT name FROM sqlite_schema"), std::vector<std::string>{"notes"});
}

// The key is found by reading, so a write that cannot be made fails on its values.
TEST_F(ParameterStoreTest, AReadOnlyFileIsReadButNeverWritten) {
    ASSERT_EQ(Write(L"Period", REG_DWORD, {0x80, 0x70, 0, 0}), ERROR_SUCCESS);
    std::filesystem::permissions(File(), std::filesystem::perms::owner_read | std::filesystem::perms::group_read);

    const kairovel::testing::ScopedFilePermissionsEnforced asAnyUser;
    EXPECT_EQ(store.FindKey(StoreKey::Parameters), ERROR_SUCCESS);
    for (const IfMissing ifMissing : {IfMissing::Fail, IfMissing::Create}) {
        EXPECT_EQ(Write(L"Period", REG_DWORD, {1, 0, 0, 0}, ifMissing), ERROR_ACCESS_DENIED);
        EXPECT_EQ(failed, 0u);
    }
    EXPECT_EQ(store.DeleteKey(StoreKey::Parameters), ERROR_ACCESS_DENIED);
    std::uint32_t type = 0;
    Bytes data;
    EXPECT_EQ(Read(L"Period", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, (Bytes{0x80, 0x70, 0, 0}));
}

TEST_F(ParameterStoreTest, AWriterLockedOutPastTheBusyTimeOutFailsAndChangesNothing) {
    ASSERT_EQ(Write(L"Period", REG_DWORD, {0x80, 0x70, 0, 0}), ERROR_SUCCESS);

    // Another connection holds the write lock.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(File().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Write(L"Period", REG_DWORD, {1, 0, 0, 0}, IfMissing::Fail), ERROR_BUSY);
    EXPECT_EQ(failed, 0u);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, kShortBusyTimeout - std::chrono::milliseconds(50));
    EXPECT_LT(waited, std::chrono::seconds(3));
    // Readers go on while a writer works.
    std::uint32_t type = 0;
    Bytes data;
    EXPECT_EQ(Read(L"Period", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, (Bytes{0x80, 0x70, 0, 0}));

    ASSERT_EQ(sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    EXPECT_EQ(Write(L"Period", REG_DWORD, {1, 0, 0, 0}), ERROR_SUCCESS);
    EXPECT_EQ(Read(L"Period", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, (Bytes{1, 0, 0, 0}));
}

TEST_F(ParameterStoreTest, AWriterWaitsForAnotherWithinTheBusyTimeOut) {
    ASSERT_EQ(Write(L"Period", REG_DWORD, {1, 0, 0, 0}), ERROR_SUCCESS);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(File().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    std::thread releaser([other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    });
    SqliteParameterStore patient;  // the default busy time-out
    const StoreValue value{L"Waited", REG_NONE, {}};
    EXPECT_EQ(patient.WriteValues(StoreKey::Parameters, IfMissing::Fail, {&value, 1}, failed), ERROR_SUCCESS);
    releaser.join();
    sqlite3_close(other);
}

TEST_F(ParameterStoreTest, AFolderThatCannotBeCreatedIsReported) {
    kairovel::testing::WriteFileBytes(root / "file", "not a folder");
    const kairovel::testing::ScopedEnvironment inside("KAIROVEL_ROOT", (root / "file" / "state").string());
    EXPECT_EQ(store.FindKey(StoreKey::Parameters), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Write(L"Period", REG_DWORD, {1, 0, 0, 0}), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(failed, kKeyFailed);
}

TEST_F(ParameterStoreTest, ValuesEditedByHandComeBackAsStored) {
    ASSERT_EQ(Write(L"Period", REG_DWORD, {0x80, 0x70, 0, 0}), ERROR_SUCCESS);
    Sql(File(), "UPDATE registry_value SET type = 3, data = X'0102'");
    std::uint32_t type = 0;
    Bytes data;
    EXPECT_EQ(Read(L"Period", type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(data, (Bytes{1, 2}));
    // Text where a blob belongs is its bytes.
    Sql(File(), "UPDATE registry_value SET data = 'abc'");
    EXPECT_EQ(Read(L"Period", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, (Bytes{'a', 'b', 'c'}));
}

// ---- Two processes ----

TEST_F(ParameterStoreTest, TwoProcessesWritingAtOnceLoseNothing) {
    constexpr int kValuesEach = 100;
    kairovel::testing::ProcessOptions options;
    options.environment["KAIROVEL_ROOT"] = root.path().string();
    kairovel::testing::BackgroundProcess first(
        {PARAMETER_STORE_WRITER, "write", "first", std::to_string(kValuesEach)}, options);
    kairovel::testing::BackgroundProcess second(
        {PARAMETER_STORE_WRITER, "write", "second", std::to_string(kValuesEach)}, options);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(100);
    while ((first.Running() || second.Running()) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(first.Stop(), 0) << first.Output();
    ASSERT_EQ(second.Stop(), 0) << second.Output();

    for (const std::wstring name : {L"first", L"second"}) {
        for (int i = 0; i < kValuesEach; ++i) {
            const std::wstring valueName = name + L"-" + std::to_wstring(i);
            for (const StoreKey key : {StoreKey::Parameters, StoreKey::EventLogSource}) {
                std::uint32_t type = 0;
                Bytes data;
                ASSERT_EQ(Read(valueName, type, data, key), ERROR_SUCCESS);
                EXPECT_EQ(data, RegistryString(valueName));
            }
        }
    }
    EXPECT_EQ(Sql(File(), "SELECT count(*) FROM registry_value"), std::vector<std::string>{"400"});
    EXPECT_EQ(Sql(File(), "PRAGMA journal_mode"), std::vector<std::string>{"wal"});
}

TEST_F(ParameterStoreTest, AWriterKilledAtAnyMomentNeverLeavesHalfAValue) {
    constexpr int kKills = 5;
    kairovel::testing::ProcessOptions options;
    options.environment["KAIROVEL_ROOT"] = root.path().string();
    for (int kill = 0; kill < kKills; ++kill) {
        kairovel::testing::BackgroundProcess writer({PARAMETER_STORE_WRITER, "hammer"}, options);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (writer.Output().find("ready") == std::string::npos && writer.Running() &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_TRUE(writer.Running()) << writer.Output();
        std::this_thread::sleep_for(std::chrono::milliseconds(37 * (kill + 1)));  // a different moment each time
        writer.Stop();  // SIGTERM, whose default is to end the process wherever it is

        std::uint32_t type = 0;
        Bytes blob;
        Bytes copy;
        ASSERT_EQ(Read(L"Blob", type, blob), ERROR_SUCCESS);
        ASSERT_EQ(Read(L"Copy", type, copy), ERROR_SUCCESS);
        ASSERT_EQ(blob.size(), 64u * 1024u);
        EXPECT_EQ(std::count(blob.begin(), blob.end(), blob.front()), static_cast<long>(blob.size()))
            << "a value mixes two writes";
        EXPECT_EQ(blob, copy) << "a write stored one of its values and not the other";
    }
}

}  // namespace
}  // namespace kairovel::platform
