#include "config/url_reader.h"

#include <string_view>

#include "log/logger.h"
#include "platform/last_error.h"

namespace kairovel {
namespace {

using platform::HINTERNET;

// The one loading of the Internet library that all readers share.
struct SharedLoading {
    platform::HMODULE module = nullptr;
    platform::InternetOpenAFunction InternetOpenA = nullptr;
    platform::InternetOpenUrlAFunction InternetOpenUrlA = nullptr;
    platform::HttpQueryInfoAFunction HttpQueryInfoA = nullptr;
    platform::InternetReadFileFunction InternetReadFile = nullptr;
    platform::InternetCloseHandleFunction InternetCloseHandle = nullptr;
    std::uint32_t liveReaders = 0;
};

SharedLoading library;

template <class Function>
Function EntryPoint(const char* name) {
    return reinterpret_cast<Function>(platform::InternetLibrary().GetProcAddress(library.module, name));
}

// Loads the library and finds its entry points; on failure nothing stays loaded.
void LoadInternetLibrary() {
    library.module = platform::InternetLibrary().LoadLibraryW(L"wininet.DLL");
    if (library.module == nullptr) RaiseError(L"Could not load WinInet.DLL");
    library.InternetOpenA = EntryPoint<platform::InternetOpenAFunction>(platform::kInternetOpenAName);
    library.InternetOpenUrlA = EntryPoint<platform::InternetOpenUrlAFunction>(platform::kInternetOpenUrlAName);
    library.HttpQueryInfoA = EntryPoint<platform::HttpQueryInfoAFunction>(platform::kHttpQueryInfoAName);
    library.InternetReadFile = EntryPoint<platform::InternetReadFileFunction>(platform::kInternetReadFileName);
    library.InternetCloseHandle =
        EntryPoint<platform::InternetCloseHandleFunction>(platform::kInternetCloseHandleName);
    const wchar_t* missing = library.InternetOpenA == nullptr         ? L"InternetOpenA"
                             : library.InternetOpenUrlA == nullptr    ? L"InternetOpenUrlA"
                             : library.HttpQueryInfoA == nullptr      ? L"HttpQueryInfoA"
                             : library.InternetReadFile == nullptr    ? L"InternetReadFile"
                             : library.InternetCloseHandle == nullptr ? L"InternetCloseHandle"
                                                                      : nullptr;
    if (missing != nullptr) {
        platform::InternetLibrary().FreeLibrary(library.module);
        library = SharedLoading{};
        RaiseError(L"Could not get address of %s", missing);
    }
}

// Takes one reader off the count; the last one releases the library.
void ReleaseReader() {
    if (--library.liveReaders == 0) {
        platform::InternetLibrary().FreeLibrary(library.module);
        library = SharedLoading{};
    }
}

}  // namespace

UrlReader::UrlReader(const std::wstring& url) {
    if (library.liveReaders == 0) LoadInternetLibrary();
    ++library.liveReaders;

    internet_ = library.InternetOpenA(kAgentName, platform::INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (internet_ == nullptr) {
        const std::uint32_t error = platform::GetLastError();
        ReleaseReader();
        RaiseError(L"Could not make an Internet session due to error %d", error);
    }
    const std::string narrowUrl = platform::WideToAnsi(url);
    file_ = library.InternetOpenUrlA(internet_, narrowUrl.c_str(), kRequestHeaders, platform::kHeadersNullTerminated,
                                     platform::INTERNET_FLAG_NO_CACHE_WRITE, 0);
    // An HTTP server answers even when it has nothing to give: an answer
    // outside 200..299 is an error page, never switches, and its status is the
    // clearest code for the message (404, 500, ...). Other protocols have no status.
    const std::uint32_t error = file_ == nullptr ? platform::GetLastError() : HttpErrorStatus();
    if (error != 0) {
        CloseHandles();
        ReleaseReader();
        RaiseError(L"Could not open the URL %s due to error %d", url, error);
    }
}

std::uint32_t UrlReader::HttpErrorStatus() const {
    constexpr std::uint32_t kFirstSuccess = 200;
    constexpr std::uint32_t kLastSuccess = 299;
    std::uint32_t status = 0;
    std::uint32_t length = sizeof status;
    if (!library.HttpQueryInfoA(file_, platform::HTTP_QUERY_STATUS_CODE | platform::HTTP_QUERY_FLAG_NUMBER, &status,
                                &length, nullptr)) {
        const std::uint32_t error = platform::GetLastError();
        return error == platform::ERROR_INTERNET_INCORRECT_HANDLE_TYPE ? 0 : error;
    }
    return status >= kFirstSuccess && status <= kLastSuccess ? 0 : status;
}

UrlReader::~UrlReader() {
    CloseHandles();
    ReleaseReader();
}

void UrlReader::CloseHandles() {
    if (file_ != nullptr) library.InternetCloseHandle(file_);
    if (internet_ != nullptr) library.InternetCloseHandle(internet_);
    file_ = nullptr;
    internet_ = nullptr;
}

std::wstring UrlReader::ReadChunk() {
    // A character split between two blocks is decoded whole, so a block may
    // yield no text of its own: read on until there is some or the body ends.
    while (!bodyEnded_) {
        char block[kReadBlockBytes];
        std::uint32_t bytesRead = 0;
        if (!library.InternetReadFile(file_, block, kReadBlockBytes, &bytesRead)) {
            RaiseError(L"Could not read from remote Internet server");
        }
        if (bytesRead > kReadBlockBytes) bytesRead = kReadBlockBytes;  // never more than the block holds
        if (bytesRead == 0) {
            bodyEnded_ = true;
            return decoder_.Finish();
        }
        std::wstring text = decoder_.Decode(std::string_view(block, bytesRead));
        if (!text.empty()) return text;
    }
    return {};
}

std::uint32_t UrlReader::LiveReaders() { return library.liveReaders; }

}  // namespace kairovel
