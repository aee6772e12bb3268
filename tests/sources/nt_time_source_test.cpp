// The NT machine and domain source against a scripted network management
// facility on virtual time: which machine is asked, the messages of both
// failures, the milliseconds of the hundredths, the delay and the buffers.
#include <gmock/gmock.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/facility.h"
#include "platform/netapi.h"
#include "platform/sim/virtual_clock.h"
#include "sources/nt_time_source.h"
#include "support/raised.h"
#include "support/recording_logger.h"

namespace kairovel {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using platform::NET_API_STATUS;
using platform::TIME_OF_DAY_INFO;
using testing::RaisedText;

// 1999-04-17 09:03:43 UTC with the given hundredths.
TIME_OF_DAY_INFO ExampleTimeOfDay(std::uint32_t hundredths) {
    TIME_OF_DAY_INFO timeOfDay{};
    timeOfDay.tod_year = 1999;
    timeOfDay.tod_month = 4;
    timeOfDay.tod_day = 17;
    timeOfDay.tod_hours = 9;
    timeOfDay.tod_mins = 3;
    timeOfDay.tod_secs = 43;
    timeOfDay.tod_hunds = hundredths;
    timeOfDay.tod_timezone = -60;  // plays no part: the fields are UTC
    timeOfDay.tod_weekday = 6;
    return timeOfDay;
}

// Answers as scripted, takes the scripted (virtual) time for each call and
// records what it was asked and which buffers are still out.
class ScriptedNetworkManagement final : public platform::NetworkManagementFacility {
public:
    struct Call {
        std::wstring function;
        std::wstring argument;  // the domain of NetGetDCName, the machine of NetRemoteTOD
    };

    NET_API_STATUS controllerStatus = platform::NERR_Success;
    std::wstring controller = L"\\\\PDC1";
    std::uint32_t controllerMilliseconds = 0;
    NET_API_STATUS timeStatus = platform::NERR_Success;
    TIME_OF_DAY_INFO timeOfDay = ExampleTimeOfDay(0);
    std::uint32_t timeMilliseconds = 0;

    NET_API_STATUS NetGetDCName(const wchar_t* serverName, const wchar_t* domainName,
                                platform::LPBYTE* buffer) override {
        calls_.push_back({L"NetGetDCName", domainName != nullptr ? domainName : L"<null>"});
        serverWasNamed_ = serverWasNamed_ || (serverName != nullptr && *serverName != L'\0');
        platform::Clock().Sleep(controllerMilliseconds);
        if (controllerStatus != platform::NERR_Success) return controllerStatus;
        *buffer = Hand(controller.c_str(), (controller.size() + 1) * sizeof(wchar_t));
        return platform::NERR_Success;
    }

    NET_API_STATUS NetRemoteTOD(const wchar_t* uncServerName, platform::LPBYTE* buffer) override {
        calls_.push_back({L"NetRemoteTOD", uncServerName != nullptr ? uncServerName : L"<null>"});
        platform::Clock().Sleep(timeMilliseconds);
        if (timeStatus != platform::NERR_Success) return timeStatus;
        *buffer = Hand(&timeOfDay, sizeof timeOfDay);
        return platform::NERR_Success;
    }

    NET_API_STATUS NetApiBufferFree(void* buffer) override {
        if (outstanding_.erase(buffer) == 0) return platform::ERROR_INVALID_PARAMETER;
        ::operator delete(buffer);
        return platform::NERR_Success;
    }

    const std::vector<Call>& Calls() const { return calls_; }
    std::size_t OutstandingBuffers() const { return outstanding_.size(); }
    bool ServerWasNamed() const { return serverWasNamed_; }

    ~ScriptedNetworkManagement() override {
        for (void* buffer : outstanding_) ::operator delete(buffer);
    }

private:
    platform::LPBYTE Hand(const void* data, std::size_t bytes) {
        void* buffer = ::operator new(bytes);
        std::memcpy(buffer, data, bytes);
        outstanding_.insert(buffer);
        return static_cast<platform::LPBYTE>(buffer);
    }

    std::vector<Call> calls_;
    std::set<void*> outstanding_;
    bool serverWasNamed_ = false;
};

class NtTimeSourceTest : public ::testing::Test {
protected:
    // The time of the named source, or the text it raised.
    std::wstring TimeOf(const std::wstring& name) {
        NtTimeSource source(name);
        const std::wstring raised = RaisedText([&] {
            TimeValue received(2000, 1, 1, 0, 0, 0, 0);
            source.GetTime(received);
            lastTime_ = received.Format();
        });
        lastDelay_ = source.GetDelay().Milliseconds();
        lastPeer_ = source.GetPeerName();
        return raised == L"<nothing raised>" ? lastTime_ : raised;
    }

    platform::VirtualClock clock_;
    platform::ScopedFacility<platform::ClockFacility> clockScope_{clock_};
    ScriptedNetworkManagement network_;
    platform::ScopedFacility<platform::NetworkManagementFacility> networkScope_{network_};
    testing::ScopedRecordingLogger log_;
    std::wstring lastTime_;
    std::wstring lastPeer_;
    std::int64_t lastDelay_ = -1;
};

TEST_F(NtTimeSourceTest, AMachineNameIsAskedDirectlyWithoutAControllerLookup) {
    network_.timeOfDay = ExampleTimeOfDay(99);
    network_.timeMilliseconds = 12;
    EXPECT_EQ(TimeOf(L"\\\\TIMEHOST"), L"1999/04/17 09:03:43.995");
    ASSERT_EQ(network_.Calls().size(), 1u);
    EXPECT_EQ(network_.Calls()[0].function, L"NetRemoteTOD");
    EXPECT_EQ(network_.Calls()[0].argument, L"\\\\TIMEHOST");
    EXPECT_EQ(lastPeer_, L"\\\\TIMEHOST");
    EXPECT_EQ(lastDelay_, 12);
    EXPECT_THAT(log_.Texts(LevelTrace),
                ElementsAre(L"\\\\TIMEHOST sent buffer with 1999/04/17 09:03:43.995 after 12 msecs."));
    EXPECT_EQ(network_.OutstandingBuffers(), 0u);
}

TEST_F(NtTimeSourceTest, ADomainIsAskedThroughItsControllerWhoseLookupIsNotTimed) {
    network_.controllerMilliseconds = 300;
    network_.timeMilliseconds = 7;
    EXPECT_EQ(TimeOf(L"CORP"), L"1999/04/17 09:03:43.005");
    ASSERT_EQ(network_.Calls().size(), 2u);
    EXPECT_EQ(network_.Calls()[0].function, L"NetGetDCName");
    EXPECT_EQ(network_.Calls()[0].argument, L"CORP");
    EXPECT_FALSE(network_.ServerWasNamed());  // the local machine answers the lookup
    EXPECT_EQ(network_.Calls()[1].function, L"NetRemoteTOD");
    EXPECT_EQ(network_.Calls()[1].argument, L"\\\\PDC1");
    EXPECT_EQ(lastPeer_, L"\\\\PDC1");
    EXPECT_EQ(lastDelay_, 7);
    EXPECT_THAT(log_.Texts(LevelTrace),
                ElementsAre(L"\\\\PDC1 sent buffer with 1999/04/17 09:03:43.005 after 7 msecs."));
    EXPECT_EQ(network_.OutstandingBuffers(), 0u);
}

TEST_F(NtTimeSourceTest, TheEmptyNameAsksForTheOwnDomainsController) {
    EXPECT_EQ(TimeOf(L""), L"1999/04/17 09:03:43.005");
    ASSERT_EQ(network_.Calls().size(), 2u);
    EXPECT_EQ(network_.Calls()[0].function, L"NetGetDCName");
    EXPECT_EQ(network_.Calls()[0].argument, L"");
    EXPECT_EQ(lastPeer_, L"\\\\PDC1");

    network_.controllerStatus = platform::NERR_DCNotFound;
    EXPECT_EQ(TimeOf(L""), L"Could not get the name of the PDC of my domain.  Error 2453 returned by NetGetDCName.");
}

TEST_F(NtTimeSourceTest, AFailedControllerLookupNamesTheDomainAndAsksNoTime) {
    network_.controllerStatus = platform::ERROR_NO_SUCH_DOMAIN;
    EXPECT_EQ(TimeOf(L"CORP"), L"Could not get the name of the PDC of CORP.  Error 1355 returned by NetGetDCName.");
    ASSERT_EQ(network_.Calls().size(), 1u);
    EXPECT_EQ(lastDelay_, 0);
    EXPECT_EQ(lastPeer_, L"");
    EXPECT_EQ(network_.OutstandingBuffers(), 0u);
}

TEST_F(NtTimeSourceTest, ALookupThatNamesNoControllerHasFoundNone) {
    network_.controller = L"";
    EXPECT_EQ(TimeOf(L"CORP"), L"Could not get the name of the PDC of CORP.  Error 2453 returned by NetGetDCName.");
    EXPECT_EQ(network_.Calls().size(), 1u);
    EXPECT_EQ(network_.OutstandingBuffers(), 0u);
}

TEST_F(NtTimeSourceTest, AFailedTimeOfDayCallKeepsItsDelayAndNamesTheMachine) {
    network_.timeStatus = platform::ERROR_BAD_NETPATH;
    network_.timeMilliseconds = 40;
    EXPECT_EQ(TimeOf(L"\\\\TIMEHOST"), L"Could not get the time from \\\\TIMEHOST. Error 53 returned by NetRemoteTOD.");
    EXPECT_EQ(lastDelay_, 40);

    network_.timeStatus = platform::ERROR_ACCESS_DENIED;
    network_.timeMilliseconds = 3;
    EXPECT_EQ(TimeOf(L"CORP"), L"Could not get the time from \\\\PDC1. Error 5 returned by NetRemoteTOD.");
    EXPECT_EQ(lastDelay_, 3);
    EXPECT_EQ(lastPeer_, L"\\\\PDC1");
    EXPECT_THAT(log_.Texts(LevelTrace), IsEmpty());
    EXPECT_EQ(network_.OutstandingBuffers(), 0u);
}

TEST_F(NtTimeSourceTest, TheHundredthsBecomeTheMiddleOfTheirHundredth) {
    network_.timeOfDay = ExampleTimeOfDay(0);
    EXPECT_EQ(TimeOf(L"\\\\TIMEHOST"), L"1999/04/17 09:03:43.005");
    network_.timeOfDay = ExampleTimeOfDay(50);
    EXPECT_EQ(TimeOf(L"\\\\TIMEHOST"), L"1999/04/17 09:03:43.505");
    // Hundredths past 99 are taken modulo 100, as the calendar fields stay what they said.
    network_.timeOfDay = ExampleTimeOfDay(123);
    EXPECT_EQ(TimeOf(L"\\\\TIMEHOST"), L"1999/04/17 09:03:43.235");
}

TEST_F(NtTimeSourceTest, AnImpossibleTimeOfDayIsRefusedAndItsBufferFreed) {
    const auto refusal = [](const std::wstring& fields) {
        return L"Invalid time of day received from \\\\TIMEHOST: " + fields + L".";
    };
    const struct {
        std::uint32_t TIME_OF_DAY_INFO::*field;
        std::uint32_t value;
        std::wstring fields;
    } impossible[] = {
        {&TIME_OF_DAY_INFO::tod_month, 13, L"1999/13/17 9:3:43"},
        {&TIME_OF_DAY_INFO::tod_month, 0, L"1999/0/17 9:3:43"},
        {&TIME_OF_DAY_INFO::tod_month, 65'537, L"1999/65537/17 9:3:43"},  // would be month 1 in 16 bits
        {&TIME_OF_DAY_INFO::tod_day, 0, L"1999/4/0 9:3:43"},
        {&TIME_OF_DAY_INFO::tod_day, 31, L"1999/4/31 9:3:43"},
        {&TIME_OF_DAY_INFO::tod_hours, 25, L"1999/4/17 25:3:43"},
        {&TIME_OF_DAY_INFO::tod_mins, 60, L"1999/4/17 9:60:43"},
        {&TIME_OF_DAY_INFO::tod_secs, 60, L"1999/4/17 9:3:60"},
        {&TIME_OF_DAY_INFO::tod_year, 1600, L"1600/4/17 9:3:43"},
        {&TIME_OF_DAY_INFO::tod_year, 71'535, L"71535/4/17 9:3:43"},  // would be 5999 in 16 bits
    };
    for (const auto& record : impossible) {
        network_.timeOfDay = ExampleTimeOfDay(0);
        network_.timeOfDay.*record.field = record.value;
        EXPECT_EQ(TimeOf(L"\\\\TIMEHOST"), refusal(record.fields));
        EXPECT_EQ(network_.OutstandingBuffers(), 0u);
    }
    EXPECT_THAT(log_.Texts(LevelTrace), IsEmpty());
}

TEST(TimeOfDayCheck, AcceptsTheCalendarsOwnEdges) {
    TIME_OF_DAY_INFO leapDay = ExampleTimeOfDay(0);
    leapDay.tod_year = 2000;
    leapDay.tod_month = 2;
    leapDay.tod_day = 29;
    EXPECT_TRUE(IsPossibleTimeOfDay(leapDay));
    leapDay.tod_year = 1900;
    EXPECT_FALSE(IsPossibleTimeOfDay(leapDay));

    TIME_OF_DAY_INFO lastInstant = ExampleTimeOfDay(99);
    lastInstant.tod_year = 30'827;
    lastInstant.tod_month = 12;
    lastInstant.tod_day = 31;
    lastInstant.tod_hours = 23;
    lastInstant.tod_mins = 59;
    lastInstant.tod_secs = 59;
    EXPECT_TRUE(IsPossibleTimeOfDay(lastInstant));
    lastInstant.tod_year = 30'828;
    EXPECT_FALSE(IsPossibleTimeOfDay(lastInstant));
}

TEST(NtTimeSourceConstruction, AsksNothingUntilItIsAskedForTheTime) {
    ScriptedNetworkManagement network;
    const platform::ScopedFacility<platform::NetworkManagementFacility> scope(network);
    const NtTimeSource source(L"CORP");
    EXPECT_TRUE(network.Calls().empty());
    EXPECT_EQ(source.GetPeerName(), L"");
    EXPECT_EQ(source.GetDelay().Milliseconds(), 0);
}

}  // namespace
}  // namespace kairovel
