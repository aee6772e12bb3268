#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/event_log.h"
#include "platform/last_error.h"
#include "support/fixed_clock.h"
#include "support/syslog_receiver.h"

namespace kairovel::platform {
namespace {

using testing::FixedClock;
using testing::SampleLocalTime;
using testing::SyslogReceiver;

constexpr std::uint32_t kProgramEventId = 0x60020001;

class EventLogTest : public ::testing::Test {
protected:
    bool Report(std::uint16_t type, std::wstring_view text, std::uint32_t eventId = kProgramEventId) {
        const std::wstring_view strings[] = {text};
        return EventLog().ReportEventW(source, type, 0, eventId, nullptr, strings, {});
    }
    static std::string Prefix(int priority) {
        return "<" + std::to_string(priority) + ">Mar  5 07:08:09 Kairovel[" + std::to_string(::getpid()) + "]: ";
    }

    FixedClock clock{SampleLocalTime()};
    ScopedFacility<ClockFacility> clockScope{clock};
    SyslogReceiver receiver;
    HANDLE source = EventLog().RegisterEventSourceW(L"", L"Kairovel");
    void TearDown() override {
        if (source != nullptr) EventLog().DeregisterEventSource(source);
    }
};

TEST_F(EventLogTest, OneDatagramPerEventWithTheSeverityOfItsType) {
    ASSERT_NE(source, nullptr);
    const std::pair<std::uint16_t, int> cases[] = {
        {EVENTLOG_ERROR_TYPE, 27},        // daemon.err
        {EVENTLOG_WARNING_TYPE, 28},      // daemon.warning
        {EVENTLOG_INFORMATION_TYPE, 30},  // daemon.info
    };
    for (const auto& [type, priority] : cases) {
        ASSERT_TRUE(Report(type, L"Corrected clock deviation of 12 milliseconds."));
        EXPECT_EQ(receiver.Receive(), Prefix(priority) + "Corrected clock deviation of 12 milliseconds.");
    }
    EXPECT_EQ(receiver.Receive(std::chrono::milliseconds(50)), std::nullopt);  // nothing more
}

TEST_F(EventLogTest, TheTextIsTheMessageTableEntryWithoutItsLineBreak) {
    ASSERT_NE(source, nullptr);
    // The insertion string is put in as it is: no second round of formatting.
    ASSERT_TRUE(Report(EVENTLOG_ERROR_TYPE, L"Illegal argument /x=%d%s %1 100%"));
    EXPECT_EQ(receiver.Receive(), Prefix(27) + "Illegal argument /x=%d%s %1 100%");
    // Text beyond ASCII goes in the narrow code page; a line break inside stays.
    ASSERT_TRUE(Report(EVENTLOG_INFORMATION_TYPE, L"caf\u00e9\r\nsecond line\r\n"));
    EXPECT_EQ(receiver.Receive(), Prefix(30) + "caf\xC3\xA9\r\nsecond line");
    // An identifier the table does not hold still delivers the strings.
    ASSERT_TRUE(Report(EVENTLOG_WARNING_TYPE, L"lost?", 0x1234));
    EXPECT_EQ(receiver.Receive(), Prefix(28) + "Event 0x00001234: lost?");
    // A missing insertion string shows as it is, as the event viewer shows it.
    ASSERT_TRUE(EventLog().ReportEventW(source, EVENTLOG_INFORMATION_TYPE, 0, kProgramEventId, nullptr, {}, {}));
    EXPECT_EQ(receiver.Receive(), Prefix(30) + "%1");
}

TEST_F(EventLogTest, ALongMessageIsCutAtACharacterNotLost) {
    ASSERT_NE(source, nullptr);
    const std::wstring text(10000, L'\u00e9');  // two bytes each
    ASSERT_TRUE(Report(EVENTLOG_INFORMATION_TYPE, text));
    const auto datagram = receiver.Receive();
    ASSERT_TRUE(datagram.has_value());
    EXPECT_LE(datagram->size(), 8192u);
    EXPECT_GT(datagram->size(), 8000u);
    EXPECT_EQ((datagram->size() - Prefix(30).size()) % 2, 0u);  // whole characters only
}

TEST_F(EventLogTest, NoSystemLoggerMakesReportsFailAtOnce) {
    ASSERT_NE(source, nullptr);
    testing::ScopedEnvironment nowhere("KAIROVEL_SYSLOG", (receiver.socketPath().parent_path() / "none").string());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Report(EVENTLOG_ERROR_TYPE, L"into the void"));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST_F(EventLogTest, ASystemLoggerThatDoesNotReadNeverHoldsTheCaller) {
    ASSERT_NE(source, nullptr);
    const auto start = std::chrono::steady_clock::now();
    int delivered = 0;
    bool refused = false;
    for (int i = 0; i < 100000 && !refused; ++i) {
        if (Report(EVENTLOG_INFORMATION_TYPE, L"flood")) ++delivered;
        else refused = true;
    }
    EXPECT_TRUE(refused);
    EXPECT_GT(delivered, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(EventLogTest, RegistrationAndHandles) {
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(EventLog().RegisterEventSourceW(L"\\\\elsewhere", L"Kairovel"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(EventLog().RegisterEventSourceW(L"", L""), nullptr);

    ASSERT_TRUE(EventLog().DeregisterEventSource(source));
    EXPECT_FALSE(Report(EVENTLOG_ERROR_TYPE, L"after deregistration"));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(EventLog().DeregisterEventSource(source));
    source = nullptr;
}

}  // namespace
}  // namespace kairovel::platform
