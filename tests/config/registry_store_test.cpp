#include "config/registry_store.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <sqlite3.h>
#include <string>
#include <vector>

#include "platform/parameter_store.h"
#include "platform/posix/sqlite_parameter_store.h"
#include "platform/process.h"
#include "support/file_permissions.h"
#include "support/raised.h"
#include "support/temporary_directory.h"

namespace kairovel {
namespace {

using Bytes = std::vector<std::uint8_t>;
using platform::StoreKey;
using testing::RaisedText;

const std::wstring kParameterKey = L"SYSTEM\\CurrentControlSet\\Services\\Kairovel\\Parameters";
const std::wstring kEventLogKey = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Kairovel";

class RegistryStoreTest : public ::testing::Test {
protected:
    RegistryStoreTest() { TheConfiguration() = Configuration{}; }
    ~RegistryStoreTest() override { TheConfiguration() = Configuration{}; }

    std::filesystem::path File() const { return root.path() / "registry.sqlite"; }

    // A value as stored, read through the store.
    struct Stored {
        platform::LSTATUS status = 0;
        std::uint32_t type = 0;
        Bytes data;
    };
    Stored Read(StoreKey key, const wchar_t* name) {
        Stored stored;
        std::uint32_t size = 0;
        stored.status = store.ReadValue(key, name, stored.type, stored.data, size);
        if (stored.status != platform::ERROR_MORE_DATA) return stored;
        stored.data.resize(size);
        stored.status = store.ReadValue(key, name, stored.type, stored.data, size);
        return stored;
    }

    // Stores a value as an administrator editing the registry by hand would.
    void Edit(const wchar_t* name, std::uint32_t type, const Bytes& data) {
        const platform::StoreValue value{name, type, data};
        std::size_t failed = 0;
        ASSERT_EQ(store.WriteValues(StoreKey::Parameters, platform::IfMissing::Create, {&value, 1}, failed), 0u);
    }

    void Install() {
        WriteParameters();
        SetInstalled(1);
    }

    static Bytes Concat(std::initializer_list<std::wstring> texts) {
        Bytes out;
        for (const auto& text : texts) {
            const Bytes piece = platform::RegistryString(text);
            out.insert(out.end(), piece.begin(), piece.end());
        }
        return out;
    }

    testing::TemporaryDirectory root;
    testing::ScopedEnvironment environment{"KAIROVEL_ROOT", root.path().string()};
    platform::SqliteParameterStore store{std::chrono::milliseconds(300)};
    platform::ScopedFacility<platform::ParameterStoreFacility> useStore{store};
};

Configuration Example() {
    Configuration c;
    c.NumberOfTimeSources = 3;
    c.SourceName[0] = L"D,corp";
    c.SourceName[1] = L"L,\\\\srv";
    c.SourceName[2] = L"T,time.example.org,3";
    c.LogDevice = L"/var/log/kairovel.log,1000";
    c.ConfigurationFile = L"*http://config.example.org/kairovel.txt";
    c.Period = 3600;
    c.AtTime = {26, 5, 0};
    c.TimeAdjust = 0;
    c.Trace = 3;
    c.RestoreAdjustment = 1;
    c.MaxNetworkDelay = 250;
    c.MaxTimeDeviation = 5000;
    c.MaxTimeSources = 2;
    c.SelectionPeriod = 4;
    c.RestrictedScanIsEnabled = 1;
    return c;
}

TEST_F(RegistryStoreTest, EveryRowIsWrittenWithItsTypeAndSizeAndLoadsBack) {
    TheConfiguration() = Example();
    Install();

    const std::vector<std::wstring> order{
        L"SourceName",     L"LogDevice",       L"ConfigurationFile",      L"Period",          L"AtTime",
        L"TimeAdjust",     L"Trace",           L"RestoreAdjustment",      L"MaxNetworkDelay", L"MaxTimeDeviation",
        L"MaxTimeSources", L"SelectionPeriod", L"RestrictedScanIsEnabled"};
    ASSERT_EQ(ParameterTable().size(), order.size());
    for (std::size_t i = 0; i < order.size(); ++i) EXPECT_EQ(ParameterTable()[i].name, order[i]);

    const auto expect = [&](const wchar_t* name, std::uint32_t type, const Bytes& data) {
        const Stored stored = Read(StoreKey::Parameters, name);
        EXPECT_EQ(stored.status, 0u) << name;
        EXPECT_EQ(stored.type, type) << name;
        EXPECT_EQ(stored.data, data) << name;
    };
    // 2 × (sum of (length + 1) + 1) = 2 × (7 + 8 + 21 + 1)
    expect(L"SourceName", platform::REG_MULTI_SZ, Concat({L"D,corp", L"L,\\\\srv", L"T,time.example.org,3", L""}));
    EXPECT_EQ(Read(StoreKey::Parameters, L"SourceName").data.size(), 74u);
    expect(L"LogDevice", platform::REG_SZ, platform::RegistryString(L"/var/log/kairovel.log,1000"));
    expect(L"ConfigurationFile", platform::REG_SZ,
           platform::RegistryString(L"*http://config.example.org/kairovel.txt"));
    expect(L"Period", platform::REG_DWORD, {0x10, 0x0E, 0, 0});
    expect(L"AtTime", platform::REG_BINARY, {26, 0, 5, 0, 0, 0});
    expect(L"TimeAdjust", platform::REG_BINARY, {0, 0, 0, 0});
    expect(L"Trace", platform::REG_BINARY, {3, 0, 0, 0});
    expect(L"RestoreAdjustment", platform::REG_BINARY, {1, 0, 0, 0});
    expect(L"MaxNetworkDelay", platform::REG_BINARY, {250, 0, 0, 0});
    expect(L"MaxTimeDeviation", platform::REG_BINARY, {0x88, 0x13, 0, 0});
    expect(L"MaxTimeSources", platform::REG_BINARY, {2, 0, 0, 0});
    expect(L"SelectionPeriod", platform::REG_BINARY, {4, 0, 0, 0});
    expect(L"RestrictedScanIsEnabled", platform::REG_BINARY, {1, 0, 0, 0});
    expect(L"IsInstalled", platform::REG_BINARY, {1, 0, 0, 0});

    // The event-log source: the running executable and the three event types.
    const Stored file = Read(StoreKey::EventLogSource, L"EventMessageFile");
    EXPECT_EQ(file.type, platform::REG_EXPAND_SZ);
    EXPECT_EQ(file.data, platform::RegistryString(platform::Process().GetModuleFileNameW()));
    const Stored types = Read(StoreKey::EventLogSource, L"TypesSupported");
    EXPECT_EQ(types.type, platform::REG_DWORD);
    EXPECT_EQ(types.data, (Bytes{7, 0, 0, 0}));

    // Loading replaces every stored field and leaves the run-mode fields alone.
    TheConfiguration() = Configuration{};
    TheConfiguration().StatusFlag = 1;
    GetParametersFromRegistry();
    const Configuration& loaded = TheConfiguration();
    const Configuration expected = Example();
    EXPECT_EQ(loaded.NumberOfTimeSources, 3u);
    EXPECT_EQ(loaded.SourceName, expected.SourceName);
    EXPECT_EQ(loaded.LogDevice, expected.LogDevice);
    EXPECT_EQ(loaded.ConfigurationFile, expected.ConfigurationFile);
    EXPECT_EQ(loaded.Period, 3600u);
    EXPECT_EQ(loaded.AtTime.hours, 26);
    EXPECT_EQ(loaded.AtTime.minutes, 5);
    EXPECT_EQ(loaded.AtTime.seconds, 0);
    EXPECT_EQ(loaded.TimeAdjust, 0u);
    EXPECT_EQ(loaded.Trace, 3);
    EXPECT_EQ(loaded.RestoreAdjustment, 1u);
    EXPECT_EQ(loaded.MaxNetworkDelay, 250u);
    EXPECT_EQ(loaded.MaxTimeDeviation, 5000u);
    EXPECT_EQ(loaded.MaxTimeSources, 2u);
    EXPECT_EQ(loaded.SelectionPeriod, 4u);
    EXPECT_EQ(loaded.RestrictedScanIsEnabled, 1u);
    EXPECT_EQ(loaded.StatusFlag, 1u);
}

TEST_F(RegistryStoreTest, NoSourcesAreStoredAsOneNullAndLoadAsNone) {
    Install();
    EXPECT_EQ(Read(StoreKey::Parameters, L"SourceName").data, (Bytes{0, 0}));
    EXPECT_EQ(Read(StoreKey::Parameters, L"LogDevice").data, (Bytes{0, 0}));
    TheConfiguration().NumberOfTimeSources = 1;
    TheConfiguration().SourceName[0] = L"N,left over";
    GetParametersFromRegistry();
    EXPECT_EQ(TheConfiguration().NumberOfTimeSources, 0u);
    EXPECT_EQ(TheConfiguration().SourceName[0], L"");

    // A list edited down to no bytes at all is no sources either.
    Edit(L"SourceName", platform::REG_MULTI_SZ, {});
    GetParametersFromRegistry();
    EXPECT_EQ(TheConfiguration().NumberOfTimeSources, 0u);
}

TEST_F(RegistryStoreTest, HandEditedValuesLoadAsFarAsTheyFit) {
    Install();
    // Eleven descriptors: the first ten load.
    Edit(L"SourceName", platform::REG_MULTI_SZ,
         Concat({L"N,a0", L"N,a1", L"N,a2", L"N,a3", L"N,a4", L"N,a5", L"N,a6", L"N,a7", L"N,a8", L"N,a9", L"N,a10",
                 L""}));
    GetParametersFromRegistry();
    EXPECT_EQ(TheConfiguration().NumberOfTimeSources, 10u);
    EXPECT_EQ(TheConfiguration().SourceName[9], L"N,a9");

    // No final nulls, a last odd byte: the text there is, never more.
    Bytes list = Concat({L"T,one"});
    const Bytes two{'U', 0, ',', 0, 't', 0, 'w', 0, 'o', 0, 'x'};
    list.insert(list.end(), two.begin(), two.end());
    Edit(L"SourceName", platform::REG_MULTI_SZ, list);
    Edit(L"LogDevice", platform::REG_BINARY, {'C', 0, 'o', 0, 'n', 0});  // no null, and not REG_SZ
    // A number of the right width loads whatever its type.
    Edit(L"Period", platform::REG_BINARY, {0x58, 0x02, 0, 0});
    Edit(L"TimeAdjust", platform::REG_DWORD, {1, 0, 0, 0});
    GetParametersFromRegistry();
    EXPECT_EQ(TheConfiguration().NumberOfTimeSources, 2u);
    EXPECT_EQ(TheConfiguration().SourceName[0], L"T,one");
    EXPECT_EQ(TheConfiguration().SourceName[1], L"U,two");
    EXPECT_EQ(TheConfiguration().LogDevice, L"Con");
    EXPECT_EQ(TheConfiguration().Period, 600u);
    EXPECT_EQ(TheConfiguration().TimeAdjust, 1u);

    // 99 characters and the null fit in 200 bytes.
    Edit(L"LogDevice", platform::REG_SZ, platform::RegistryString(std::wstring(99, L'x')));
    GetParametersFromRegistry();
    EXPECT_EQ(TheConfiguration().LogDevice.size(), 99u);
}

TEST_F(RegistryStoreTest, HandEditedValuesThatDoNotFitAreRefusedWithTheirName) {
    Install();
    const auto load = [] { return RaisedText([] { GetParametersFromRegistry(); }); };

    Edit(L"LogDevice", platform::REG_SZ, platform::RegistryString(std::wstring(100, L'x')));
    EXPECT_EQ(load(), L"Registry query value error 234 on LogDevice");
    // 100 characters with no null fit the 200 bytes but leave no room for one: refused the same.
    Bytes noNull = platform::RegistryString(std::wstring(100, L'x'));
    noNull.resize(200);
    Edit(L"LogDevice", platform::REG_SZ, noNull);
    EXPECT_EQ(load(), L"Registry query value error 234 on LogDevice");
    Edit(L"LogDevice", platform::REG_SZ, {0, 0});
    Edit(L"ConfigurationFile", platform::REG_SZ, platform::RegistryString(std::wstring(100, L'y')));
    EXPECT_EQ(load(), L"Registry query value error 234 on ConfigurationFile");
    Edit(L"ConfigurationFile", platform::REG_SZ, {0, 0});
    Edit(L"SourceName", platform::REG_MULTI_SZ, Bytes(602, 'z'));
    EXPECT_EQ(load(), L"Registry query value error 234 on SourceName");
    Edit(L"SourceName", platform::REG_MULTI_SZ, {0, 0});

    // Numbers of another width would load as wrong numbers.
    Edit(L"Period", platform::REG_DWORD, {0x10, 0x0E});
    EXPECT_EQ(load(), L"Registry query value error 13 on Period");
    Edit(L"Period", platform::REG_QWORD, {0x10, 0x0E, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(load(), L"Registry query value error 234 on Period");
    Edit(L"Period", platform::REG_DWORD, {0x10, 0x0E, 0, 0});
    Edit(L"AtTime", platform::REG_BINARY, {1, 0, 2, 0});
    EXPECT_EQ(load(), L"Registry query value error 13 on AtTime");
    // The rows before the failing one are loaded.
    EXPECT_EQ(TheConfiguration().Period, 3600u);

    // A key that holds the marker and nothing else.
    DeleteParameters();
    Edit(L"IsInstalled", platform::REG_BINARY, {1, 0, 0, 0});
    EXPECT_EQ(load(), L"Registry query value error 2 on SourceName");
}

TEST_F(RegistryStoreTest, TheInstalledMarker) {
    EXPECT_EQ(IsServiceInstalled(), 0u);
    EXPECT_EQ(RaisedText([] { GetParametersFromRegistry(); }),
              L"Registry open key error 2 on " + kParameterKey);
    EXPECT_EQ(RaisedText([] { SetInstalled(1); }), L"Registry open error 2 on " + kParameterKey);

    WriteParameters();
    EXPECT_EQ(IsServiceInstalled(), 0u);  // no marker yet
    EXPECT_EQ(RaisedText([] { GetParametersFromRegistry(); }), L"Registry query value error 2 on IsInstalled");
    SetInstalled(1);
    EXPECT_EQ(IsServiceInstalled(), 1u);
    SetInstalled(0);
    EXPECT_EQ(IsServiceInstalled(), 0u);
    EXPECT_EQ(RaisedText([] { GetParametersFromRegistry(); }),
              L"Kairovel not installed correctly (from GetParametersFromRegistry)");
    // The type is not checked; a marker too large for 4 bytes cannot be read.
    Edit(L"IsInstalled", platform::REG_DWORD, {1, 0, 0, 0});
    EXPECT_EQ(IsServiceInstalled(), 1u);
    Edit(L"IsInstalled", platform::REG_BINARY, {1, 0, 0, 0, 0});
    EXPECT_EQ(IsServiceInstalled(), 0u);
}

TEST_F(RegistryStoreTest, DeletingAndReinstalling) {
    TheConfiguration() = Example();
    Install();
    WriteStringValue(L"LastAdjustmentValue", L"100144.117");

    DeleteParameters();
    EXPECT_EQ(IsServiceInstalled(), 0u);
    EXPECT_EQ(Read(StoreKey::EventLogSource, L"TypesSupported").status, platform::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Read(StoreKey::Parameters, L"LastAdjustmentValue").status, platform::ERROR_FILE_NOT_FOUND);

    // Reinstalling stores only what this installation says: nothing is carried over.
    TheConfiguration() = Configuration{};
    TheConfiguration().Period = 600;
    Install();
    EXPECT_EQ(Read(StoreKey::Parameters, L"LastAdjustmentValue").status, platform::ERROR_FILE_NOT_FOUND);
    TheConfiguration() = Example();
    GetParametersFromRegistry();
    EXPECT_EQ(TheConfiguration().NumberOfTimeSources, 0u);
    EXPECT_EQ(TheConfiguration().Period, 600u);
    EXPECT_EQ(TheConfiguration().LogDevice, L"");

    // A failure on the first key leaves the second in place.
    ASSERT_EQ(store.DeleteKey(StoreKey::EventLogSource), 0u);
    EXPECT_EQ(RaisedText([] { DeleteParameters(); }), L"Registry delete error 2 on " + kEventLogKey);
    EXPECT_EQ(IsServiceInstalled(), 1u);
}

TEST_F(RegistryStoreTest, WhatCouldNotBeLoadedBackIsNeverStored) {
    // 298 characters and two nulls fill the 600 bytes exactly.
    TheConfiguration().NumberOfTimeSources = 1;
    TheConfiguration().SourceName[0] = L"N," + std::wstring(296, L'n');
    Install();
    EXPECT_EQ(Read(StoreKey::Parameters, L"SourceName").data.size(), 600u);
    GetParametersFromRegistry();
    EXPECT_EQ(TheConfiguration().SourceName[0].size(), 298u);
    DeleteParameters();

    // One character more is refused before anything is written.
    TheConfiguration().SourceName[0] += L"n";
    EXPECT_EQ(RaisedText([] { WriteParameters(); }),
              L"SourceName too long to store: 301 characters with separators, at most 300 can be read back");
    EXPECT_EQ(Read(StoreKey::EventLogSource, L"TypesSupported").status, platform::ERROR_FILE_NOT_FOUND);

    TheConfiguration() = Configuration{};
    TheConfiguration().NumberOfTimeSources = 10;
    for (auto& source : TheConfiguration().SourceName) source = L"T," + std::wstring(40, L't');
    EXPECT_EQ(RaisedText([] { WriteParameters(); }),
              L"SourceName too long to store: 431 characters with separators, at most 300 can be read back");

    TheConfiguration() = Configuration{};
    TheConfiguration().LogDevice = std::wstring(100, L'l');
    EXPECT_EQ(RaisedText([] { WriteParameters(); }),
              L"LogDevice too long to store: 100 characters, at most 99 can be read back");
    TheConfiguration().LogDevice.pop_back();
    TheConfiguration().ConfigurationFile = L"/" + std::wstring(99, L'c');
    EXPECT_EQ(RaisedText([] { WriteParameters(); }),
              L"ConfigurationFile too long to store: 100 characters, at most 99 can be read back");
    EXPECT_EQ(Read(StoreKey::EventLogSource, L"TypesSupported").status, platform::ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryStoreTest, StringValues) {
    EXPECT_EQ(RaisedText([] { WriteStringValue(L"LastAdjustmentValue", L"100144.117"); }),
              L"Registry open error 2 on " + kParameterKey);
    std::wstring text = L"unchanged";
    EXPECT_EQ(RaisedText([&] { ReadStringValue(L"LastAdjustmentValue", text); }),
              L"Registry open error 2 on " + kParameterKey);

    Install();
    EXPECT_EQ(RaisedText([&] { ReadStringValue(L"LastAdjustmentValue", text); }),
              L"Registry query value error 2 on LastAdjustmentValue");
    WriteStringValue(L"LastAdjustmentValue", L"100144.117");
    const Stored stored = Read(StoreKey::Parameters, L"LastAdjustmentValue");
    EXPECT_EQ(stored.type, platform::REG_SZ);
    EXPECT_EQ(stored.data.size(), 22u);  // 2 × (10 + 1)
    ReadStringValue(L"lastadjustmentvalue", text);
    EXPECT_EQ(text, L"100144.117");

    // 49 characters are the most that can be read back; 50 are refused and the old value stays.
    const std::wstring longest(49, L'9');
    WriteStringValue(L"LastAdjustmentValue", longest);
    ReadStringValue(L"LastAdjustmentValue", text);
    EXPECT_EQ(text, longest);
    EXPECT_EQ(RaisedText([] { WriteStringValue(L"LastAdjustmentValue", std::wstring(50, L'5')); }),
              L"LastAdjustmentValue too long to store: 50 characters, at most 49 can be read back");
    ReadStringValue(L"LastAdjustmentValue", text);
    EXPECT_EQ(text, longest);

    // Stored by hand: too long, of another type, without a null.
    Edit(L"LastAdjustmentValue", platform::REG_SZ, platform::RegistryString(std::wstring(50, L'5')));
    EXPECT_EQ(RaisedText([&] { ReadStringValue(L"LastAdjustmentValue", text); }),
              L"Registry query value error 234 on LastAdjustmentValue");
    Bytes noNull = platform::RegistryString(std::wstring(50, L'5'));
    noNull.resize(100);
    Edit(L"LastAdjustmentValue", platform::REG_SZ, noNull);
    EXPECT_EQ(RaisedText([&] { ReadStringValue(L"LastAdjustmentValue", text); }),
              L"Registry query value error 234 on LastAdjustmentValue");
    Edit(L"LastAdjustmentValue", platform::REG_BINARY, {'1', 0, 0, 0});
    EXPECT_EQ(RaisedText([&] { ReadStringValue(L"LastAdjustmentValue", text); }),
              L"Registry query value type mismatch on LastAdjustmentValue");
    Edit(L"LastAdjustmentValue", platform::REG_SZ, {'4', 0, '2', 0});
    ReadStringValue(L"LastAdjustmentValue", text);
    EXPECT_EQ(text, L"42");
}

// ---- Faults of the database below the store ----

TEST_F(RegistryStoreTest, ADamagedDatabaseGivesTheStoresMessages) {
    testing::WriteFileBytes(File(), std::string(4096, '\x7f'));
    // Damaged is not "not installed".
    EXPECT_EQ(RaisedText([] { IsServiceInstalled(); }), L"Registry open error 1009 on " + kParameterKey);
    EXPECT_EQ(RaisedText([] { GetParametersFromRegistry(); }), L"Registry open key error 1009 on " + kParameterKey);
    EXPECT_EQ(RaisedText([] { WriteParameters(); }), L"Registry create error 1009 on " + kEventLogKey);
    EXPECT_EQ(RaisedText([] { SetInstalled(1); }), L"Registry open error 1009 on " + kParameterKey);
    EXPECT_EQ(testing::ReadFileBytes(File()), std::string(4096, '\x7f'));
}

TEST_F(RegistryStoreTest, AReadOnlyDatabaseStillLoads) {
    TheConfiguration() = Example();
    Install();
    WriteStringValue(L"LastAdjustmentValue", L"100144.117");
    std::filesystem::permissions(File(), std::filesystem::perms::owner_read);
    const testing::ScopedFilePermissionsEnforced asAnyUser;

    TheConfiguration() = Configuration{};
    GetParametersFromRegistry();
    EXPECT_EQ(TheConfiguration().Period, 3600u);
    EXPECT_EQ(RaisedText([] { SetInstalled(0); }), L"Registry set value error 5 on IsInstalled");
    EXPECT_EQ(RaisedText([] { WriteStringValue(L"LastAdjustmentValue", L"1.000"); }),
              L"Registry set value error 5 on LastAdjustmentValue");
    std::wstring text;
    ReadStringValue(L"LastAdjustmentValue", text);
    EXPECT_EQ(text, L"100144.117");
    EXPECT_EQ(IsServiceInstalled(), 1u);
}

TEST_F(RegistryStoreTest, ADatabaseLockedPastTheBusyTimeOut) {
    Install();
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(File().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(RaisedText([] { SetInstalled(0); }), L"Registry set value error 170 on IsInstalled");
    EXPECT_EQ(RaisedText([] { WriteStringValue(L"LastAdjustmentValue", L"1.000"); }),
              L"Registry set value error 170 on LastAdjustmentValue");
    EXPECT_EQ(IsServiceInstalled(), 1u);
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    SetInstalled(0);
    EXPECT_EQ(IsServiceInstalled(), 0u);
}

}  // namespace
}  // namespace kairovel
