// The WinInet stand-in of the Linux build: libcurl, loaded at run time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/inet.h"

namespace kairovel::platform {

// Bounds of one URL fetch, so that no server can hold the program up or fill its memory.
struct InternetLimits {
    std::uint32_t connectTimeoutMilliseconds = 10'000;  // name resolution and connection
    std::uint32_t totalTimeoutMilliseconds = 30'000;    // the whole fetch, redirects included
    std::size_t maxBodyBytes = 1 << 20;                 // a parameter URL is a few kilobytes
    std::uint32_t maxRedirects = 5;
};

// A loader of "wininet.DLL" that loads libraryFile (normally "libcurl.so.4")
// with dlopen. The library is one per process, as a DLL is: the limits of the
// loader that loads it while nothing holds it are the ones in force.
std::unique_ptr<InternetLibraryFacility> MakeCurlInternetLibrary(std::string libraryFile = "libcurl.so.4",
                                                                 InternetLimits limits = {});

// How many loads of the library are outstanding (0: it is not loaded).
std::uint32_t LoadedInternetLibraryReferences();

}  // namespace kairovel::platform
