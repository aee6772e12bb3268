#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/sqlite_registry.h"
#include "platform/registry.h"
#include "support/file_permissions.h"
#include "support/process.h"
#include "support/temporary_directory.h"

namespace kairovel::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;
using kairovel::testing::TemporaryDirectory;

constexpr wchar_t kParameters[] = L"SYSTEM\\CurrentControlSet\\Services\\Kairovel\\Parameters";
constexpr std::chrono::milliseconds kShortBusyTimeout{300};

// Runs SQL on the database file beside the stand-in and returns the first column of every row.
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

class RegistryTest : public ::testing::Test {
protected:
    std::filesystem::path File() const { return root.path() / "registry.sqlite"; }

    HKEY Create(const wchar_t* path, REGSAM access = KEY_ALL_ACCESS, std::uint32_t* disposition = nullptr) {
        HKEY key{};
        EXPECT_EQ(registry.RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                                           nullptr, &key, disposition),
                  ERROR_SUCCESS);
        return key;
    }

    LSTATUS Open(const wchar_t* path, REGSAM access, HKEY& key) {
        return registry.RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access, &key);
    }

    LSTATUS Set(HKEY key, const wchar_t* name, std::uint32_t type, const Bytes& data) {
        return registry.RegSetValueExW(key, name, 0, type, data.data(), static_cast<std::uint32_t>(data.size()));
    }

    // The whole value: asks for its size first, then for its data.
    LSTATUS Query(HKEY key, const wchar_t* name, std::uint32_t& type, Bytes& data) {
        std::uint32_t size = 0;
        if (const LSTATUS s = registry.RegQueryValueExW(key, name, nullptr, &type, nullptr, &size); s != ERROR_SUCCESS)
            return s;
        data.assign(size, 0xEE);
        return registry.RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
    }

    TemporaryDirectory root;
    kairovel::testing::ScopedEnvironment environment{"KAIROVEL_ROOT", root.path().string()};
    SqliteRegistry registry{kShortBusyTimeout};
};

TEST_F(RegistryTest, CreateMakesEveryMissingKeyAndOpenIgnoresCase) {
    std::uint32_t disposition = 0;
    HKEY key = Create(kParameters, KEY_WRITE, &disposition);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_EQ(registry.RegCloseKey(key), ERROR_SUCCESS);

    key = Create(L"system\\CURRENTCONTROLSET\\services\\kairovel\\parameters", KEY_WRITE, &disposition);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(registry.RegCloseKey(key), ERROR_SUCCESS);

    HKEY parent{};
    ASSERT_EQ(Open(L"System\\CurrentControlSet\\Services", KEY_READ, parent), ERROR_SUCCESS);
    HKEY child{};
    EXPECT_EQ(registry.RegOpenKeyExW(parent, L"KAIROVEL\\Parameters\\", 0, KEY_READ, &child), ERROR_SUCCESS);
    EXPECT_EQ(registry.RegCloseKey(child), ERROR_SUCCESS);
    EXPECT_EQ(registry.RegCloseKey(parent), ERROR_SUCCESS);

    HKEY missing{HKEY{0x1234}};
    EXPECT_EQ(Open(L"SYSTEM\\CurrentControlSet\\Services\\Other", KEY_READ, missing), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(missing);

    // Letters beyond ASCII fold too; each name keeps the case it was created with.
    registry.RegCloseKey(Create(L"Software\\Caf\u00e9"));
    ASSERT_EQ(Open(L"SOFTWARE\\CAF\u00c9", KEY_READ, key), ERROR_SUCCESS);
    registry.RegCloseKey(key);
    EXPECT_EQ(Sql(File(), "SELECT name FROM registry_key ORDER BY id"),
              (std::vector<std::string>{"SYSTEM", "CurrentControlSet", "Services", "Kairovel", "Parameters",
                                        "Software", "Caf\xC3\xA9"}));
}

TEST_F(RegistryTest, ReadingAnEmptyRegistryCreatesNothing) {
    HKEY key{};
    EXPECT_EQ(Open(kParameters, KEY_READ, key), ERROR_FILE_NOT_FOUND);
    std::uint32_t size = 4;
    std::uint32_t value = 0;
    EXPECT_EQ(registry.RegQueryValueExW(HKEY_LOCAL_MACHINE, L"IsInstalled", nullptr, nullptr,
                                        reinterpret_cast<std::uint8_t*>(&value), &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry.RegDeleteKeyW(HKEY_LOCAL_MACHINE, kParameters), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(std::filesystem::exists(File()));
}

TEST_F(RegistryTest, ValuesKeepTheirTypeAndBytesAndGiveWindowsSizes) {
    const HKEY key = Create(kParameters);
    const Bytes console = RegistryString(L"Console");
    ASSERT_EQ(console.size(), 16u);  // 2 × (7 + 1)
    ASSERT_EQ(Set(key, L"LogDevice", REG_SZ, console), ERROR_SUCCESS);

    // With no data pointer: the type and the size only.
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    EXPECT_EQ(registry.RegQueryValueExW(key, L"logdevice", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 16u);

    // Too little room: ERROR_MORE_DATA, the size needed, and the caller's buffer untouched.
    Bytes small(15, 0xEE);
    size = 15;
    EXPECT_EQ(registry.RegQueryValueExW(key, L"LogDevice", nullptr, &type, small.data(), &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 16u);
    EXPECT_EQ(small, Bytes(15, 0xEE));

    // More room than needed: the stored size comes back.
    Bytes large(200, 0xEE);
    size = 200;
    EXPECT_EQ(registry.RegQueryValueExW(key, L"LogDevice", nullptr, &type, large.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 16u);
    EXPECT_TRUE(std::equal(console.begin(), console.end(), large.begin()));
    EXPECT_EQ(large[16], 0xEE);

    // Overwriting under another case replaces type and data and keeps the first name.
    const Bytes number{0x80, 0x70, 0, 0};
    ASSERT_EQ(Set(key, L"LOGDEVICE", REG_BINARY, number), ERROR_SUCCESS);
    Bytes data;
    ASSERT_EQ(Query(key, L"LogDevice", type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(data, number);
    EXPECT_EQ(Sql(File(), "SELECT name FROM registry_value"), std::vector<std::string>{"LogDevice"});

    // An empty value, and the key's default value (no name).
    ASSERT_EQ(Set(key, L"Empty", REG_MULTI_SZ, {}), ERROR_SUCCESS);
    ASSERT_EQ(Query(key, L"Empty", type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_MULTI_SZ);
    EXPECT_TRUE(data.empty());
    ASSERT_EQ(Set(key, nullptr, REG_DWORD, number), ERROR_SUCCESS);
    ASSERT_EQ(Query(key, L"", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, number);

    EXPECT_EQ(Query(key, L"Missing", type, data), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry.RegCloseKey(key), ERROR_SUCCESS);
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

TEST_F(RegistryTest, DeleteKeyFollowsTheWindowsRules) {
    const HKEY parameters = Create(kParameters);
    ASSERT_EQ(Set(parameters, L"IsInstalled", REG_BINARY, {1, 0, 0, 0}), ERROR_SUCCESS);

    EXPECT_EQ(registry.RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\Nothing"),
              ERROR_FILE_NOT_FOUND);
    // A key with subkeys stays.
    EXPECT_EQ(registry.RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\Kairovel"),
              ERROR_ACCESS_DENIED);
    // The root of the registry cannot be deleted.
    EXPECT_EQ(registry.RegDeleteKeyW(HKEY_LOCAL_MACHINE, L""), ERROR_ACCESS_DENIED);

    EXPECT_EQ(registry.RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"system\\currentcontrolset\\services\\kairovel\\PARAMETERS"),
              ERROR_SUCCESS);
    // A handle still open to the deleted key finds it gone.
    std::uint32_t type = 0;
    Bytes data;
    EXPECT_EQ(Query(parameters, L"IsInstalled", type, data), ERROR_KEY_DELETED);
    EXPECT_EQ(Set(parameters, L"IsInstalled", REG_BINARY, {0, 0, 0, 0}), ERROR_KEY_DELETED);
    EXPECT_EQ(registry.RegCloseKey(parameters), ERROR_SUCCESS);

    // Created again, the key is empty: its values went with it.
    const HKEY again = Create(kParameters);
    EXPECT_EQ(Query(again, L"IsInstalled", type, data), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry.RegCloseKey(again), ERROR_SUCCESS);
    EXPECT_EQ(Sql(File(), "SELECT count(*) FROM registry_value"), std::vector<std::string>{"0"});

    // Now the parent has no subkeys left and goes too.
    EXPECT_EQ(registry.RegDeleteKeyW(HKEY_LOCAL_MACHINE, kParameters), ERROR_SUCCESS);
    EXPECT_EQ(registry.RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\Kairovel"),
              ERROR_SUCCESS);
}

TEST_F(RegistryTest, AccessMasksAreHonoured) {
    registry.RegCloseKey(Create(kParameters));
    const Bytes one{1, 0, 0, 0};

    HKEY reading{};
    ASSERT_EQ(Open(kParameters, KEY_READ, reading), ERROR_SUCCESS);
    EXPECT_EQ(Set(reading, L"IsInstalled", REG_BINARY, one), ERROR_ACCESS_DENIED);
    // No new subkey under a key opened for reading; an existing one opens.
    HKEY sub{};
    EXPECT_EQ(registry.RegCreateKeyExW(reading, L"New", 0, nullptr, 0, KEY_READ, nullptr, &sub, nullptr),
              ERROR_ACCESS_DENIED);

    HKEY writing{};
    ASSERT_EQ(Open(kParameters, KEY_WRITE, writing), ERROR_SUCCESS);
    EXPECT_EQ(Set(writing, L"IsInstalled", REG_BINARY, one), ERROR_SUCCESS);
    std::uint32_t type = 0;
    Bytes data;
    EXPECT_EQ(Query(writing, L"IsInstalled", type, data), ERROR_ACCESS_DENIED);
    EXPECT_EQ(registry.RegCreateKeyExW(writing, L"New", 0, nullptr, 0, KEY_READ, nullptr, &sub, nullptr),
              ERROR_SUCCESS);
    registry.RegCloseKey(sub);
    EXPECT_EQ(registry.RegCreateKeyExW(reading, L"new", 0, nullptr, 0, KEY_READ, nullptr, &sub, nullptr),
              ERROR_SUCCESS);
    registry.RegCloseKey(sub);

    // The store's own mask, 0x4001F, both reads and writes values.
    HKEY store{};
    ASSERT_EQ(Open(kParameters, 0x4001F, store), ERROR_SUCCESS);
    EXPECT_EQ(Set(store, L"IsInstalled", REG_BINARY, one), ERROR_SUCCESS);
    EXPECT_EQ(Query(store, L"IsInstalled", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, one);

    for (const HKEY key : {reading, writing, store}) EXPECT_EQ(registry.RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, BadHandlesAndArgumentsAreRefused) {
    const HKEY key = Create(kParameters);
    EXPECT_EQ(registry.RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(registry.RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(Set(key, L"IsInstalled", REG_BINARY, {1, 0, 0, 0}), ERROR_INVALID_HANDLE);
    HKEY sub{};
    EXPECT_EQ(registry.RegOpenKeyExW(HKEY{}, L"SYSTEM", 0, KEY_READ, &sub), ERROR_INVALID_HANDLE);
    EXPECT_EQ(registry.RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);

    // Empty names inside a path, and names longer than 255 characters.
    EXPECT_EQ(Open(L"SYSTEM\\\\CurrentControlSet", KEY_READ, sub), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Open(L"\\SYSTEM", KEY_READ, sub), ERROR_INVALID_PARAMETER);
    const std::wstring longest(255, L'k');
    const std::wstring tooLong(256, L'k');
    EXPECT_EQ(registry.RegCreateKeyExW(HKEY_LOCAL_MACHINE, tooLong.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &sub,
                                       nullptr),
              ERROR_INVALID_PARAMETER);
    registry.RegCloseKey(Create(longest.c_str()));

    // Data with no room given, a reserved word that is not zero, no place for the handle.
    std::uint8_t byte = 0;
    EXPECT_EQ(registry.RegQueryValueExW(HKEY_LOCAL_MACHINE, L"x", nullptr, nullptr, &byte, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(registry.RegSetValueExW(HKEY_LOCAL_MACHINE, L"x", 1, REG_BINARY, &byte, 1), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(registry.RegSetValueExW(HKEY_LOCAL_MACHINE, L"x", 0, REG_BINARY, nullptr, 1), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(registry.RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
}

// ---- Faults of the database file ----

TEST_F(RegistryTest, AFileThatIsNotADatabaseIsReportedAndLeftAlone) {
    const std::string text(5000, 'x');
    kairovel::testing::WriteFileBytes(File(), text);
    HKEY key{};
    EXPECT_EQ(Open(kParameters, KEY_READ, key), ERROR_BADDB);
    EXPECT_EQ(registry.RegCreateKeyExW(HKEY_LOCAL_MACHINE, kParameters, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                       nullptr),
              ERROR_BADDB);
    EXPECT_EQ(registry.RegSetValueExW(HKEY_LOCAL_MACHINE, L"x", 0, REG_NONE, nullptr, 0), ERROR_BADDB);
    EXPECT_EQ(kairovel::testing::ReadFileBytes(File()), text);
}

TEST_F(RegistryTest, AnotherProgramsDatabaseIsNotWrittenInto) {
    Sql(File(), "CREATE TABLE notes (text TEXT)");
    HKEY key{};
    EXPECT_EQ(Open(kParameters, KEY_READ, key), ERROR_BADDB);
    EXPECT_EQ(registry.RegCreateKeyExW(HKEY_LOCAL_MACHINE, kParameters, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                       nullptr),
              ERROR_BADDB);
    EXPECT_EQ(Sql(File(), "SELECT name FROM sqlite_schema"), std::vector<std::string>{"notes"});
}

TEST_F(RegistryTest, AReadOnlyFileIsReadButNeverWritten) {
    const HKEY key = Create(kParameters);
    ASSERT_EQ(Set(key, L"Period", REG_DWORD, {0x80, 0x70, 0, 0}), ERROR_SUCCESS);
    registry.RegCloseKey(key);
    std::filesystem::permissions(File(), std::filesystem::perms::owner_read | std::filesystem::perms::group_read);

    const kairovel::testing::ScopedFilePermissionsEnforced asAnyUser;
    HKEY reading{};
    ASSERT_EQ(Open(kParameters, KEY_ALL_ACCESS, reading), ERROR_SUCCESS);
    std::uint32_t type = 0;
    Bytes data;
    EXPECT_EQ(Query(reading, L"Period", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, (Bytes{0x80, 0x70, 0, 0}));
    EXPECT_EQ(Set(reading, L"Period", REG_DWORD, {1, 0, 0, 0}), ERROR_ACCESS_DENIED);
    HKEY sub{};
    EXPECT_EQ(registry.RegCreateKeyExW(reading, L"New", 0, nullptr, 0, KEY_READ, nullptr, &sub, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(registry.RegDeleteKeyW(HKEY_LOCAL_MACHINE, kParameters), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Query(reading, L"Period", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, (Bytes{0x80, 0x70, 0, 0}));
    registry.RegCloseKey(reading);
}

TEST_F(RegistryTest, AWriterLockedOutPastTheBusyTimeOutFailsAndChangesNothing) {
    const HKEY key = Create(kParameters);
    ASSERT_EQ(Set(key, L"Period", REG_DWORD, {0x80, 0x70, 0, 0}), ERROR_SUCCESS);

    // Another connection holds the write lock.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(File().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Set(key, L"Period", REG_DWORD, {1, 0, 0, 0}), ERROR_BUSY);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, kShortBusyTimeout - std::chrono::milliseconds(50));
    EXPECT_LT(waited, std::chrono::seconds(3));
    // Readers go on while a writer works.
    std::uint32_t type = 0;
    Bytes data;
    EXPECT_EQ(Query(key, L"Period", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, (Bytes{0x80, 0x70, 0, 0}));

    ASSERT_EQ(sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    EXPECT_EQ(Set(key, L"Period", REG_DWORD, {1, 0, 0, 0}), ERROR_SUCCESS);
    EXPECT_EQ(Query(key, L"Period", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, (Bytes{1, 0, 0, 0}));
    registry.RegCloseKey(key);
}

TEST_F(RegistryTest, AWriterWaitsForAnotherWithinTheBusyTimeOut) {
    registry.RegCloseKey(Create(kParameters));
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(File().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    std::thread releaser([other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    });
    SqliteRegistry patient;  // the default busy time-out
    EXPECT_EQ(patient.RegSetValueExW(HKEY_LOCAL_MACHINE, L"Waited", 0, REG_NONE, nullptr, 0), ERROR_SUCCESS);
    releaser.join();
    sqlite3_close(other);
}

TEST_F(RegistryTest, AFolderThatCannotBeCreatedIsReported) {
    kairovel::testing::WriteFileBytes(root / "file", "not a folder");
    const kairovel::testing::ScopedEnvironment inside("KAIROVEL_ROOT", (root / "file" / "state").string());
    HKEY key{};
    EXPECT_EQ(Open(kParameters, KEY_READ, key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry.RegCreateKeyExW(HKEY_LOCAL_MACHINE, kParameters, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                       nullptr),
              ERROR_PATH_NOT_FOUND);
}

TEST_F(RegistryTest, ValuesEditedByHandComeBackAsStored) {
    const HKEY key = Create(kParameters);
    ASSERT_EQ(Set(key, L"Period", REG_DWORD, {0x80, 0x70, 0, 0}), ERROR_SUCCESS);
    Sql(File(), "UPDATE registry_value SET type = 3, data = X'0102'");
    std::uint32_t type = 0;
    Bytes data;
    EXPECT_EQ(Query(key, L"Period", type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(data, (Bytes{1, 2}));
    // Text where a blob belongs is its bytes.
    Sql(File(), "UPDATE registry_value SET data = 'abc'");
    EXPECT_EQ(Query(key, L"Period", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, (Bytes{'a', 'b', 'c'}));
    registry.RegCloseKey(key);
}

// ---- Two processes ----

TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNothing) {
    constexpr int kValuesEach = 100;
    kairovel::testing::ProcessOptions options;
    options.environment["KAIROVEL_ROOT"] = root.path().string();
    kairovel::testing::BackgroundProcess first({REGISTRY_WRITER, "write", "first", std::to_string(kValuesEach)},
                                               options);
    kairovel::testing::BackgroundProcess second({REGISTRY_WRITER, "write", "second", std::to_string(kValuesEach)},
                                                options);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(100);
    while ((first.Running() || second.Running()) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(first.Stop(), 0) << first.Output();
    ASSERT_EQ(second.Stop(), 0) << second.Output();

    HKEY shared{};
    ASSERT_EQ(Open(L"Software\\KairovelTest\\Shared", KEY_READ, shared), ERROR_SUCCESS);
    for (const std::wstring name : {L"first", L"second"}) {
        HKEY own{};
        ASSERT_EQ(registry.RegOpenKeyExW(shared, name.c_str(), 0, KEY_READ, &own), ERROR_SUCCESS);
        for (int i = 0; i < kValuesEach; ++i) {
            const Bytes expected = RegistryString(name + L":" + std::to_wstring(i));
            std::uint32_t type = 0;
            Bytes data;
            ASSERT_EQ(Query(own, (L"Value" + std::to_wstring(i)).c_str(), type, data), ERROR_SUCCESS);
            EXPECT_EQ(data, expected);
            ASSERT_EQ(Query(shared, (name + L"-" + std::to_wstring(i)).c_str(), type, data), ERROR_SUCCESS);
            EXPECT_EQ(data, expected);
        }
        registry.RegCloseKey(own);
    }
    registry.RegCloseKey(shared);
    EXPECT_EQ(Sql(File(), "SELECT count(*) FROM registry_value"), std::vector<std::string>{"400"});
    EXPECT_EQ(Sql(File(), "PRAGMA journal_mode"), std::vector<std::string>{"wal"});
}

TEST_F(RegistryTest, AWriterKilledAtAnyMomentNeverLeavesHalfAValue) {
    constexpr int kKills = 5;
    kairovel::testing::ProcessOptions options;
    options.environment["KAIROVEL_ROOT"] = root.path().string();
    for (int kill = 0; kill < kKills; ++kill) {
        kairovel::testing::BackgroundProcess writer({REGISTRY_WRITER, "hammer"}, options);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (writer.Output().find("ready") == std::string::npos && writer.Running() &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_TRUE(writer.Running()) << writer.Output();
        std::this_thread::sleep_for(std::chrono::milliseconds(37 * (kill + 1)));  // a different moment each time
        writer.Stop();  // SIGTERM, whose default is to end the process wherever it is

        HKEY key{};
        ASSERT_EQ(Open(L"Software\\KairovelTest\\Shared", KEY_READ, key), ERROR_SUCCESS);
        std::uint32_t type = 0;
        Bytes data;
        ASSERT_EQ(Query(key, L"Blob", type, data), ERROR_SUCCESS);
        ASSERT_EQ(data.size(), 64u * 1024u);
        EXPECT_EQ(std::count(data.begin(), data.end(), data.front()), static_cast<long>(data.size()))
            << "a value mixes two writes";
        registry.RegCloseKey(key);
    }
}

}  // namespace
}  // namespace kairovel::platform
