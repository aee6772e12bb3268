// Fetching a URL on Linux: libcurl, opened with dlopen at the first fetch
// and kept loaded (dynamic_library.h says why); curl's header gives only the
// declarations, nothing is linked. The whole body is fetched within the
// limits, and curl's failures become the WinInet error codes.
#include <curl/curl.h>

#include <mutex>
#include <string>
#include <string_view>

#include "platform/posix/ascii_case.h"
#include "platform/posix/curl_url_fetch.h"
#include "platform/posix/dynamic_library.h"

namespace kairovel::platform {
namespace {

constexpr std::uint32_t kErrorDllInitFailed = 1114;  // ERROR_DLL_INIT_FAILED

// The parts of libcurl a fetch calls, looked up by name after dlopen.
struct CurlApi {
    decltype(&::curl_global_init) globalInit = nullptr;
    decltype(&::curl_easy_init) easyInit = nullptr;
    decltype(&::curl_easy_setopt) easySetopt = nullptr;
    decltype(&::curl_easy_perform) easyPerform = nullptr;
    decltype(&::curl_easy_getinfo) easyGetinfo = nullptr;
    decltype(&::curl_easy_cleanup) easyCleanup = nullptr;
    decltype(&::curl_slist_append) slistAppend = nullptr;
    decltype(&::curl_slist_free_all) slistFreeAll = nullptr;
};

bool ResolveAll(void* library, CurlApi& api) {
    return ResolveSymbol(library, "curl_global_init", api.globalInit) &&
           ResolveSymbol(library, "curl_easy_init", api.easyInit) &&
           ResolveSymbol(library, "curl_easy_setopt", api.easySetopt) &&
           ResolveSymbol(library, "curl_easy_perform", api.easyPerform) &&
           ResolveSymbol(library, "curl_easy_getinfo", api.easyGetinfo) &&
           ResolveSymbol(library, "curl_easy_cleanup", api.easyCleanup) &&
           ResolveSymbol(library, "curl_slist_append", api.slistAppend) &&
           ResolveSymbol(library, "curl_slist_free_all", api.slistFreeAll);
}

// libcurl, loaded by the first fetch that needs it and kept; a load that
// failed is tried again by the next fetch.
class CurlLibrary {
public:
    explicit CurlLibrary(std::string libraryFile) : libraryFile_(std::move(libraryFile)) {}

    // The entry points, or null with error set.
    const CurlApi* Load(std::uint32_t& error) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (loaded_) return &api_;
        void* library = OpenLibrary(libraryFile_, [&](void* opened) { return ResolveAll(opened, api_); }, error);
        if (library == nullptr) return nullptr;
        if (api_.globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            ::dlclose(library);
            error = kErrorDllInitFailed;
            return nullptr;
        }
        loaded_ = true;
        return &api_;
    }

private:
    std::mutex mutex_;
    std::string libraryFile_;
    CurlApi api_;
    bool loaded_ = false;
};

std::uint32_t WinInetErrorOf(CURLcode code) {
    switch (code) {
        case CURLE_UNSUPPORTED_PROTOCOL:
            return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
        case CURLE_URL_MALFORMAT:
            return ERROR_INTERNET_INVALID_URL;
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST:
            return ERROR_INTERNET_NAME_NOT_RESOLVED;
        case CURLE_COULDNT_CONNECT:
            return ERROR_INTERNET_CANNOT_CONNECT;
        case CURLE_OPERATION_TIMEDOUT:
            return ERROR_INTERNET_TIMEOUT;
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_GOT_NOTHING:
        case CURLE_BAD_CONTENT_ENCODING:
            return ERROR_HTTP_INVALID_SERVER_RESPONSE;
        case CURLE_PARTIAL_FILE:
        case CURLE_SEND_ERROR:
            return ERROR_INTERNET_CONNECTION_ABORTED;
        case CURLE_RECV_ERROR:
            return ERROR_INTERNET_CONNECTION_RESET;
        case CURLE_TOO_MANY_REDIRECTS:
            return ERROR_HTTP_REDIRECT_FAILED;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
            return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
        case CURLE_PEER_FAILED_VERIFICATION:
            return ERROR_INTERNET_INVALID_CA;
        case CURLE_LOGIN_DENIED:
        case CURLE_REMOTE_ACCESS_DENIED:
            return ERROR_INTERNET_LOGIN_FAILURE;
        case CURLE_REMOTE_FILE_NOT_FOUND:
            return ERROR_INTERNET_EXTENDED_ERROR;  // the server's own refusal, as for FTP on Windows
        case CURLE_OUT_OF_MEMORY:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return ERROR_INTERNET_INTERNAL_ERROR;
    }
}

// The scheme of a URL ("http" in "http://host/"), or empty when it has none.
std::string_view SchemeOf(std::string_view url) {
    const std::size_t colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0) return {};
    const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (!isLetter(url[0])) return {};
    for (std::size_t i = 1; i < colon; ++i) {
        const char c = url[i];
        if (!isLetter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return {};
    }
    return url.substr(0, colon);
}

bool IsHttp(std::string_view scheme) {
    return EqualsIgnoringAsciiCase(scheme, "http") || EqualsIgnoringAsciiCase(scheme, "https");
}

struct BodySink {
    std::string* body;
    std::size_t limit;
    bool cutShort = false;
};

std::size_t CollectBody(char* data, std::size_t size, std::size_t count, void* context) {
    auto* sink = static_cast<BodySink*>(context);
    const std::size_t bytes = size * count;
    const std::size_t room = sink->limit - sink->body->size();
    if (bytes > room) {
        sink->body->append(data, room);
        sink->cutShort = true;
        return 0;  // ends the transfer
    }
    sink->body->append(data, bytes);
    return bytes;
}

UrlFetchResult Failed(UrlFetchStep step, std::uint32_t error) {
    UrlFetchResult result;
    result.failedStep = step;
    result.error = error;
    return result;
}

// Sets up and runs one transfer: the body goes to sink, the HTTP status (when http) to status.
CURLcode Transfer(const CurlApi& api, const UrlRequest& request, bool http, BodySink& sink, long& status) {
    CURL* easy = api.easyInit();
    if (easy == nullptr) return CURLE_FAILED_INIT;
    const UrlFetchLimits& limits = request.limits;
    curl_slist* headers = api.slistAppend(nullptr, ("Accept: " + request.accept).c_str());
    api.easySetopt(easy, CURLOPT_URL, request.url.c_str());
    api.easySetopt(easy, CURLOPT_NOSIGNAL, 1L);
    api.easySetopt(easy, CURLOPT_PROTOCOLS_STR, "http,https,ftp");
    api.easySetopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    api.easySetopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    api.easySetopt(easy, CURLOPT_MAXREDIRS, static_cast<long>(limits.maxRedirects));
    api.easySetopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectTimeoutMilliseconds));
    api.easySetopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.totalTimeoutMilliseconds));
    api.easySetopt(easy, CURLOPT_USERAGENT, request.agent.c_str());
    api.easySetopt(easy, CURLOPT_HTTPHEADER, headers);
    api.easySetopt(easy, CURLOPT_WRITEFUNCTION, &CollectBody);
    api.easySetopt(easy, CURLOPT_WRITEDATA, &sink);
    const CURLcode code = api.easyPerform(easy);
    if (http) api.easyGetinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    api.easyCleanup(easy);
    api.slistFreeAll(headers);
    return code;
}

class CurlUrlFetch final : public UrlFetchFacility {
public:
    explicit CurlUrlFetch(std::string libraryFile) : library_(std::move(libraryFile)) {}

    UrlFetchResult Fetch(const UrlRequest& request) override {
        std::uint32_t error = 0;
        const CurlApi* api = library_.Load(error);
        if (api == nullptr) return Failed(UrlFetchStep::kLoadLibrary, error);
        const std::string_view scheme = SchemeOf(request.url);
        const bool http = IsHttp(scheme);
        if (!http && !EqualsIgnoringAsciiCase(scheme, "ftp")) {
            return Failed(UrlFetchStep::kOpenUrl, ERROR_INTERNET_UNRECOGNIZED_SCHEME);
        }
        std::string body;
        BodySink sink{&body, request.limits.maxBodyBytes};
        long status = 0;
        const CURLcode code = Transfer(*api, request, http, sink, status);

        const bool bodyCutShort = code == CURLE_WRITE_ERROR && sink.cutShort;
        if (code != CURLE_OK && !bodyCutShort) return Failed(UrlFetchStep::kOpenUrl, WinInetErrorOf(code));
        if (http && status <= 0) return Failed(UrlFetchStep::kOpenUrl, ERROR_HTTP_INVALID_SERVER_RESPONSE);
        UrlFetchResult result;
        if (bodyCutShort) {
            result.failedStep = UrlFetchStep::kReadBody;
            result.error = ERROR_NOT_ENOUGH_MEMORY;
        }
        result.httpStatus = static_cast<std::uint32_t>(status);
        result.body = std::move(body);
        return result;
    }

private:
    CurlLibrary library_;
};

}  // namespace

std::unique_ptr<UrlFetchFacility> MakeCurlUrlFetch(std::string libraryFile) {
    return std::make_unique<CurlUrlFetch>(std::move(libraryFile));
}

template <>
UrlFetchFacility& DefaultFacility<UrlFetchFacility>() {
    static CurlUrlFetch fetch("libcurl.so.4");
    return fetch;
}

}  // namespace kairovel::platform
