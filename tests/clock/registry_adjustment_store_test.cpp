// The base adjustment in the real registry stand-in, under a temporary KAIROVEL_ROOT.
#include "clock/registry_adjustment_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "clock/local_clock.h"
#include "config/registry_store.h"
#include "platform/sim/virtual_clock.h"
#include "support/raised.h"
#include "support/recording_logger.h"
#include "support/temporary_directory.h"

namespace kairovel {
namespace {

using ::testing::ElementsAre;
using testing::RaisedText;

class RegistryAdjustmentStoreTest : public ::testing::Test {
protected:
    RegistryAdjustmentStoreTest() { TheConfiguration() = Configuration{}; }
    ~RegistryAdjustmentStoreTest() override { TheConfiguration() = Configuration{}; }

    // The parameter key exists once the service is installed.
    void Install() {
        WriteParameters();
        SetInstalled(1);
    }

    testing::TemporaryDirectory root_;
    testing::ScopedEnvironment environment_{"KAIROVEL_ROOT", root_.path().string()};
    testing::ScopedRecordingLogger log_;
    RegistryAdjustmentStore store_;
};

TEST_F(RegistryAdjustmentStoreTest, PersistsThreeDecimalsAndReadsThemBack) {
    Install();
    store_.Persist(100144.1174);
    std::wstring text;
    ReadStringValue(L"LastAdjustmentValue", text);
    EXPECT_EQ(text, L"100144.117");
    EXPECT_DOUBLE_EQ(store_.Read(), 100144.117);
    EXPECT_THAT(log_.Texts(LevelTrace), ElementsAre(L"Persisting adjustment value of 100144.117.",
                                                    L"Read previously persisted adjustment value of 100144.117."));
}

TEST_F(RegistryAdjustmentStoreTest, RegistryErrorsAreRaisedUnchanged) {
    EXPECT_EQ(RaisedText([&] { store_.Persist(1.0); }),
              L"Registry open error 2 on SYSTEM\\CurrentControlSet\\Services\\Kairovel\\Parameters");
    Install();
    EXPECT_EQ(RaisedText([&] { store_.Read(); }), L"Registry query value error 2 on LastAdjustmentValue");
    EXPECT_TRUE(log_.Texts(LevelTrace).empty());
}

TEST_F(RegistryAdjustmentStoreTest, AHandEditedValueIsReadAsItsLeadingNumber) {
    Install();
    WriteStringValue(L"LastAdjustmentValue", L"  99999.5 per tick");
    EXPECT_DOUBLE_EQ(store_.Read(), 99999.5);
    WriteStringValue(L"LastAdjustmentValue", L"fast");
    EXPECT_TRUE(std::isnan(store_.Read()));
}

TEST_F(RegistryAdjustmentStoreTest, TheLocalClockTakesOverAPlausibleStoredValueOnly) {
    platform::VirtualClock clock;  // start-up adjustment 100000
    platform::ScopedFacility<platform::ClockFacility> useClock(clock);
    Install();
    {
        LocalClockState state;
        LocalClock local(state);
        store_.Persist(100040.0);
        local.UseStoredAdjustment(store_);
        EXPECT_DOUBLE_EQ(state.ClockAdjust, 100040.0);
        EXPECT_EQ(clock.AdjustmentChanges().back().adjustment, 100040u);
    }
    for (const wchar_t* text : {L"100060.000", L"not a number"}) {
        LocalClockState state;
        LocalClock local(state);
        WriteStringValue(L"LastAdjustmentValue", text);
        local.UseStoredAdjustment(store_);
        EXPECT_EQ(state.ClockAdjust, 0.0) << text;
    }
}

}  // namespace
}  // namespace kairovel
