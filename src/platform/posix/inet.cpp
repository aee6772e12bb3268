// WinInet over libcurl: the entry points the program uses.
//
// libcurl is opened with dlopen when "wininet.DLL" is first loaded, and when
// its last reference is freed curl's global state is cleaned up and the
// library closed, though it stays mapped until the process ends (see
// dynamic_library.h); curl's header gives only the declarations, nothing is
// linked. InternetOpenUrlA fetches the whole body
// (bounded in time and size) and InternetReadFile hands it out in the pieces
// asked for. curl's failures become the WinInet error codes. As with WinInet,
// a server that answers opens the URL whatever its status, and HttpQueryInfoA
// gives the status, so the caller can tell an error page from the content.
#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "platform/last_error.h"
#include "platform/posix/ascii_case.h"
#include "platform/posix/curl_internet.h"
#include "platform/posix/dynamic_library.h"
#include "platform/win_types.h"

namespace kairovel::platform {
namespace {

// The parts of libcurl the stand-in calls, looked up by name after dlopen.
struct CurlApi {
    decltype(&::curl_global_init) globalInit = nullptr;
    decltype(&::curl_global_cleanup) globalCleanup = nullptr;
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
           ResolveSymbol(library, "curl_global_cleanup", api.globalCleanup) &&
           ResolveSymbol(library, "curl_easy_init", api.easyInit) &&
           ResolveSymbol(library, "curl_easy_setopt", api.easySetopt) &&
           ResolveSymbol(library, "curl_easy_perform", api.easyPerform) &&
           ResolveSymbol(library, "curl_easy_getinfo", api.easyGetinfo) &&
           ResolveSymbol(library, "curl_easy_cleanup", api.easyCleanup) &&
           ResolveSymbol(library, "curl_slist_append", api.slistAppend) &&
           ResolveSymbol(library, "curl_slist_free_all", api.slistFreeAll);
}

// The handles the entry points give out.
struct InternetHandle {
    virtual ~InternetHandle() = default;
};

struct SessionHandle final : InternetHandle {
    std::string agent;
    std::uint32_t accessType = INTERNET_OPEN_TYPE_PRECONFIG;
    std::string proxy;
    std::string proxyBypass;
};

struct UrlHandle final : InternetHandle {
    long httpStatus = 0;  // 0: not an HTTP answer
    std::string body;
    std::size_t offset = 0;
    bool cutShort = false;  // the body was larger than the limit: reading fails after what was kept
};

// The loaded library: one per process, with its reference count and live handles.
class WinInetModule {
public:
    bool Acquire(const std::string& libraryFile, const InternetLimits& limits) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (references_ == 0) {
            CurlApi api;
            std::uint32_t error = ERROR_SUCCESS;
            void* library = OpenLibrary(libraryFile, [&](void* opened) { return ResolveAll(opened, api); }, error);
            if (library == nullptr) {
                SetLastError(error);
                return false;
            }
            if (api.globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
                ::dlclose(library);
                SetLastError(kErrorDllInitFailed);
                return false;
            }
            library_ = library;
            api_ = api;
            limits_ = limits;
        }
        ++references_;
        return true;
    }

    bool Release() {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (references_ == 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        if (--references_ == 0) {
            // Handles left open die with the library, as they would with the DLL.
            for (InternetHandle* handle : handles_) delete handle;
            handles_.clear();
            api_.globalCleanup();
            ::dlclose(library_);
            library_ = nullptr;
        }
        return true;
    }

    std::uint32_t References() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return references_;
    }

    // The api and limits of the loaded library; false when it is not loaded.
    bool Snapshot(CurlApi& api, InternetLimits& limits) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (references_ == 0) return false;
        api = api_;
        limits = limits_;
        return true;
    }

    HINTERNET Register(InternetHandle* handle) {
        const std::lock_guard<std::mutex> lock(mutex_);
        handles_.insert(handle);
        return handle;
    }

    // Runs use on the live handle of the wanted type, under the module's lock;
    // false (and the last error set) when there is no such handle.
    template <class Wanted, class Use>
    bool WithHandle(HINTERNET handle, Use&& use) {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto it = handles_.find(static_cast<InternetHandle*>(handle));
        if (it == handles_.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        auto* wanted = dynamic_cast<Wanted*>(*it);
        if (wanted == nullptr) {
            SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
            return false;
        }
        return use(*wanted);
    }

    bool Close(HINTERNET handle) {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto it = handles_.find(static_cast<InternetHandle*>(handle));
        if (it == handles_.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        delete *it;
        handles_.erase(it);
        return true;
    }

private:
    static constexpr std::uint32_t kErrorDllInitFailed = 1114;  // ERROR_DLL_INIT_FAILED

    std::mutex mutex_;
    std::uint32_t references_ = 0;
    void* library_ = nullptr;
    CurlApi api_;
    InternetLimits limits_;
    std::set<InternetHandle*> handles_;
};

WinInetModule& Module() {
    // Never destroyed: a reader may still be closing while the process ends.
    static auto* module = new WinInetModule;
    return *module;
}

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

// Adds the request headers, one a line, to a curl header list.
curl_slist* HeaderList(const CurlApi& api, const char* headers, std::uint32_t headersLength) {
    if (headers == nullptr) return nullptr;
    const std::string_view all =
        headersLength == kHeadersNullTerminated ? std::string_view(headers) : std::string_view(headers, headersLength);
    curl_slist* list = nullptr;
    std::size_t start = 0;
    while (start < all.size()) {
        std::size_t end = all.find("\r\n", start);
        if (end == std::string_view::npos) end = all.size();
        if (end > start) list = api.slistAppend(list, std::string(all.substr(start, end - start)).c_str());
        start = end + 2;
    }
    return list;
}

HINTERNET StandInInternetOpenA(const char* agent, std::uint32_t accessType, const char* proxy,
                               const char* proxyBypass, std::uint32_t) {
    CurlApi api;
    InternetLimits limits;
    if (!Module().Snapshot(api, limits)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (accessType != INTERNET_OPEN_TYPE_PRECONFIG && accessType != INTERNET_OPEN_TYPE_DIRECT &&
        accessType != INTERNET_OPEN_TYPE_PROXY) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* session = new SessionHandle;
    session->agent = agent != nullptr ? agent : "";
    session->accessType = accessType;
    session->proxy = proxy != nullptr ? proxy : "";
    session->proxyBypass = proxyBypass != nullptr ? proxyBypass : "";
    return Module().Register(session);
}

HINTERNET StandInInternetOpenUrlA(HINTERNET internet, const char* url, const char* headers,
                                  std::uint32_t headersLength, std::uint32_t, std::uintptr_t) {
    CurlApi api;
    InternetLimits limits;
    if (!Module().Snapshot(api, limits)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    SessionHandle session;  // a copy: the fetch runs without holding the module's lock
    if (!Module().WithHandle<SessionHandle>(internet, [&](const SessionHandle& found) {
            session = found;
            return true;
        })) {
        return nullptr;
    }
    if (url == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::string_view scheme = SchemeOf(url);
    if (!IsHttp(scheme) && !EqualsIgnoringAsciiCase(scheme, "ftp")) {
        SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
        return nullptr;
    }

    CURL* easy = api.easyInit();
    if (easy == nullptr) {
        SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
        return nullptr;
    }
    std::string body;
    BodySink sink{&body, limits.maxBodyBytes};
    curl_slist* headerList = HeaderList(api, headers, headersLength);
    api.easySetopt(easy, CURLOPT_URL, url);
    api.easySetopt(easy, CURLOPT_NOSIGNAL, 1L);
    api.easySetopt(easy, CURLOPT_PROTOCOLS_STR, "http,https,ftp");
    api.easySetopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    api.easySetopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    api.easySetopt(easy, CURLOPT_MAXREDIRS, static_cast<long>(limits.maxRedirects));
    api.easySetopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectTimeoutMilliseconds));
    api.easySetopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.totalTimeoutMilliseconds));
    api.easySetopt(easy, CURLOPT_USERAGENT, session.agent.c_str());
    api.easySetopt(easy, CURLOPT_HTTPHEADER, headerList);
    api.easySetopt(easy, CURLOPT_WRITEFUNCTION, &CollectBody);
    api.easySetopt(easy, CURLOPT_WRITEDATA, &sink);
    if (session.accessType == INTERNET_OPEN_TYPE_DIRECT) {
        api.easySetopt(easy, CURLOPT_PROXY, "");
    } else if (session.accessType == INTERNET_OPEN_TYPE_PROXY) {
        api.easySetopt(easy, CURLOPT_PROXY, session.proxy.c_str());
        api.easySetopt(easy, CURLOPT_NOPROXY, session.proxyBypass.c_str());
    }

    const CURLcode result = api.easyPerform(easy);
    long status = 0;
    if (IsHttp(scheme)) api.easyGetinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    api.easyCleanup(easy);
    api.slistFreeAll(headerList);

    const bool bodyCutShort = result == CURLE_WRITE_ERROR && sink.cutShort;
    if (result != CURLE_OK && !bodyCutShort) {
        SetLastError(WinInetErrorOf(result));
        return nullptr;
    }
    if (IsHttp(scheme) && status <= 0) {
        SetLastError(ERROR_HTTP_INVALID_SERVER_RESPONSE);
        return nullptr;
    }
    auto* file = new UrlHandle;
    file->httpStatus = IsHttp(scheme) ? status : 0;
    file->body = std::move(body);
    file->cutShort = bodyCutShort;
    return Module().Register(file);
}

bool StandInInternetReadFile(HINTERNET file, void* buffer, std::uint32_t bytesToRead, std::uint32_t* bytesRead) {
    if (bytesRead == nullptr || (buffer == nullptr && bytesToRead > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    *bytesRead = 0;
    return Module().WithHandle<UrlHandle>(file, [&](UrlHandle& handle) {
        const std::size_t left = handle.body.size() - handle.offset;
        if (left == 0 && handle.cutShort && bytesToRead > 0) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        const std::size_t count = std::min<std::size_t>(left, bytesToRead);
        if (count > 0) std::memcpy(buffer, handle.body.data() + handle.offset, count);
        handle.offset += count;
        *bytesRead = static_cast<std::uint32_t>(count);
        return true;
    });
}

bool StandInHttpQueryInfoA(HINTERNET request, std::uint32_t infoLevel, void* buffer, std::uint32_t* bufferLength,
                           std::uint32_t*) {
    if (infoLevel != (HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER) || bufferLength == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return Module().WithHandle<UrlHandle>(request, [&](UrlHandle& handle) {
        if (handle.httpStatus == 0) {
            SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
            return false;
        }
        const auto status = static_cast<std::uint32_t>(handle.httpStatus);
        if (buffer == nullptr || *bufferLength < sizeof status) {
            *bufferLength = sizeof status;
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return false;
        }
        std::memcpy(buffer, &status, sizeof status);
        *bufferLength = sizeof status;
        return true;
    });
}

bool StandInInternetCloseHandle(HINTERNET handle) { return Module().Close(handle); }

HMODULE TheModuleHandle() { return reinterpret_cast<HMODULE>(&Module()); }

class CurlInternetLibrary final : public InternetLibraryFacility {
public:
    CurlInternetLibrary(std::string libraryFile, InternetLimits limits)
        : libraryFile_(std::move(libraryFile)), limits_(limits) {}

    HMODULE LoadLibraryW(std::wstring_view fileName) override {
        if (!EqualsIgnoringAsciiCase(fileName, L"wininet.dll")) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        return Module().Acquire(libraryFile_, limits_) ? TheModuleHandle() : nullptr;
    }

    FARPROC GetProcAddress(HMODULE module, const char* procName) override {
        if (module != TheModuleHandle() || procName == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        const std::string_view name(procName);
        if (name == kInternetOpenAName) return reinterpret_cast<FARPROC>(&StandInInternetOpenA);
        if (name == kInternetOpenUrlAName) return reinterpret_cast<FARPROC>(&StandInInternetOpenUrlA);
        if (name == kHttpQueryInfoAName) return reinterpret_cast<FARPROC>(&StandInHttpQueryInfoA);
        if (name == kInternetReadFileName) return reinterpret_cast<FARPROC>(&StandInInternetReadFile);
        if (name == kInternetCloseHandleName) return reinterpret_cast<FARPROC>(&StandInInternetCloseHandle);
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }

    bool FreeLibrary(HMODULE module) override {
        if (module != TheModuleHandle()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        return Module().Release();
    }

private:
    std::string libraryFile_;
    InternetLimits limits_;
};

}  // namespace

std::unique_ptr<InternetLibraryFacility> MakeCurlInternetLibrary(std::string libraryFile, InternetLimits limits) {
    return std::make_unique<CurlInternetLibrary>(std::move(libraryFile), limits);
}

std::uint32_t LoadedInternetLibraryReferences() { return Module().References(); }

template <>
InternetLibraryFacility& DefaultFacility<InternetLibraryFacility>() {
    static CurlInternetLibrary library("libcurl.so.4", InternetLimits{});
    return library;
}

}  // namespace kairovel::platform
