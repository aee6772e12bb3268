// Parameter URLs against a loopback HTTP server of the test's own, through
// libcurl (and a scripted fetch where a failure of the library itself is
// wanted). Each test process has a private network namespace, so name
// look-ups and connections never leave it.
#include <filesystem>
#include <string>

#include "configuration_fixture.h"
#include "platform/posix/curl_url_fetch.h"
#include "support/http_server.h"
#include "support/scripted_url_fetch.h"
#include "support/temporary_directory.h"

namespace kairovel::testing {
namespace {

using platform::UrlFetchFacility;

class IncludeUrlTest : public ConfigurationTest {
protected:
    void TearDown() override {
        EXPECT_EQ(IncludeUrlDepth(), 0u);
        ConfigurationTest::TearDown();
    }
    static std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

    ScopedEnvironment noProxy_{"no_proxy", "*"};
    // As on a machine without OpenSSL's configuration file (a fresh Debian has
    // none): the libraries that libcurl brings in take another path through
    // their start-up, and the sanitizers' exit checks must still hold.
    ScopedEnvironment noOpenSslConfiguration_{"OPENSSL_CONF", "/nonexistent/openssl.cnf"};
    LoopbackHttpServer server_;
};

TEST_F(IncludeUrlTest, EveryLineEndGivesTheSameArguments) {
    server_.ServeText("/crlf", "/trace=debug\r\n/period=1\r\n/log=a b,1000\r\n");
    server_.ServeText("/lf", "# parameters\n/trace=debug\n\n/period=1  # hourly\n/log=a b,1000");
    server_.ServeText("/cr", "/trace=debug\r/period=1\r/log=a b,1000\r");
    for (const char* path : {"/crlf", "/lf", "/cr"}) {
        TheConfiguration() = Configuration{};
        Parse({L"/url=" + Wide(server_.Url(path))});
        EXPECT_EQ(Config().Trace, 3) << path;
        EXPECT_EQ(Config().Period, 3600u) << path;
        EXPECT_EQ(Config().LogDevice, L"a b,1000") << path;
        EXPECT_EQ(Config().ConfigurationFile, L"*" + Wide(server_.Url(path)));
    }
}

TEST_F(IncludeUrlTest, TheRequestNamesTheProgramAndAsksForPlainText) {
    server_.ServeText("/empty", "");
    Parse({L"/url=" + Wide(server_.Url("/empty")), L"/url:" + Wide(server_.Url("/empty"))});
    EXPECT_EQ(Config().ConfigurationFile, L"*" + Wide(server_.Url("/empty")));
    EXPECT_EQ(Config().NumberOfTimeSources, 0u);
    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].path, "/empty");
    EXPECT_NE(requests[0].head.find("\r\nAccept: text/plain\r\n"), std::string::npos) << requests[0].head;
    EXPECT_NE(requests[0].head.find("\r\nUser-Agent: Kairovel\r\n"), std::string::npos) << requests[0].head;
}

TEST_F(IncludeUrlTest, NestedUrls) {
    server_.ServeText("/inner", "/domain=inner\n");
    server_.ServeText("/outer", "/domain=outer\n/url=" + server_.Url("/inner") + "\n/domain=after\n");
    Parse({L"/url=" + Wide(server_.Url("/outer"))});
    ASSERT_EQ(Config().NumberOfTimeSources, 3u);
    EXPECT_EQ(Config().SourceName[1], L"D,inner");
    EXPECT_EQ(Config().SourceName[2], L"D,after");
}

TEST_F(IncludeUrlTest, AParseErrorInsideANestedUrl) {
    server_.ServeText("/inner", "/domain=inner\n/bogus\n");
    server_.ServeText("/outer", "/url=" + server_.Url("/inner") + "\n/domain=never\n");
    EXPECT_EQ(ParseError({L"/url=" + Wide(server_.Url("/outer"))}), L"Illegal argument /bogus in command line");
    ASSERT_EQ(Config().NumberOfTimeSources, 1u);
}

TEST_F(IncludeUrlTest, AUrlThatIncludesItself) {
    server_.ServeText("/self", "/ntp_machine\n/url=" + server_.Url("/self") + "\n");
    EXPECT_EQ(ParseError({L"/url=" + Wide(server_.Url("/self"))}), L"Include URL depth of 6 exceeds permitted maximum.");
    EXPECT_EQ(Config().NumberOfTimeSources, 5u);
}

TEST_F(IncludeUrlTest, FileAndUrlDepthsAreCountedApart) {
    TemporaryDirectory folder;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
    // f1 -> u1 -> f2 -> u2 -> ... -> f5 -> u5: five of each on one chain.
    for (int i = 1; i <= 5; ++i) {
        const std::string n = std::to_string(i);
        WriteFileBytes(folder / ("f" + n), "/url=" + server_.Url("/u" + n) + "\n");
        server_.ServeText("/u" + n, i < 5 ? "/file=f" + std::to_string(i + 1) + "\n" : "/domain=deep\n");
    }
    Parse({L"/file=f1"});
    EXPECT_EQ(Config().SourceName[0], L"D,deep");
    EXPECT_EQ(Config().ConfigurationFile, (folder / "f1").wstring());

    server_.ServeText("/u5", "/url=" + server_.Url("/u6") + "\n");
    server_.ServeText("/u6", "/domain=too deep\n");
    const std::wstring error = ParseError({L"/file=f1"});
    std::filesystem::current_path(previous);
    EXPECT_EQ(error, L"Include URL depth of 6 exceeds permitted maximum.");
    EXPECT_EQ(IncludeFileDepth(), 0u);
}

TEST_F(IncludeUrlTest, AnHttpErrorStatusIsNeverTakenAsConfiguration) {
    const std::string missing = server_.Url("/missing");  // the server's own 404 page
    EXPECT_EQ(ParseError({L"/url=" + Wide(missing)}), L"Could not open the URL " + Wide(missing) + L" due to error 404");
    HttpResponse failing;
    failing.status = 500;
    failing.reason = "Internal Server Error";
    failing.body = "/domain=from-an-error-page\n";
    server_.Serve("/failing", failing);
    const std::string url = server_.Url("/failing");
    EXPECT_EQ(ParseError({L"/url=" + Wide(url)}), L"Could not open the URL " + Wide(url) + L" due to error 500");
    EXPECT_EQ(Config().NumberOfTimeSources, 0u);
}

TEST_F(IncludeUrlTest, ARedirectIsFollowed) {
    HttpResponse moved;
    moved.status = 302;
    moved.reason = "Found";
    moved.headers = {{"Location", "/target"}};
    server_.Serve("/moved", moved);
    server_.ServeText("/target", "/domain=moved\n");
    Parse({L"/url=" + Wide(server_.Url("/moved"))});
    EXPECT_EQ(Config().SourceName[0], L"D,moved");
}

TEST_F(IncludeUrlTest, ServersThatCannotBeReached) {
    const RefusingPort refusing;
    const std::wstring refused = L"http://127.0.0.1:" + std::to_wstring(refusing.port()) + L"/p";
    EXPECT_EQ(ParseError({L"/url=" + refused}), L"Could not open the URL " + refused + L" due to error 12029");
    const std::wstring unresolved = L"http://kairovel-test.invalid/p";
    EXPECT_EQ(ParseError({L"/url=" + unresolved}), L"Could not open the URL " + unresolved + L" due to error 12007");
    for (const std::wstring unknown : {L"gopher://127.0.0.1/x", L"parameters.txt"}) {
        EXPECT_EQ(ParseError({L"/url=" + unknown}), L"Could not open the URL " + unknown + L" due to error 12006");
    }
    const std::wstring malformed = L"http://[::1/x";
    EXPECT_EQ(ParseError({L"/url=" + malformed}), L"Could not open the URL " + malformed + L" due to error 12005");
    HttpResponse silent;
    silent.closeWithoutAnswer = true;
    server_.Serve("/silent", silent);
    const std::wstring closes = Wide(server_.Url("/silent"));
    EXPECT_EQ(ParseError({L"/url=" + closes}), L"Could not open the URL " + closes + L" due to error 12152");
    EXPECT_EQ(Config().ConfigurationFile, L"*" + refused);
}

TEST_F(IncludeUrlTest, ABodyIsDecodedFromTheNarrowCodePage) {
    server_.ServeText("/utf8", "/log=" + std::string(7, ' ') + "caf\xC3\xA9\n/domain=caf\xE9\n");
    Parse({L"/url=" + Wide(server_.Url("/utf8"))});
    EXPECT_EQ(Config().LogDevice, std::wstring(7, L' ') + L"caf\u00e9");
    EXPECT_EQ(Config().SourceName[0], std::wstring(L"D,caf") + static_cast<wchar_t>(0xDCE9));
}

TEST_F(IncludeUrlTest, ALibraryThatCannotBeLoaded) {
    const auto missing = platform::MakeCurlUrlFetch("libkairovel-no-such-library.so.4");
    const platform::ScopedFacility<UrlFetchFacility> useMissing(*missing);
    EXPECT_EQ(ParseError({L"/url=" + Wide(server_.Url("/x"))}), L"Could not load WinInet.DLL");
    EXPECT_TRUE(server_.Requests().empty());
}

// Failures the real libraries never show on demand, each with its message.
TEST_F(ConfigurationTest, EachFailureOfTheFetchHasItsMessage) {
    ScriptedUrlFetch fetch;
    const platform::ScopedFacility<UrlFetchFacility> useFetch(fetch);
    Parse({L"/url=http://h/"});
    EXPECT_EQ(Config().Trace, 3);
    using Step = platform::UrlFetchStep;
    fetch.Fail(Step::kFindEntryPoint, 127);
    fetch.result.missingEntryPoint = "InternetReadFile";
    EXPECT_EQ(ParseError({L"/url=http://h/"}), L"Could not get address of InternetReadFile");
    fetch.Fail(Step::kOpenSession, 12004);
    EXPECT_EQ(ParseError({L"/url=http://h/"}), L"Could not make an Internet session due to error 12004");
    // A redirection the library did not follow is no content either.
    fetch.Serve("/trace\n");
    fetch.result.httpStatus = 302;
    EXPECT_EQ(ParseError({L"/url=http://h/"}), L"Could not open the URL http://h/ due to error 302");
    fetch.Fail(Step::kReadBody, 8);
    fetch.result.httpStatus = 200;
    EXPECT_EQ(ParseError({L"/url=http://h/"}), L"Could not read from remote Internet server");
}

}  // namespace
}  // namespace kairovel::testing
