// The console control facility with real signals: the handlers run on a
// thread of their own, outside signal context, and an unhandled event ends
// the process as the signal would.
#include "platform/console_control.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/last_error.h"
#include "platform/win_types.h"

namespace kairovel::platform {
namespace {

// What a handler may take to be called; generous for a loaded machine, since
// passing never waits for it to run out.
constexpr auto kEventWait = std::chrono::seconds(20);

// What the handlers of a test saw.
struct Seen {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<char, std::uint32_t>> calls;  // handler name, event
    std::vector<std::thread::id> threads;
    bool handle = true;  // what the second handler answers
};
Seen seen;

// Records the call and returns what the second handler answers, read before
// the test thread can go on and change it.
bool Record(char name, std::uint32_t event) {
    const std::lock_guard<std::mutex> lock(seen.mutex);
    seen.calls.emplace_back(name, event);
    seen.threads.push_back(std::this_thread::get_id());
    seen.changed.notify_all();
    return seen.handle;
}

bool FirstHandler(std::uint32_t event) {
    Record('a', event);
    return true;
}

bool SecondHandler(std::uint32_t event) { return Record('b', event); }

void SetHandle(bool handle) {
    const std::lock_guard<std::mutex> lock(seen.mutex);
    seen.handle = handle;
}

bool WaitForCalls(std::size_t count) {
    std::unique_lock<std::mutex> lock(seen.mutex);
    return seen.changed.wait_for(lock, kEventWait, [&] { return seen.calls.size() >= count; });
}

class ConsoleControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::lock_guard<std::mutex> lock(seen.mutex);
        seen.calls.clear();
        seen.threads.clear();
        seen.handle = true;
    }
};

TEST_F(ConsoleControlTest, SignalsBecomeConsoleEventsOnAThreadOfTheirOwn) {
    ASSERT_TRUE(ConsoleControl().SetConsoleCtrlHandler(SecondHandler, true));
    ::kill(::getpid(), SIGINT);
    ASSERT_TRUE(WaitForCalls(1));
    ::kill(::getpid(), SIGHUP);
    ASSERT_TRUE(WaitForCalls(2));
    ::kill(::getpid(), SIGTERM);
    ASSERT_TRUE(WaitForCalls(3));
    {
        const std::lock_guard<std::mutex> lock(seen.mutex);
        EXPECT_EQ(seen.calls, (std::vector<std::pair<char, std::uint32_t>>{
                                  {'b', CTRL_C_EVENT}, {'b', CTRL_CLOSE_EVENT}, {'b', CTRL_SHUTDOWN_EVENT}}));
        for (const auto& id : seen.threads) EXPECT_NE(id, std::this_thread::get_id());
    }
    EXPECT_TRUE(ConsoleControl().SetConsoleCtrlHandler(SecondHandler, false));
}

TEST_F(ConsoleControlTest, TheLatestHandlerIsAskedFirstAndAnswerTrueStopsTheChain) {
    ASSERT_TRUE(ConsoleControl().SetConsoleCtrlHandler(FirstHandler, true));
    ASSERT_TRUE(ConsoleControl().SetConsoleCtrlHandler(SecondHandler, true));
    SetHandle(false);  // the second passes the event on to the first
    ::kill(::getpid(), SIGINT);
    ASSERT_TRUE(WaitForCalls(2));
    SetHandle(true);
    ::kill(::getpid(), SIGINT);
    ASSERT_TRUE(WaitForCalls(3));
    {
        const std::lock_guard<std::mutex> lock(seen.mutex);
        EXPECT_EQ(seen.calls, (std::vector<std::pair<char, std::uint32_t>>{
                                  {'b', CTRL_C_EVENT}, {'a', CTRL_C_EVENT}, {'b', CTRL_C_EVENT}}));
    }
    EXPECT_TRUE(ConsoleControl().SetConsoleCtrlHandler(SecondHandler, false));
    EXPECT_TRUE(ConsoleControl().SetConsoleCtrlHandler(FirstHandler, false));
    SetLastError(0);
    EXPECT_FALSE(ConsoleControl().SetConsoleCtrlHandler(FirstHandler, false));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

bool ReportAndPass(std::uint32_t event) {
    std::fprintf(stderr, "handler saw event %u\n", event);
    return false;
}

// Raises the signal and waits, bounded, for it to end the process.
[[noreturn]] void RaiseAndWait(int signalNumber) {
    ::kill(::getpid(), signalNumber);
    std::this_thread::sleep_for(kEventWait);
    std::_Exit(0);
}

using ConsoleControlDeathTest = ConsoleControlTest;

TEST_F(ConsoleControlDeathTest, AnUnhandledEventEndsTheProcessAsItsSignalWould) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ConsoleControl().SetConsoleCtrlHandler(ReportAndPass, true);
            RaiseAndWait(SIGINT);
        },
        ::testing::KilledBySignal(SIGINT), "handler saw event 0");
    EXPECT_EXIT(
        {
            ConsoleControl().SetConsoleCtrlHandler(ReportAndPass, true);
            RaiseAndWait(SIGTERM);
        },
        ::testing::KilledBySignal(SIGTERM), "handler saw event 6");
}

// Passes every event on but the shut-down, at which it says that the process
// still runs and ends it. Events are handled in the order their signals came,
// so when a test sends SIGTERM last, every signal before it has been dealt with.
bool ReportAndPassUntilShutdown(std::uint32_t event) {
    if (event != CTRL_SHUTDOWN_EVENT) return ReportAndPass(event);
    std::fprintf(stderr, "still running\n");
    std::_Exit(3);
}

TEST_F(ConsoleControlDeathTest, CtrlCCanBeIgnoredAndSignalsIgnoredAtStartStayIgnored) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ConsoleControl().SetConsoleCtrlHandler(ReportAndPassUntilShutdown, true);
            ConsoleControl().SetConsoleCtrlHandler(nullptr, true);
            ::kill(::getpid(), SIGINT);
            RaiseAndWait(SIGTERM);
        },
        ::testing::ExitedWithCode(3), "^still running");
    EXPECT_EXIT(
        {
            ::signal(SIGHUP, SIG_IGN);  // as nohup starts a program
            ConsoleControl().SetConsoleCtrlHandler(ReportAndPassUntilShutdown, true);
            ::kill(::getpid(), SIGHUP);
            RaiseAndWait(SIGTERM);
        },
        ::testing::ExitedWithCode(3), "^still running");
}

}  // namespace
}  // namespace kairovel::platform
