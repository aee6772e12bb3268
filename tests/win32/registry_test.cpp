// The registry facility on Windows against the real registry: sizes, codes
// and rules are the ones the program's registry store relies on everywhere.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/registry.h"

namespace kairovel::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A key of this test's own, removed with everything under it when the test ends.
class RegistryTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (auto path = created_.rbegin(); path != created_.rend(); ++path) {
            registry.RegDeleteKeyW(HKEY_LOCAL_MACHINE, path->c_str());
        }
    }

    std::wstring Path(const std::wstring& below) const { return kRoot + (below.empty() ? L"" : L"\\" + below); }

    HKEY Create(const std::wstring& below, std::uint32_t* disposition = nullptr) {
        const std::wstring path = Path(below);
        HKEY key{};
        EXPECT_EQ(registry.RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           KEY_ALL_ACCESS, nullptr, &key, disposition),
                  ERROR_SUCCESS);
        created_.push_back(path);
        return key;
    }

    static inline const std::wstring kRoot = L"SOFTWARE\\KairovelTests";
    RegistryFacility& registry = Registry();

private:
    std::vector<std::wstring> created_;
};

TEST_F(RegistryTest, KeysAreCreatedOnceAndOpenedWithoutRegardToCase) {
    std::uint32_t disposition = 0;
    HKEY key = Create(L"Parameters", &disposition);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_EQ(registry.RegCloseKey(key), ERROR_SUCCESS);
    key = Create(L"PARAMETERS", &disposition);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(registry.RegCloseKey(key), ERROR_SUCCESS);

    HKEY opened{};
    EXPECT_EQ(registry.RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"software\\kairoveltests\\parameters", 0, KEY_READ, &opened),
              ERROR_SUCCESS);
    EXPECT_EQ(registry.RegCloseKey(opened), ERROR_SUCCESS);
    EXPECT_EQ(registry.RegOpenKeyExW(HKEY_LOCAL_MACHINE, Path(L"Missing").c_str(), 0, KEY_READ, &opened),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, StringsHaveTheWindowsSizesAndShortBuffersAskForMore) {
    const HKEY key = Create(L"Parameters");
    const Bytes console = RegistryString(L"Console");
    ASSERT_EQ(registry.RegSetValueExW(key, L"LogDevice", 0, REG_SZ, console.data(),
                                      static_cast<std::uint32_t>(console.size())),
              ERROR_SUCCESS);

    std::uint32_t type = 0;
    std::uint32_t size = 0;
    EXPECT_EQ(registry.RegQueryValueExW(key, L"logdevice", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 16u);  // 2 × (7 + 1)

    Bytes data(4);
    size = 4;
    EXPECT_EQ(registry.RegQueryValueExW(key, L"LogDevice", nullptr, &type, data.data(), &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 16u);
    data.assign(size, 0xEE);
    EXPECT_EQ(registry.RegQueryValueExW(key, L"LogDevice", nullptr, &type, data.data(), &size), ERROR_SUCCESS);
    std::size_t offset = 0;
    EXPECT_EQ(ReadRegistryString(data, offset), L"Console");

    const std::uint32_t period = 3600;
    ASSERT_EQ(registry.RegSetValueExW(key, L"Period", 0, REG_DWORD, reinterpret_cast<const std::uint8_t*>(&period),
                                      sizeof period),
              ERROR_SUCCESS);
    std::uint32_t read = 0;
    size = sizeof read;
    EXPECT_EQ(registry.RegQueryValueExW(key, L"Period", nullptr, &type, reinterpret_cast<std::uint8_t*>(&read), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(read, period);

    EXPECT_EQ(registry.RegDeleteValueW(key, L"Period"), ERROR_SUCCESS);
    EXPECT_EQ(registry.RegDeleteValueW(key, L"Period"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry.RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, AKeyWithSubkeysIsNotDeletedAndAReadOnlyKeyIsNotWritten) {
    registry.RegCloseKey(Create(L""));
    registry.RegCloseKey(Create(L"Parameters"));
    EXPECT_EQ(registry.RegDeleteKeyW(HKEY_LOCAL_MACHINE, Path(L"").c_str()), ERROR_ACCESS_DENIED);

    HKEY readOnly{};
    ASSERT_EQ(registry.RegOpenKeyExW(HKEY_LOCAL_MACHINE, Path(L"Parameters").c_str(), 0, KEY_READ, &readOnly),
              ERROR_SUCCESS);
    const std::uint32_t one = 1;
    EXPECT_EQ(registry.RegSetValueExW(readOnly, L"IsInstalled", 0, REG_DWORD,
                                      reinterpret_cast<const std::uint8_t*>(&one), sizeof one),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(registry.RegCloseKey(readOnly), ERROR_SUCCESS);
}

}  // namespace
}  // namespace kairovel::platform
