#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "config/configuration.h"
#include "log/console_logger.h"
#include "log/event_logger.h"
#include "log/file_logger.h"
#include "shell/select_logger.h"
#include "support/log_file_check.h"
#include "support/fixed_clock.h"
#include "support/syslog_receiver.h"
#include "support/temporary_directory.h"

namespace kairovel {
namespace {

using testing::ReadFileBytes;
using testing::ReadLogFile;
using testing::TemporaryDirectory;

TEST(ParseLogFileText, NameAndSizeInKilobytes) {
    struct Case {
        std::wstring text;
        std::wstring fileName;
        std::uint32_t maxSize;
        bool refused;
    };
    const Case cases[] = {
        {L"C:\\logs\\time.log,64", L"C:\\logs\\time.log", 65536, false},
        {L",64", L"Kairovel.log", 65536, false},
        {L"time.log,", L"time.log", 10000, false},
        {L"time.log,0", L"time.log", 10000, false},
        {L"time.log", L"time.log", 10000, false},
        {L",", L"Kairovel.log", 10000, false},
        {L"time.log, \t+12kb", L"time.log", 12288, false},  // blanks and a sign, up to the first other character
        {L"time.log,kb12", L"time.log", 10000, false},      // no leading digits: 0
        {L"a,b,3", L"a", 10000, false},                     // only the first comma counts
        {L"time.log,-0", L"time.log", 10000, false},
        {L"time.log,1048576", L"time.log", 1u << 30, false},  // the largest size
        // Sizes that cannot be meant: not taken, and said so.
        {L"time.log,-5", L"time.log", 10000, true},
        {L"time.log,1048577", L"time.log", 1u << 30, true},
        {L"time.log,99999999999999999999999", L"time.log", 1u << 30, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
        const LogFileChoice choice = ParseLogFileText(c.text);
        EXPECT_EQ(choice.fileName, c.fileName);
        EXPECT_EQ(choice.maxSize, c.maxSize);
        EXPECT_EQ(choice.sizeRefused, c.refused);
    }
}

class SelectLoggerTest : public ::testing::Test {
protected:
    ~SelectLoggerTest() override {
        CloseCurrentLogger();
        TheConfiguration().LogDevice = savedDevice_;
        TheConfiguration().Trace = savedTrace_;
    }
    static void Configure(const std::wstring& device, std::int32_t trace = 2) {
        TheConfiguration().LogDevice = device;
        TheConfiguration().Trace = trace;
    }

    testing::FixedClock clock{testing::SampleLocalTime()};
    platform::ScopedFacility<platform::ClockFacility> clockScope{clock};
    TemporaryDirectory dir;

private:
    std::wstring savedDevice_ = TheConfiguration().LogDevice;
    std::int32_t savedTrace_ = TheConfiguration().Trace;
};

TEST_F(SelectLoggerTest, DeviceWordsInAnyCaseAndTheDefault) {
    for (const wchar_t* word : {L"Console", L"console", L"CONSOLE", L"cOnSoLe"}) {
        Configure(word);
        SelectLogger(L"EventLog");
        EXPECT_NE(dynamic_cast<ConsoleLogger*>(CurrentLogger()), nullptr);
    }
    for (const wchar_t* word : {L"EventLog", L"eventlog", L"EVENTLOG"}) {
        Configure(word);
        SelectLogger(L"Console");
        EXPECT_NE(dynamic_cast<EventLogger*>(CurrentLogger()), nullptr);
    }
    Configure(L"");
    SelectLogger(L"Console");
    EXPECT_NE(dynamic_cast<ConsoleLogger*>(CurrentLogger()), nullptr);
    SelectLogger(L"EventLog");
    EXPECT_NE(dynamic_cast<EventLogger*>(CurrentLogger()), nullptr);
}

TEST_F(SelectLoggerTest, AFileWithItsSizeAndTheConfiguredThreshold) {
    const auto path = dir / "time.log";
    Configure(path.wstring() + L",64", 0);  // trace ERROR
    SelectLogger(L"Console");
    ASSERT_NE(dynamic_cast<FileLogger*>(CurrentLogger()), nullptr);
    EXPECT_EQ(CurrentLogger()->threshold(), 0);
    Log(CurrentLogger(), LevelOk, L"dropped at threshold 0");
    Log(CurrentLogger(), LevelError, L"kept");
    auto content = ReadLogFile(ReadFileBytes(path));
    ASSERT_TRUE(content.wellFormed) << content.problem;
    EXPECT_EQ(content.maxSize, 65536u);
    // The start line is written at level 2 before the threshold is set.
    EXPECT_EQ(content.messages, (std::vector<std::string>{"--start--", "kept"}));

    // Selecting the same file again: the old device lets go of it first, so
    // the new one opens it and adds its own start line.
    Configure(path.wstring() + L",1", 3);
    SelectLogger(L"Console");
    EXPECT_EQ(CurrentLogger()->threshold(), 3);
    Log(CurrentLogger(), LevelTrace, L"trace now");
    content = ReadLogFile(ReadFileBytes(path));
    ASSERT_TRUE(content.wellFormed) << content.problem;
    EXPECT_EQ(content.maxSize, 65536u);  // the file keeps its size
    EXPECT_EQ(content.messages, (std::vector<std::string>{"--start--", "kept", "--start--", "trace now"}));
}

TEST_F(SelectLoggerTest, ACommaAndASizeAloneGiveKairovelLogInTheCurrentFolder) {
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    Configure(L",64");
    SelectLogger(L"Console");
    CloseCurrentLogger();
    std::filesystem::current_path(previous);
    const auto content = ReadLogFile(ReadFileBytes(dir / "Kairovel.log"));
    ASSERT_TRUE(content.wellFormed) << content.problem;
    EXPECT_EQ(content.maxSize, 65536u);
}

TEST_F(SelectLoggerTest, ASizeThatCannotBeMeantIsNotTakenAndSaidSo) {
    const auto path = dir / "time.log";
    Configure(path.wstring() + L",-5");
    SelectLogger(L"Console");
    const auto content = ReadLogFile(ReadFileBytes(path));
    ASSERT_TRUE(content.wellFormed) << content.problem;
    EXPECT_EQ(content.maxSize, 10000u);
    EXPECT_EQ(content.messages,
              (std::vector<std::string>{"--start--",
                                        "Log file size \"-5\" is out of range; the file wraps at 10000 bytes"}));

    // An existing file keeps the size it was made with, and the message says that one.
    const auto older = dir / "older.log";
    Configure(older.wstring() + L",64");
    SelectLogger(L"Console");
    Configure(older.wstring() + L",-5");
    SelectLogger(L"Console");
    const auto reopened = ReadLogFile(ReadFileBytes(older));
    ASSERT_TRUE(reopened.wellFormed) << reopened.problem;
    EXPECT_EQ(reopened.maxSize, 65536u);
    EXPECT_EQ(reopened.messages.back(), "Log file size \"-5\" is out of range; the file wraps at 65536 bytes");
}

TEST_F(SelectLoggerTest, TheEventLogShowsEachLevelWithItsSeverity) {
    testing::SyslogReceiver receiver;
    Configure(L"EventLog", 3);
    SelectLogger(L"Console");
    const std::string source = "Kairovel[" + std::to_string(::getpid()) + "]: ";
    const std::pair<LogLevel, std::string> cases[] = {
        {LevelError, "<27>"}, {LevelInfo, "<28>"}, {LevelOk, "<30>"}, {LevelTrace, "<30>"}};
    for (const auto& [level, priority] : cases) {
        Log(CurrentLogger(), level, L"level %d with %s", level, L"%s %d");
        EXPECT_EQ(receiver.Receive(),
                  priority + "Mar  5 07:08:09 " + source + "level " + std::to_string(level) + " with %s %d");
    }

    // Without a system logger the device drops the messages and the caller goes on.
    {
        testing::ScopedEnvironment nowhere("KAIROVEL_SYSLOG", (dir / "none").string());
        Log(CurrentLogger(), LevelError, L"dropped");
    }
    EXPECT_EQ(receiver.Receive(std::chrono::milliseconds(50)), std::nullopt);
}

}  // namespace
}  // namespace kairovel
