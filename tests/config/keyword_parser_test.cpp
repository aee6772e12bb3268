#include "config/keyword_parser.h"

#include <type_traits>

#include "configuration_fixture.h"

namespace kairovel::testing {
namespace {

using KeywordParser = ConfigurationTest;

TEST(ConfigurationRecord, DefaultsAndWidths) {
    const Configuration c;
    EXPECT_EQ(c.NumberOfTimeSources, 0u);
    EXPECT_EQ(c.SourceName.size(), 10u);
    EXPECT_EQ(c.Period, 28800u);
    EXPECT_EQ(Configuration::MinimumPeriod, 10u);
    EXPECT_EQ(c.AtTime.hours, 24);
    EXPECT_EQ(c.AtTime.minutes, 0);
    EXPECT_EQ(c.AtTime.seconds, 0);
    EXPECT_EQ(c.MaxNetworkDelay, 1000u);
    EXPECT_EQ(c.MaxTimeDeviation, 600000u);
    EXPECT_EQ(c.TimeAdjust, 1u);
    EXPECT_EQ(c.RestoreAdjustment, 2u);
    EXPECT_EQ(c.Trace, 2);
    EXPECT_EQ(c.MaxTimeSources + c.SelectionPeriod + c.RestrictedScanIsEnabled, 0u);
    EXPECT_TRUE(c.LogDevice.empty() && c.ConfigurationFile.empty() && c.ControlOperation.empty());
    EXPECT_EQ(c.InstallFlag + c.RemoveFlag + c.StatusFlag + c.HelpFlag + c.ImmediateFlag + c.ControlFlag, 0u);
    static_assert(sizeof c.Period == 4 && sizeof c.AtTime.hours == 2 && sizeof c.MaxNetworkDelay == 4);
    static_assert(std::is_unsigned_v<decltype(c.MaxTimeDeviation)> && std::is_signed_v<decltype(c.Trace)>);
}

TEST_F(KeywordParser, PrefixKeywordAndSeparatorRules) {
    Parse({L"-DOMAIN:corp", L"/domains=x", L"/statusx", L"/Tcp_Machine=host:37"});
    ASSERT_EQ(Config().NumberOfTimeSources, 3u);
    EXPECT_EQ(Config().SourceName[0], L"D,corp");
    EXPECT_EQ(Config().SourceName[1], L"D,x");
    EXPECT_EQ(Config().SourceName[2], L"T,host:37");  // only the first ":" or "=" separates
    EXPECT_EQ(Config().StatusFlag, 1u);

    EXPECT_EQ(ParseError({L"status"}), L"Argument status in command line does not start with / or -");
    EXPECT_EQ(ParseError({L"\"/log=a"}), L"Argument \"/log=a in command line does not start with / or -");
    EXPECT_EQ(ParseError({L""}), L"Argument  in command line does not start with / or -");
    EXPECT_EQ(ParseError({L"/foo"}), L"Illegal argument /foo in command line");
    EXPECT_EQ(ParseError({L"/"}), L"Illegal argument / in command line");
    EXPECT_EQ(ParseError({L"-=domain"}), L"Illegal argument -=domain in command line");
}

TEST_F(KeywordParser, SourcesKeepTheirValueBehindThePrefix) {
    Parse({L"/domain", L"/ntp_machine", L"/nt_machine=srv", L"/nt_machine=\\srv", L"/nt_machine=\\\\srv",
           L"/udp_machine=time.example,3", L"/ntp_machine=pool:123", L"/domain="});
    const std::wstring expected[] = {L"D,",          L"N,",           L"L,\\\\srv", L"L,\\\\srv",
                                     L"L,\\\\srv",   L"U,time.example,3", L"N,pool:123",  L"D,"};
    ASSERT_EQ(Config().NumberOfTimeSources, 8u);
    for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(Config().SourceName[i], expected[i]) << i;
}

TEST_F(KeywordParser, SourcesThatNeedAName) {
    const std::wstring nt = L"Machine name required with nt_machine argument\n";
    const std::wstring tcp = L"Machine name or internet address required with tcp_machine argument\n";
    const std::wstring udp = L"Machine name or internet address required with udp_machine argument\n";
    EXPECT_EQ(ParseError({L"/nt_machine"}), nt);
    EXPECT_EQ(ParseError({L"/nt_machine="}), nt);
    EXPECT_EQ(ParseError({L"/tcp_machine"}), tcp);
    EXPECT_EQ(ParseError({L"/tcp_machine:"}), tcp);
    EXPECT_EQ(ParseError({L"/udp_machine"}), udp);
    EXPECT_EQ(ParseError({L"/udp_machine="}), udp);
    EXPECT_EQ(Config().NumberOfTimeSources, 0u);
}

TEST_F(KeywordParser, TheEleventhSourceIsRefusedBeforeItsValueIsLookedAt) {
    std::vector<std::wstring> ten;
    for (int i = 0; i < 10; ++i) ten.push_back(L"/tcp_machine=host" + std::to_wstring(i));
    Parse(ten);
    EXPECT_EQ(Config().NumberOfTimeSources, 10u);
    EXPECT_EQ(Config().SourceName[9], L"T,host9");
    for (const wchar_t* eleventh : {L"/domain=x", L"/nt_machine", L"/udp_machine=", L"/ntp_machine"}) {
        EXPECT_EQ(ParseError({eleventh}), L"Too many time sources in command line") << eleventh;
    }
    EXPECT_EQ(Config().NumberOfTimeSources, 10u);
}

TEST_F(KeywordParser, Period) {
    Parse({L"/period=0:0:5"});
    EXPECT_EQ(Config().Period, 10u);
    Parse({L"/period=1"});
    EXPECT_EQ(Config().Period, 3600u);
    Parse({L"/period=0:90"});
    EXPECT_EQ(Config().Period, 5400u);
    Parse({L"/period=2:30:15"});
    EXPECT_EQ(Config().Period, 9015u);
    Parse({L"/period"});
    EXPECT_EQ(Config().Period, 9015u);
    Parse({L"/period="});
    EXPECT_EQ(Config().Period, 10u);
    Parse({L"/period=1:x"});
    EXPECT_EQ(Config().Period, 3600u);
    EXPECT_EQ(ParseError({L"/period=x"}), L"illegal period (x) specified\n");
    EXPECT_EQ(ParseError({L"/period=:30"}), L"illegal period (:30) specified\n");
    EXPECT_EQ(Config().Period, 3600u);
}

TEST_F(KeywordParser, StartTime) {
    Parse({L"/at=12:30:00"});
    EXPECT_EQ(Config().AtTime.hours, 12);
    EXPECT_EQ(Config().AtTime.minutes, 30);
    Parse({L"/at:23:45"});  // the seconds keep their value
    EXPECT_EQ(Config().AtTime.hours, 23);
    EXPECT_EQ(Config().AtTime.minutes, 45);
    EXPECT_EQ(Config().AtTime.seconds, 0);
    Parse({L"/at=+2:00:00"});
    EXPECT_EQ(Config().AtTime.hours, 26);
    EXPECT_EQ(Config().AtTime.minutes, 0);
    Parse({L"/at=25:00:07", L"/attach"});  // /attach is /at without a value: nothing changes
    EXPECT_EQ(Config().AtTime.hours, 25);
    EXPECT_EQ(Config().AtTime.seconds, 7);
    EXPECT_EQ(ParseError({L"/at=+x:10"}), L"illegal period (x:10) specified\n");
    EXPECT_EQ(ParseError({L"/at=noon"}), L"illegal period (noon) specified\n");
}

TEST_F(KeywordParser, TimeTripleKeepsLowSixteenBitsAndMissingFields) {
    StartTime fields{1, 2, 3};
    ParseTimeTriple(L"", fields);
    EXPECT_EQ(fields.hours + fields.minutes + fields.seconds, 6);
    ParseTimeTriple(L"70000:75", fields);  // no range check: 70000 keeps its low 16 bits
    EXPECT_EQ(fields.hours, 70000 % 65536);
    EXPECT_EQ(fields.minutes, 75);
    EXPECT_EQ(fields.seconds, 3);
    ParseTimeTriple(L"-1: 4:5", fields);
    EXPECT_EQ(fields.hours, 65535);
    EXPECT_EQ(fields.minutes, 4);
    EXPECT_EQ(fields.seconds, 5);
    ParseTimeTriple(L"7 :8", fields);  // the separator is exactly ":"
    EXPECT_EQ(fields.hours, 7);
    EXPECT_EQ(fields.minutes, 4);
    EXPECT_EQ(RaisedText([&] { ParseTimeTriple(L"%d h", fields); }), L"illegal period (%d h) specified\n");
}

TEST_F(KeywordParser, Adjust) {
    Parse({L"/adjust=No"});
    EXPECT_EQ(Config().TimeAdjust, 0u);
    Parse({L"/adjust"});
    EXPECT_EQ(Config().TimeAdjust, 1u);
    Parse({L"/adjust=false", L"/adjust="});
    EXPECT_EQ(Config().TimeAdjust, 1u);
    Parse({L"/adjust=FALSE", L"/adjust=yEs"});
    EXPECT_EQ(Config().TimeAdjust, 1u);
    Parse({L"/adjust:true", L"/adjust:no"});
    EXPECT_EQ(Config().TimeAdjust, 0u);
    EXPECT_EQ(ParseError({L"/adjust=on"}),
              L"Illegal switch on in adjust argument; permitted ones are true, false, yes and no.");
    EXPECT_EQ(ParseError({L"/adjust= yes"}),
              L"Illegal switch  yes in adjust argument; permitted ones are true, false, yes and no.");
}

TEST_F(KeywordParser, Trace) {
    Parse({L"/trace"});
    EXPECT_EQ(Config().Trace, 3);
    Parse({L"/trace=Success"});
    EXPECT_EQ(Config().Trace, 2);
    Parse({L"/trace=ERROR"});
    EXPECT_EQ(Config().Trace, 0);
    Parse({L"/trace:debug"});
    EXPECT_EQ(Config().Trace, 3);
    EXPECT_EQ(ParseError({L"/trace="}),
              L"Illegal level  in trace argument; permitted levels are debug, success and error.");
    EXPECT_EQ(ParseError({L"/trace=info"}),
              L"Illegal level info in trace argument; permitted levels are debug, success and error.");
    EXPECT_EQ(ParseError({L"/trace=1"}),
              L"Illegal level 1 in trace argument; permitted levels are debug, success and error.");
}

TEST_F(KeywordParser, MillisecondLimitsAreLeadingNumbersAndNeverErrors) {
    Parse({L"/max_network_delay=1500", L"/max_deviation=0"});
    EXPECT_EQ(Config().MaxNetworkDelay, 1500u);
    EXPECT_EQ(Config().MaxTimeDeviation, 0u);
    Parse({L"/max_deviation=none"});
    EXPECT_EQ(Config().MaxTimeDeviation, 0u);
    Parse({L"/max_deviation=-1", L"/max_network_delay= \t250ms"});
    EXPECT_EQ(Config().MaxTimeDeviation, 4294967295u);
    EXPECT_EQ(Config().MaxNetworkDelay, 250u);
    Parse({L"/max_network_delay"});  // no value: nothing changes
    EXPECT_EQ(Config().MaxNetworkDelay, 250u);
    Parse({L"/max_network_delay=+42"});
    EXPECT_EQ(Config().MaxNetworkDelay, 42u);
    // Only the first 19 characters count; a number beyond 32 bits stops at the largest one.
    Parse({L"/max_deviation=0000000000000000001234"});
    EXPECT_EQ(Config().MaxTimeDeviation, 1u);
    Parse({L"/max_deviation=99999999999"});
    EXPECT_EQ(Config().MaxTimeDeviation, 2147483647u);
}

TEST_F(KeywordParser, Select) {
    Parse({L"/select=4,3,R"});
    EXPECT_EQ(Config().MaxTimeSources, 4u);
    EXPECT_EQ(Config().SelectionPeriod, 3u);
    EXPECT_EQ(Config().RestrictedScanIsEnabled, 1u);
    Parse({L"/select=4,3"});
    EXPECT_EQ(Config().RestrictedScanIsEnabled, 0u);
    Parse({L"/select=5,6,r", L"/select=3"});  // the period is kept, the flag cleared
    EXPECT_EQ(Config().MaxTimeSources, 3u);
    EXPECT_EQ(Config().SelectionPeriod, 6u);
    EXPECT_EQ(Config().RestrictedScanIsEnabled, 0u);
    Parse({L"/select=2,2,R", L"/select="});  // reads nothing, only clears the flag
    EXPECT_EQ(Config().MaxTimeSources, 2u);
    EXPECT_EQ(Config().RestrictedScanIsEnabled, 0u);
    Parse({L"/select=1,1,x"});
    EXPECT_EQ(Config().RestrictedScanIsEnabled, 0u);
    EXPECT_EQ(ParseError({L"/select"}),
              L"Argument /select in command line must be followed by #sources and #periods.");
    EXPECT_EQ(ParseError({L"/select=x,3"}),
              L"Argument /select=x,3 in command line must be followed by numbers for #sources and #periods");
}

TEST_F(KeywordParser, LogFlagsAndControl) {
    Parse({L"/log=C:\\logs\\my log.txt,200000"});
    EXPECT_EQ(Config().LogDevice, L"C:\\logs\\my log.txt,200000");
    Parse({L"/log"});
    EXPECT_EQ(Config().LogDevice, L"C:\\logs\\my log.txt,200000");
    Parse({L"/log="});
    EXPECT_EQ(Config().LogDevice, L"");
    Parse({L"/install:now", L"-REMOVE", L"/?", L"/immediate=1", L"/control=START"});
    EXPECT_EQ(Config().InstallFlag, 1u);
    EXPECT_EQ(Config().RemoveFlag, 1u);
    EXPECT_EQ(Config().HelpFlag, 1u);
    EXPECT_EQ(Config().ImmediateFlag, 1u);
    EXPECT_EQ(Config().ControlFlag, 1u);
    EXPECT_EQ(Config().ControlOperation, L"START");
    Parse({L"/control"});
    EXPECT_EQ(Config().ControlOperation, L"");
    EXPECT_EQ(Config().StatusFlag, 0u);
}

TEST_F(KeywordParser, FileAndUrlNeedAValue) {
    EXPECT_EQ(ParseError({L"/url"}), L"URL expected with /url");
    EXPECT_EQ(ParseError({L"/url="}), L"URL expected with /url");
    EXPECT_EQ(ParseError({L"/file"}), L"Filename expected with /file");
    EXPECT_EQ(ParseError({L"-FILE:"}), L"Filename expected with /file");
    EXPECT_TRUE(Config().ConfigurationFile.empty());
}

TEST_F(KeywordParser, AnErrorEndsTheParseAndKeepsWhatWasParsed) {
    EXPECT_EQ(ParseError({L"/trace=debug", L"/foo", L"/period=1"}), L"Illegal argument /foo in command line");
    EXPECT_EQ(Config().Trace, 3);
    EXPECT_EQ(Config().Period, 28800u);
}

}  // namespace
}  // namespace kairovel::testing
