// The immediate mode in-process: a scripted source, the virtual clock, and the
// real TIME server thread on port 37 of this test's own network namespace.
#include "sync/immediate_mode.h"

#include <gmock/gmock.h>

#include <chrono>

#include "sources/source_factory.h"
#include "sources/time_server.h"
#include "support/loopback.h"
#include "sync_fixture.h"

namespace kairovel::testing {
namespace {

using ::testing::ElementsAre;
using namespace std::chrono_literals;

class ImmediateModeTest : public SyncTest {
protected:
    ImmediateModeTest() {
        Config().ImmediateFlag = 1;
        Config().Period = 10;
    }
};

TEST_F(ImmediateModeTest, SlewsOverTheWindowThenPutsTheAdjustmentBackAndServesTime) {
    AddSource(L"T,peer,1");
    sources_.Script(L"peer", {Reply(3200, 0)});
    virtualClock_.SetTrueErrorMilliseconds(3200);
    RunImmediate();

    EXPECT_NEAR(virtualClock_.TrueErrorMilliseconds(), 0.0, 1.0);
    const auto changes = virtualClock_.AdjustmentChanges();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].adjustment, 36000u);  // 640 per mille slower for the 5 s window
    EXPECT_FALSE(changes[0].disabled);
    EXPECT_EQ(changes[1].atMilliseconds - changes[0].atMilliseconds, 5000);  // put back right after it
    EXPECT_TRUE(changes[1].disabled);
    EXPECT_THAT(Logged(LevelInfo), ElementsAre(L"Clock will be adjusted over approx. 5 seconds..."));
    EXPECT_THAT(Logged(LevelOk), ElementsAre(L"Corrected clock deviation of 3200 milliseconds."));
    const auto lines = log_.Lines();
    EXPECT_EQ(lines.back().text, L"Corrected clock deviation of 3200 milliseconds.");
    EXPECT_EQ(lines[lines.size() - 2].text, L"Adjustment restored to 100000 (1)");
}

// The pass asks the program's own TIME server, which answers with the
// (virtual) clock's time while the pass runs, and is gone when the mode is
// over: nothing of it is left to run into the program's exit.
TEST_F(ImmediateModeTest, TheTimeServerServesDuringThePassAndEndsWithIt) {
    AddSource(L"T,127.0.0.1,1");
    NetworkSourceFactory network;
    const ScopedSourceFactory useNetwork(network);
    RunImmediate();
    EXPECT_THAT(Logged(LevelOk), ElementsAre(L"Corrected clock deviation of 0 milliseconds."));
    EXPECT_TRUE(Logged(LevelError).empty());
    EXPECT_EQ(ReadTcpReply(kTimePort, {}, 1s), std::nullopt);
}

TEST_F(ImmediateModeTest, AFailedPassIsLoggedNotRaised) {
    AddSource(L"T,dead,1");
    RunImmediate();
    EXPECT_THAT(Logged(LevelError), ::testing::Contains(L"No configured time sources returned a reply. Time not changed."));
    EXPECT_TRUE(Logged(LevelOk).empty());
    EXPECT_TRUE(virtualClock_.AdjustmentChanges().empty());
}

}  // namespace
}  // namespace kairovel::testing
