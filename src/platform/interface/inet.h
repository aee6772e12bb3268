// WinInet: the library that reads a URL, loaded at run time.
//
// The program loads "wininet.DLL" only when it reads its first URL, looks up
// the four entry points it uses, and frees the library when its last reader
// is gone. This facility is the loader: LoadLibraryW, GetProcAddress and
// FreeLibrary for that library. The entry points keep the Windows signatures,
// with the facility's own result types (bool, std::uint32_t), and report
// failures through the last error with the WinInet codes of platform/inet.h.
// On Windows GetProcAddress hands out trampolines of these types, which call
// the library's own entry points and convert their BOOL and DWORD results.
//
// This is the facility without its constants, for the Windows backend beside
// windows.h; platform/inet.h adds them under their Windows names.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/facility.h"

namespace kairovel::platform {

using HINTERNET = void*;
using HMODULE = struct LoadedModule*;
using FARPROC = void (*)();  // cast to the entry point's own type by the caller

// The entry points, as GetProcAddress finds them under these names.
inline constexpr char kInternetOpenAName[] = "InternetOpenA";
inline constexpr char kInternetOpenUrlAName[] = "InternetOpenUrlA";
inline constexpr char kHttpQueryInfoAName[] = "HttpQueryInfoA";
inline constexpr char kInternetReadFileName[] = "InternetReadFile";
inline constexpr char kInternetCloseHandleName[] = "InternetCloseHandle";

// Opens an Internet session; null on failure.
using InternetOpenAFunction = HINTERNET (*)(const char* agent, std::uint32_t accessType, const char* proxy,
                                            const char* proxyBypass, std::uint32_t flags);
// Opens a URL in a session; null on failure. A server that answers, with
// whatever status, gives a handle: its status is read with HttpQueryInfoA,
// and the body read is the one it sent (an error page, perhaps).
using InternetOpenUrlAFunction = HINTERNET (*)(HINTERNET internet, const char* url, const char* headers,
                                               std::uint32_t headersLength, std::uint32_t flags,
                                               std::uintptr_t context);
// Reads a piece of an HTTP answer's header. With HTTP_QUERY_STATUS_CODE |
// HTTP_QUERY_FLAG_NUMBER, the status (200, 404, ...) as a 32-bit number in
// buffer, whose room *bufferLength gives. A handle of another protocol (ftp)
// fails with ERROR_INTERNET_INCORRECT_HANDLE_TYPE. index may be null.
using HttpQueryInfoAFunction = bool (*)(HINTERNET request, std::uint32_t infoLevel, void* buffer,
                                        std::uint32_t* bufferLength, std::uint32_t* index);
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
