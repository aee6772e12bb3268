// The parameter store on Windows against the real registry: sizes, codes and
// rules are the ones the program's registry store relies on everywhere. The
// tests write the service's own keys, so they leave a machine where the
// program is installed alone, and take away whatever they made.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "machine_registry.h"
#include "platform/parameter_store.h"

namespace kairovel::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

class ParameterStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (store.FindKey(StoreKey::Parameters) == ERROR_SUCCESS) GTEST_SKIP() << "the program is installed here";
    }
    void TearDown() override {
        if (IsSkipped()) return;
        store.DeleteKey(StoreKey::Parameters);
        kairovel::testing::DeleteMachineKey(L"SYSTEM\\CurrentControlSet\\Services\\Kairovel");
    }

    ParameterStoreFacility& store = ParameterStore();
    std::size_t failed = 0;
};

TEST_F(ParameterStoreTest, StringsHaveTheWindowsSizesNamesIgnoreCaseAndAMissingKeyIsNotFound) {
    const Bytes console = RegistryString(L"Console");
    const Bytes period{0x10, 0x0E, 0, 0};
    const StoreValue values[] = {{L"LogDevice", REG_SZ, console}, {L"Period", REG_DWORD, period}};
    EXPECT_EQ(store.FindKey(StoreKey::Parameters), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(store.WriteValues(StoreKey::Parameters, IfMissing::Fail, values, failed), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(failed, kKeyFailed);
    ASSERT_EQ(store.WriteValues(StoreKey::Parameters, IfMissing::Create, values, failed), ERROR_SUCCESS);

    std::uint32_t type = 0;
    std::uint32_t size = 0;
    EXPECT_EQ(store.ReadValue(StoreKey::Parameters, L"logdevice", type, {}, size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 16u);  // 2 × (7 + 1)
    Bytes room(100, 0xEE);
    ASSERT_EQ(store.ReadValue(StoreKey::Parameters, L"LOGDEVICE", type, room, size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    std::size_t offset = 0;
    EXPECT_EQ(ReadRegistryString(std::span(room).first(size), offset), L"Console");
    ASSERT_EQ(store.ReadValue(StoreKey::Parameters, L"Period", type, room, size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(Bytes(room.begin(), room.begin() + size), period);
    EXPECT_EQ(store.ReadValue(StoreKey::Parameters, L"Missing", type, room, size), ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(store.DeleteKey(StoreKey::Parameters), ERROR_SUCCESS);
    EXPECT_EQ(store.DeleteKey(StoreKey::Parameters), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(store.ReadValue(StoreKey::Parameters, L"Period", type, room, size), ERROR_FILE_NOT_FOUND);
}

}  // namespace
}  // namespace kairovel::platform
