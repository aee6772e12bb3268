#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "log/console_logger.h"
#include "log/logger.h"
#include "platform/console.h"
#include "support/raised.h"

namespace {
std::atomic<long> allocations{0};
}

// GCC pairs the replaced operator new with free() when it inlines them and
// warns; the pairing is right here, since both sides use malloc and free.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

// Counts every allocation of this test program, to show that a suppressed message allocates nothing.
void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace kairovel {
namespace {

class RecordingLogger final : public Logger {
public:
    void Write(LogLevel level, const std::wstring& message) override { lines.emplace_back(level, message); }
    std::vector<std::pair<LogLevel, std::wstring>> lines;
};

TEST(Log, DeliversExactlyTheLevelsUpToTheThreshold) {
    RecordingLogger device;
    EXPECT_EQ(device.threshold(), 2);
    EXPECT_EQ(device.bufferSize(), 200);
    for (LogLevel level = LevelError; level <= LevelTrace; ++level) Log(&device, level, L"level %d", level);
    ASSERT_EQ(device.lines.size(), 3u);
    EXPECT_EQ(device.lines[2].second, L"level 2");

    device.lines.clear();
    device.SetThreshold(LevelError);
    Log(&device, LevelError, L"kept");
    Log(&device, LevelInfo, L"dropped");
    ASSERT_EQ(device.lines.size(), 1u);
    EXPECT_EQ(device.lines[0].second, L"kept");

    device.SetThreshold(-1);  // a negative threshold lets nothing through
    Log(&device, LevelError, L"dropped");
    EXPECT_EQ(device.lines.size(), 1u);
}

TEST(Log, SuppressedMessageFormatsAndAllocatesNothing) {
    RecordingLogger device;
    const std::wstring argument(500, L'a');
    const long before = allocations.load();
    for (int i = 0; i < 100; ++i) Log(&device, LevelTrace, L"%s %d %I64d", argument, i, std::int64_t{i});
    EXPECT_EQ(allocations.load(), before);
    EXPECT_TRUE(device.lines.empty());
}

TEST(Log, NoDeviceIsNeverWrittenThrough) {
    Log(nullptr, LevelError, L"nowhere to go %d", 1);  // must simply return
}

TEST(Log, LongMessagesArriveWhole) {
    RecordingLogger device;
    const std::wstring longText(5000, L'z');
    Log(&device, LevelError, L"[%s]", longText);
    ASSERT_EQ(device.lines.size(), 1u);
    EXPECT_EQ(device.lines[0].second.size(), 5002u);
}

TEST(RaiseError, RaisesTheFinishedText) {
    EXPECT_EQ(testing::RaisedText([] { RaiseError(L"Error %d from getservbyname on %s/%s", 10109, L"time", L"udp"); }),
              L"Error 10109 from getservbyname on time/udp");
    const std::wstring longText(6000, L'q');
    EXPECT_EQ(testing::RaisedText([&] { RaiseError(L"%s", longText); }).size(), 6000u);
}

TEST(RaiseError, CaughtTextLoggedVerbatimKeepsItsPercentSigns) {
    RecordingLogger device;
    try {
        RaiseError(L"Illegal argument %s in command line", L"/x=%d%s");
    } catch (const std::wstring& text) {
        Log(&device, LevelError, L"%s", text);
    }
    ASSERT_EQ(device.lines.size(), 1u);
    EXPECT_EQ(device.lines[0].second, L"Illegal argument /x=%d%s in command line");
}

TEST(LevelWord, SevenCharactersEach) {
    EXPECT_EQ(LevelWord(LevelError), L"(Error)");
    EXPECT_EQ(LevelWord(LevelInfo), L"(Info )");
    EXPECT_EQ(LevelWord(LevelOk), L"(Ok   )");
    EXPECT_EQ(LevelWord(LevelTrace), L"(Trace)");
}

TEST(CurrentLogger, ReplacingDeletesTheOldDevice) {
    struct Counted final : Logger {
        explicit Counted(int& deleted) : deleted_(deleted) {}
        ~Counted() override { ++deleted_; }
        void Write(LogLevel, const std::wstring&) override {}
        int& deleted_;
    };
    int deleted = 0;
    ReplaceCurrentLogger(std::make_unique<Counted>(deleted));
    ReplaceCurrentLogger(std::make_unique<Counted>(deleted));
    EXPECT_EQ(deleted, 1);
    CloseCurrentLogger();
    EXPECT_EQ(deleted, 2);
    EXPECT_EQ(CurrentLogger(), nullptr);
}

class CapturingConsole final : public platform::ConsoleFacility {
public:
    void WriteStandardOutput(std::wstring_view text) override {
        const std::lock_guard<std::mutex> lock(mutex);
        output.emplace_back(text);
    }
    void WriteStandardError(std::wstring_view) override {}
    std::mutex mutex;
    std::vector<std::wstring> output;
};

TEST(ConsoleLogger, WritesTheMessageAndALineFeedInOnePiece) {
    CapturingConsole console;
    platform::ScopedFacility<platform::ConsoleFacility> scope(console);
    ConsoleLogger device;
    Log(&device, LevelError, L"Service stopped and removed");
    Log(&device, LevelTrace, L"not at threshold 2");
    ASSERT_EQ(console.output.size(), 1u);
    EXPECT_EQ(console.output[0], L"Service stopped and removed\n");

    // Lines of two threads stay whole.
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&device, t] {
            for (int i = 0; i < 200; ++i) Log(&device, LevelOk, L"thread %d line %d", t, i);
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(console.output.size(), 801u);
    for (const auto& piece : console.output) EXPECT_EQ(piece.back(), L'\n');
}

}  // namespace
}  // namespace kairovel
