// Fetching URLs with libcurl, against the test's own loopback HTTP server:
// what is answered, and each limit.
#include "platform/url_fetch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <tuple>

#include "support/http_server.h"
#include "support/temporary_directory.h"

namespace kairovel::platform {
namespace {

constexpr UrlFetchLimits kLimits{.connectTimeoutMilliseconds = 1'000,
                                 .totalTimeoutMilliseconds = 1'000,
                                 .maxBodyBytes = 300,
                                 .maxRedirects = 5};

class CurlUrlFetch : public ::testing::Test {
protected:
    UrlFetchResult Fetch(const std::string& path) {
        return UrlFetch().Fetch({server_.Url(path), "Kairovel", "text/plain", kLimits});
    }

    testing::ScopedEnvironment noProxy_{"no_proxy", "*"};
    testing::LoopbackHttpServer server_;
};

TEST_F(CurlUrlFetch, AnErrorPageIsAnsweredWithItsStatusAndBody) {
    testing::HttpResponse missing;
    missing.status = 404;
    missing.reason = "Not Found";
    missing.body = "no such page";
    server_.Serve("/missing", missing);
    server_.ServeText("/here", "/period=0:1:0\n");
    for (const auto& [path, status, body] : {std::tuple{"/missing", 404u, "no such page"},
                                             std::tuple{"/here", 200u, "/period=0:1:0\n"}}) {
        const UrlFetchResult result = Fetch(path);
        EXPECT_FALSE(result.failedStep.has_value()) << path;
        EXPECT_EQ(result.httpStatus, status);
        EXPECT_EQ(result.body, body);
    }
}

TEST_F(CurlUrlFetch, EveryLimitHolds) {
    testing::HttpResponse loop;
    loop.status = 301;
    loop.reason = "Moved Permanently";
    loop.headers = {{"Location", "/loop"}};
    server_.Serve("/loop", loop);
    const UrlFetchResult looping = Fetch("/loop");
    EXPECT_EQ(looping.failedStep, UrlFetchStep::kOpenUrl);
    EXPECT_EQ(looping.error, ERROR_HTTP_REDIRECT_FAILED);
    EXPECT_EQ(server_.Requests().size(), 6u);  // the first request and five redirects

    server_.ServeText("/big", std::string(100'000, 'g'));
    const UrlFetchResult big = Fetch("/big");
    EXPECT_EQ(big.failedStep, UrlFetchStep::kReadBody);
    EXPECT_EQ(big.error, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(big.httpStatus, 200u);

    testing::HttpResponse slow;
    slow.delayBeforeAnswer = std::chrono::milliseconds(5'000);
    server_.Serve("/slow", slow);
    const UrlFetchResult late = Fetch("/slow");
    EXPECT_EQ(late.failedStep, UrlFetchStep::kOpenUrl);
    EXPECT_EQ(late.error, ERROR_INTERNET_TIMEOUT);
}

}  // namespace
}  // namespace kairovel::platform
