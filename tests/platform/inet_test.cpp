// The WinInet stand-in over libcurl, against the test's own loopback HTTP server.
#include "platform/inet.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/last_error.h"
#include "platform/posix/curl_internet.h"
#include "platform/win_types.h"
#include "support/http_server.h"
#include "support/temporary_directory.h"

namespace kairovel::platform {
namespace {

// The entry points of one loading.
struct Loaded {
    HMODULE module = nullptr;
    InternetOpenAFunction open = nullptr;
    InternetOpenUrlAFunction openUrl = nullptr;
    HttpQueryInfoAFunction query = nullptr;
    InternetReadFileFunction read = nullptr;
    InternetCloseHandleFunction close = nullptr;
};

Loaded Load(InternetLibraryFacility& library) {
    Loaded out;
    out.module = library.LoadLibraryW(L"WinInet.dll");
    if (out.module == nullptr) return out;
    out.open = reinterpret_cast<InternetOpenAFunction>(library.GetProcAddress(out.module, kInternetOpenAName));
    out.openUrl = reinterpret_cast<InternetOpenUrlAFunction>(library.GetProcAddress(out.module, kInternetOpenUrlAName));
    out.query = reinterpret_cast<HttpQueryInfoAFunction>(library.GetProcAddress(out.module, kHttpQueryInfoAName));
    out.read = reinterpret_cast<InternetReadFileFunction>(library.GetProcAddress(out.module, kInternetReadFileName));
    out.close =
        reinterpret_cast<InternetCloseHandleFunction>(library.GetProcAddress(out.module, kInternetCloseHandleName));
    return out;
}

class WinInetStandIn : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(LoadedInternetLibraryReferences(), 0u); }

    testing::ScopedEnvironment noProxy_{"no_proxy", "*"};
    testing::LoopbackHttpServer server_;
};

TEST_F(WinInetStandIn, LoadingIsCountedAndOnlyWinInetIsKnown) {
    InternetLibraryFacility& library = InternetLibrary();
    SetLastError(0);
    EXPECT_EQ(library.LoadLibraryW(L"netapi32.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);

    const HMODULE first = library.LoadLibraryW(L"wininet.DLL");
    const HMODULE second = library.LoadLibraryW(L"WININET.DLL");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_EQ(LoadedInternetLibraryReferences(), 2u);
    EXPECT_EQ(library.GetProcAddress(first, "InternetConnectA"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_TRUE(library.FreeLibrary(first));
    EXPECT_EQ(LoadedInternetLibraryReferences(), 1u);
    EXPECT_TRUE(library.FreeLibrary(second));
    EXPECT_EQ(LoadedInternetLibraryReferences(), 0u);
    EXPECT_FALSE(library.FreeLibrary(second));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    const auto missing = MakeCurlInternetLibrary("libkairovel-no-such-library.so.4");
    EXPECT_EQ(missing->LoadLibraryW(L"wininet.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST_F(WinInetStandIn, TheBodyIsHandedOutInThePiecesAskedFor) {
    server_.ServeText("/body", std::string(450, 'b'));
    const Loaded wininet = Load(InternetLibrary());
    ASSERT_NE(wininet.close, nullptr);
    const HINTERNET internet = wininet.open("Kairovel", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    ASSERT_NE(internet, nullptr);
    const HINTERNET file = wininet.openUrl(internet, server_.Url("/body").c_str(), "Accept: text/plain\r\n\r\n",
                                           kHeadersNullTerminated, INTERNET_FLAG_NO_CACHE_WRITE, 0);
    ASSERT_NE(file, nullptr);
    char block[200];
    std::uint32_t got = 0;
    std::vector<std::uint32_t> sizes;
    do {
        ASSERT_TRUE(wininet.read(file, block, sizeof block, &got));
        sizes.push_back(got);
    } while (got > 0 && sizes.size() < 10);
    EXPECT_EQ(sizes, (std::vector<std::uint32_t>{200, 200, 50, 0}));

    // Handles of the wrong kind, and handles already closed.
    EXPECT_FALSE(wininet.read(internet, block, sizeof block, &got));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    EXPECT_EQ(wininet.openUrl(file, "http://127.0.0.1/", nullptr, 0, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    EXPECT_TRUE(wininet.close(file));
    EXPECT_FALSE(wininet.close(file));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(wininet.read(file, block, sizeof block, &got));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(wininet.close(internet));
    EXPECT_TRUE(InternetLibrary().FreeLibrary(wininet.module));
}

TEST_F(WinInetStandIn, ABodyBeyondTheLimitFailsToReadAfterWhatWasKept) {
    const auto small = MakeCurlInternetLibrary("libcurl.so.4", {.maxBodyBytes = 300});
    server_.ServeText("/big", std::string(100'000, 'g'));
    const Loaded wininet = Load(*small);
    ASSERT_NE(wininet.close, nullptr);
    const HINTERNET internet = wininet.open("Kairovel", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    const HINTERNET file = wininet.openUrl(internet, server_.Url("/big").c_str(), nullptr, 0, 0, 0);
    ASSERT_NE(file, nullptr);
    char block[200];
    std::uint32_t got = 0;
    ASSERT_TRUE(wininet.read(file, block, sizeof block, &got));
    EXPECT_EQ(got, 200u);
    ASSERT_TRUE(wininet.read(file, block, sizeof block, &got));
    EXPECT_EQ(got, 100u);
    EXPECT_FALSE(wininet.read(file, block, sizeof block, &got));
    EXPECT_EQ(got, 0u);
    // Handles still open when the library goes are released with it.
    EXPECT_TRUE(small->FreeLibrary(wininet.module));
}

TEST_F(WinInetStandIn, AnErrorPageOpensAndItsStatusIsThereToAskFor) {
    testing::HttpResponse missing;
    missing.status = 404;
    missing.reason = "Not Found";
    missing.body = "no such page";
    server_.Serve("/missing", missing);
    server_.ServeText("/here", "/period=0:1:0\n");
    const Loaded wininet = Load(InternetLibrary());
    ASSERT_NE(wininet.query, nullptr);
    const HINTERNET internet = wininet.open("Kairovel", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    for (const auto& [path, expected] : {std::pair{"/missing", 404u}, std::pair{"/here", 200u}}) {
        const HINTERNET file = wininet.openUrl(internet, server_.Url(path).c_str(), nullptr, 0, 0, 0);
        ASSERT_NE(file, nullptr) << path;
        std::uint32_t status = 0;
        std::uint32_t length = 2;  // too little room: the size needed comes back
        EXPECT_FALSE(wininet.query(file, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        EXPECT_EQ(length, 4u);
        EXPECT_TRUE(wininet.query(file, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length, nullptr));
        EXPECT_EQ(status, expected);
        EXPECT_TRUE(wininet.close(file));
    }
    EXPECT_TRUE(wininet.close(internet));
    EXPECT_TRUE(InternetLibrary().FreeLibrary(wininet.module));
}

TEST_F(WinInetStandIn, TooManyRedirectsAndUnknownAccessTypes) {
    testing::HttpResponse loop;
    loop.status = 301;
    loop.reason = "Moved Permanently";
    loop.headers = {{"Location", "/loop"}};
    server_.Serve("/loop", loop);
    const Loaded wininet = Load(InternetLibrary());
    ASSERT_NE(wininet.close, nullptr);
    EXPECT_EQ(wininet.open("Kairovel", 2, nullptr, nullptr, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    const HINTERNET internet = wininet.open("Kairovel", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    EXPECT_EQ(wininet.openUrl(internet, server_.Url("/loop").c_str(), nullptr, 0, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_HTTP_REDIRECT_FAILED);
    EXPECT_EQ(server_.Requests().size(), 6u);  // the first request and five redirects
    EXPECT_TRUE(wininet.close(internet));
    EXPECT_TRUE(InternetLibrary().FreeLibrary(wininet.module));
}

}  // namespace
}  // namespace kairovel::platform
