// A URL fetch that a test or a fuzz target scripts: every URL gets the result
// it is given, among them failures the real libraries never show on demand.
#pragma once

#include <cstdint>
#include <string>

#include "platform/url_fetch.h"

namespace kairovel::testing {

class ScriptedUrlFetch final : public platform::UrlFetchFacility {
public:
    ScriptedUrlFetch() { Serve("/trace\n"); }

    // Every URL fetched from now on answers with status 200 and this body.
    void Serve(std::string body) {
        result = {};
        result.httpStatus = 200;
        result.body = std::move(body);
    }

    // Every URL fetched from now on fails at step with error.
    void Fail(platform::UrlFetchStep step, std::uint32_t error) {
        result = {};
        result.failedStep = step;
        result.error = error;
    }

    platform::UrlFetchResult Fetch(const platform::UrlRequest&) override { return result; }

    platform::UrlFetchResult result;
};

}  // namespace kairovel::testing
