#include "config/url_reader.h"

#include "log/logger.h"
#include "platform/codepage.h"
#include "platform/url_fetch.h"

namespace kairovel {
namespace {

constexpr platform::UrlFetchLimits kParameterUrlLimits{
    .connectTimeoutMilliseconds = 10'000,
    .totalTimeoutMilliseconds = 30'000,
    .maxBodyBytes = 1 << 20,
    .maxRedirects = 5,
};
constexpr char kAgentName[] = "Kairovel";
constexpr char kAcceptedType[] = "text/plain";

using Step = platform::UrlFetchStep;

bool IsSuccess(std::uint32_t httpStatus) { return httpStatus >= 200 && httpStatus <= 299; }

// Raises the message of a fetch that got no answer, as the step that failed says it.
[[noreturn]] void RaiseUnanswered(const std::wstring& url, const platform::UrlFetchResult& result) {
    switch (*result.failedStep) {
        case Step::kLoadLibrary:
            RaiseError(L"Could not load WinInet.DLL");
        case Step::kFindEntryPoint:
            RaiseError(L"Could not get address of %s", platform::AnsiToWide(result.missingEntryPoint));
        case Step::kOpenSession:
            RaiseError(L"Could not make an Internet session due to error %d", result.error);
        default:
            RaiseError(L"Could not open the URL %s due to error %d", url, result.error);
    }
}

}  // namespace

std::wstring ReadParameterUrl(const std::wstring& url) {
    const platform::UrlFetchResult result =
        platform::UrlFetch().Fetch({platform::WideToAnsi(url), kAgentName, kAcceptedType, kParameterUrlLimits});
    if (result.failedStep && *result.failedStep != Step::kReadBody) RaiseUnanswered(url, result);
    // An HTTP server answers even when it has nothing to give: its status is
    // the clearest code for the message (404, 500, ...). Other protocols have none.
    if (result.httpStatus != 0 && !IsSuccess(result.httpStatus)) {
        RaiseError(L"Could not open the URL %s due to error %d", url, result.httpStatus);
    }
    if (result.failedStep) RaiseError(L"Could not read from remote Internet server");
    return platform::AnsiToWide(result.body);
}

}  // namespace kairovel
