// WinInet: the library that reads a URL, loaded at run time.
//
// The program loads "wininet.DLL" only when it reads its first URL, looks up
// the four entry points it uses, and frees the library when its last reader
// is gone. This facility is the loader: LoadLibraryW, GetProcAddress and
// FreeLibrary for that library. The entry points keep the Windows signatures
// and report failures through the last error with the WinInet codes below.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/facility.h"

namespace kairovel::platform {

using HINTERNET = void*;
using HMODULE = struct LoadedModule*;
using FARPROC = void (*)();  // cast to the entry point's own type by the caller

// InternetOpenA access types.
inline constexpr std::uint32_t INTERNET_OPEN_TYPE_PRECONFIG = 0;  // the system's proxy settings
inline constexpr std::uint32_t INTERNET_OPEN_TYPE_DIRECT = 1;
inline constexpr std::uint32_t INTERNET_OPEN_TYPE_PROXY = 3;
// InternetOpenUrlA flag: the response is not written to the cache.
inline constexpr std::uint32_t INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000;
// Header length that means "the headers are a null-terminated string".
inline constexpr std::uint32_t kHeadersNullTerminated = 0xFFFFFFFF;

// WinInet error codes.
enum : std::uint32_t {
    ERROR_INTERNET_TIMEOUT = 12002,
    ERROR_INTERNET_EXTENDED_ERROR = 12003,
    ERROR_INTERNET_INTERNAL_ERROR = 12004,
    ERROR_INTERNET_INVALID_URL = 12005,
    ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006,
    ERROR_INTERNET_NAME_NOT_RESOLVED = 12007,
    ERROR_INTERNET_LOGIN_FAILURE = 12015,
    ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018,
    ERROR_INTERNET_CANNOT_CONNECT = 12029,
    ERROR_INTERNET_CONNECTION_ABORTED = 12030,
    ERROR_INTERNET_CONNECTION_RESET = 12031,
    ERROR_INTERNET_INVALID_CA = 12045,
    ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152,
    ERROR_HTTP_REDIRECT_FAILED = 12156,
    ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157,
};

// The four entry points, as GetProcAddress finds them under these names.
inline constexpr char kInternetOpenAName[] = "InternetOpenA";
inline constexpr char kInternetOpenUrlAName[] = "InternetOpenUrlA";
inline constexpr char kInternetReadFileName[] = "InternetReadFile";
inline constexpr char kInternetCloseHandleName[] = "InternetCloseHandle";

// Opens an Internet session; null on failure.
using InternetOpenAFunction = HINTERNET (*)(const char* agent, std::uint32_t accessType, const char* proxy,
                                            const char* proxyBypass, std::uint32_t flags);
// Opens a URL in a session; null on failure. Whether the server's answer is
// usable is decided here: a URL whose server answers with an error status
// (an HTTP status outside 200..299) fails with that status as the last error.
using InternetOpenUrlAFunction = HINTERNET (*)(HINTERNET internet, const char* url, const char* headers,
                                               std::uint32_t headersLength, std::uint32_t flags,
                                               std::uintptr_t context);
// Reads the next bytes of the body; 0 bytes read with true means the end.
using InternetReadFileFunction = bool (*)(HINTERNET file, void* buffer, std::uint32_t bytesToRead,
                                          std::uint32_t* bytesRead);
using InternetCloseHandleFunction = bool (*)(HINTERNET handle);

class InternetLibraryFacility {
public:
    virtual ~InternetLibraryFacility() = default;

    // Loads the library (the name is compared without regard to case) or
    // counts one more reference to it; null with the last error set on failure.
    virtual HMODULE LoadLibraryW(std::wstring_view fileName) = 0;
    // The entry point of that name; null with ERROR_PROC_NOT_FOUND when it has none.
    virtual FARPROC GetProcAddress(HMODULE module, const char* procName) = 0;
    // Drops one reference; the last one unloads the library.
    virtual bool FreeLibrary(HMODULE module) = 0;
};

template <>
InternetLibraryFacility& DefaultFacility<InternetLibraryFacility>();

inline InternetLibraryFacility& InternetLibrary() { return Facility<InternetLibraryFacility>::Get(); }

}  // namespace kairovel::platform
