// Fetching a URL on Windows: wininet.dll, loaded at the first fetch and kept.
// A fetch opens a session and the URL, asks an HTTP answer for its status
// (other protocols have none) and reads the body to its end or its limit.
#include <windows.h>
#include <wininet.h>

#include <mutex>
#include <string>

#include "platform/interface/url_fetch.h"

namespace kairovel::platform {
namespace {

constexpr DWORD kReadBlockBytes = 4096;

// The library's entry points, as the fetch calls them.
struct WinInetApi {
    decltype(&::InternetOpenA) openA = nullptr;
    decltype(&::InternetOpenUrlA) openUrlA = nullptr;
    decltype(&::HttpQueryInfoA) httpQueryInfoA = nullptr;
    decltype(&::InternetReadFile) readFile = nullptr;
    decltype(&::InternetCloseHandle) closeHandle = nullptr;
};

UrlFetchResult Failed(UrlFetchStep step, std::uint32_t error) {
    UrlFetchResult result;
    result.failedStep = step;
    result.error = error;
    return result;
}

// Looks up one entry point; false, with its name in the result, when the library has none.
template <class Function>
bool Find(HMODULE module, const char* name, Function& out, UrlFetchResult& failure) {
    out = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
    if (out != nullptr) return true;
    failure = Failed(UrlFetchStep::kFindEntryPoint, ::GetLastError());
    failure.missingEntryPoint = name;
    return false;
}

// wininet.dll, loaded by the first fetch that needs it and kept; a load that
// failed is tried again by the next fetch.
class WinInetLibrary {
public:
    // The entry points, or null with the failure.
    const WinInetApi* Load(UrlFetchResult& failure) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (loaded_) return &api_;
        const HMODULE module = ::LoadLibraryW(L"wininet.dll");
        if (module == nullptr) {
            failure = Failed(UrlFetchStep::kLoadLibrary, ::GetLastError());
            return nullptr;
        }
        if (!Find(module, "InternetOpenA", api_.openA, failure) ||
            !Find(module, "InternetOpenUrlA", api_.openUrlA, failure) ||
            !Find(module, "HttpQueryInfoA", api_.httpQueryInfoA, failure) ||
            !Find(module, "InternetReadFile", api_.readFile, failure) ||
            !Find(module, "InternetCloseHandle", api_.closeHandle, failure)) {
            ::FreeLibrary(module);
            return nullptr;
        }
        loaded_ = true;
        return &api_;
    }

private:
    std::mutex mutex_;
    WinInetApi api_;
    bool loaded_ = false;
};

// An Internet handle, closed when the scope ends.
class InternetHandle {
public:
    InternetHandle(const WinInetApi& api, HINTERNET handle) : api_(api), handle_(handle) {}
    ~InternetHandle() {
        if (handle_ != nullptr) api_.closeHandle(handle_);
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;

    HINTERNET get() const { return handle_; }

private:
    const WinInetApi& api_;
    HINTERNET handle_;
};

class WinInetUrlFetch final : public UrlFetchFacility {
public:
    UrlFetchResult Fetch(const UrlRequest& request) override {
        UrlFetchResult result;
        const WinInetApi* api = library_.Load(result);
        if (api == nullptr) return result;
        const InternetHandle session(*api, api->openA(request.agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                                      nullptr, 0));
        if (session.get() == nullptr) return Failed(UrlFetchStep::kOpenSession, ::GetLastError());
        const std::string headers = "Accept: " + request.accept + "\r\n\r\n";
        const InternetHandle url(*api, api->openUrlA(session.get(), request.url.c_str(), headers.c_str(),
                                                     static_cast<DWORD>(-1), INTERNET_FLAG_NO_CACHE_WRITE, 0));
        if (url.get() == nullptr) return Failed(UrlFetchStep::kOpenUrl, ::GetLastError());

        DWORD status = 0;
        DWORD length = sizeof status;
        if (api->httpQueryInfoA(url.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length,
                                nullptr) == FALSE) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_INTERNET_INCORRECT_HANDLE_TYPE) return Failed(UrlFetchStep::kOpenUrl, error);
            status = 0;  // not an HTTP answer
        }
        result.httpStatus = status;
        ReadBody(*api, url.get(), request.limits.maxBodyBytes, result);
        return result;
    }

private:
    // Reads the body into result, up to limit bytes; a longer body, or a read
    // that fails, fails the body's step.
    static void ReadBody(const WinInetApi& api, HINTERNET url, std::uint32_t limit, UrlFetchResult& result) {
        char block[kReadBlockBytes];
        for (;;) {
            DWORD read = 0;
            if (api.readFile(url, block, kReadBlockBytes, &read) == FALSE) {
                result.failedStep = UrlFetchStep::kReadBody;
                result.error = ::GetLastError();
                return;
            }
            if (read == 0) return;  // the end of the body
            if (read > limit - result.body.size()) {
                result.failedStep = UrlFetchStep::kReadBody;
                result.error = ERROR_NOT_ENOUGH_MEMORY;
                return;
            }
            result.body.append(block, read);
        }
    }

    WinInetLibrary library_;
};

}  // namespace

template <>
UrlFetchFacility& DefaultFacility<UrlFetchFacility>() {
    static WinInetUrlFetch fetch;
    return fetch;
}

}  // namespace kairovel::platform
