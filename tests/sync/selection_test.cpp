// Source selection: the ordering, the check and the countdown.
#include "sync/selection.h"

#include <gmock/gmock.h>

#include "sync/decision.h"
#include "sync_fixture.h"

namespace kairovel::testing {
namespace {

using ::testing::ElementsAre;

class SelectionTest : public SyncTest {
protected:
    void Table(std::initializer_list<SourceResult> records) {
        ActiveSourceTable& table = ActiveSources();
        table.count = 0;
        for (const SourceResult& record : records) table.records[table.count++] = record;
    }
    std::vector<std::wstring> Descriptors() {
        std::vector<std::wstring> out;
        for (std::uint32_t i = 0; i < ActiveSources().count; ++i) out.push_back(ActiveSources().records[i].descriptor);
        return out;
    }
    // Runs passes of the whole synchronisation and returns which sources each pass asked.
    std::vector<std::vector<std::wstring>> Passes(int count) {
        std::vector<std::vector<std::wstring>> asked;
        for (int i = 0; i < count; ++i) {
            sources_.Forget();
            std::wstring result;
            try {
                SynchronizeOnce(result, clock_);
            } catch (const std::wstring&) {
                // A pass in which the selected sources were silent.
            }
            std::vector<std::wstring> names;
            for (const auto& created : sources_.Created()) {
                if (names.empty() || names.back() != created.second) names.push_back(created.second);
            }
            asked.push_back(names);
        }
        return asked;
    }
};

const SourceResult kA{L"T,A", 400, 40, 5};
const SourceResult kB{L"T,B", 0, kSilentDelay, 0};
const SourceResult kC{L"T,C", 150, 15, 5};

TEST_F(SelectionTest, OrdersByDelayAndKeepsTheBestM) {
    Config().MaxTimeSources = 2;
    Config().SelectionPeriod = 1;
    Table({kA, kB, kC});
    SelectSources();
    EXPECT_THAT(Descriptors(), ElementsAre(L"T,C", L"T,A"));
    EXPECT_EQ(ActiveSources().records[2].descriptor, L"T,B");  // still there, behind the count
    EXPECT_THAT(Logged(LevelTrace),
                ElementsAre(L"The top 2 of following machines will be selected. Sort based on network delay.",
                            L"Source [0] = T,C with delay of 15 msecs; deviation of 150 msecs.",
                            L"Source [1] = T,A with delay of 40 msecs; deviation of 400 msecs.",
                            L"Source [2] = T,B with delay of -unknown- msecs; deviation of 0 msecs."));
    EXPECT_TRUE(Logged(LevelError).empty());
    EXPECT_EQ(SelectionCountdown(), 0u);
}

TEST_F(SelectionTest, TooFewRepliesEndTheSelectionAtOnce) {
    Config().MaxTimeSources = 3;
    Config().SelectionPeriod = 4;
    Table({kA, kB, kC});
    SelectSources();
    EXPECT_THAT(Descriptors(), ElementsAre(L"T,C", L"T,A"));
    EXPECT_EQ(SelectionCountdown(), 0u);
    EXPECT_THAT(Logged(LevelError),
                ElementsAre(L"Only 2 time sources provided valid replies; selection will done during next period."));
}

TEST_F(SelectionTest, EqualDelaysKeepTheirTableOrder) {
    Config().MaxTimeSources = 3;
    Config().SelectionPeriod = 1;
    Table({{L"T,x", 1, 7, 1}, {L"T,y", 2, 3, 1}, {L"T,z", 3, 7, 1}, {L"T,w", 4, 3, 1}});
    SelectSources();
    EXPECT_THAT(Descriptors(), ElementsAre(L"T,y", L"T,w", L"T,x"));
    EXPECT_TRUE(CompareByDelay(ActiveSources(), 0, 2));
    EXPECT_FALSE(CompareByDelay(ActiveSources(), 0, 1));
}

TEST_F(SelectionTest, ACountdownPassKeepsTheOrderAndChecksTheLastKeptSource) {
    Config().MaxTimeSources = 2;
    SelectionCountdown() = 2;
    // The delays changed since the selection: the order stays.
    Table({{L"T,first", 0, kSilentDelay, 0}, {L"T,second", 5, 90, 2}, kC});
    SelectSources();
    EXPECT_THAT(Descriptors(), ElementsAre(L"T,first", L"T,second"));
    EXPECT_EQ(SelectionCountdown(), 1u);
    EXPECT_TRUE(Logged(LevelTrace).empty());
    std::int64_t average = 0;
    std::uint32_t replied = 0;
    AverageDeviation(average, replied);
    EXPECT_EQ(replied, 1u);  // the silent one is left out of the average

    Table({{L"T,first", 0, kSilentDelay, 0}, {L"T,second", 0, kSilentDelay, 0}});
    SelectSources();
    EXPECT_EQ(ActiveSources().count, 0u);
    EXPECT_EQ(SelectionCountdown(), 0u);
}

TEST_F(SelectionTest, ASelectionLastsItsPeriodThenEverySourceIsAskedAgain) {
    Config().Period = 10;
    Config().TimeAdjust = 0;
    Config().MaxTimeSources = 1;
    Config().SelectionPeriod = 3;
    AddSource(L"T,slow,1");
    AddSource(L"T,fast,1");
    sources_.Script(L"slow", {Reply(100, 50)});
    sources_.Script(L"fast", {Reply(100, 5)});
    const auto asked = Passes(5);
    EXPECT_THAT(asked, ElementsAre(ElementsAre(L"slow", L"fast"), ElementsAre(L"fast"), ElementsAre(L"fast"),
                                   ElementsAre(L"slow", L"fast"), ElementsAre(L"fast")));
}

TEST_F(SelectionTest, AFailedCheckBringsTheReloadForward) {
    Config().Period = 10;
    Config().TimeAdjust = 0;
    Config().MaxTimeSources = 1;
    Config().SelectionPeriod = 4;
    AddSource(L"T,slow,1");
    AddSource(L"T,fast,1");
    sources_.Script(L"slow", {Reply(100, 50)});
    sources_.Script(L"fast", {Reply(100, 5), Failure(L"gone"), Failure(L"gone"), Reply(100, 5)});
    const auto asked = Passes(3);
    // Pass 2 finds the selected source silent: pass 3 asks everyone again.
    EXPECT_THAT(asked, ElementsAre(ElementsAre(L"slow", L"fast"), ElementsAre(L"fast"), ElementsAre(L"slow", L"fast")));
}

}  // namespace
}  // namespace kairovel::testing
