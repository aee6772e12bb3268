// A WinInet library that a test or a fuzz target scripts: the body it serves
// from memory (a block at a time), the HTTP status, and the failures the real
// library never shows on demand. It counts what is loaded and opened, so that
// a test can see nothing was left behind.
#pragma once

#include <cstdint>
#include <string>

#include "platform/inet.h"

namespace kairovel::testing {

struct InternetScript {
    bool loads = true;
    const char* missingEntryPoint = nullptr;  // GetProcAddress finds no such name
    bool sessionFails = false;                // InternetOpenA fails with 12004
    bool readFails = false;                   // InternetReadFile fails with 12031
    std::uint32_t status = 200;
    std::string body = "/trace\n";            // served to every URL opened
    std::uint32_t blockBytes = 4096;          // the most one read hands out
    int loaded = 0;
    int openHandles = 0;
};

class ScriptedInternet final : public platform::InternetLibraryFacility {
public:
    // The script every ScriptedInternet follows: the library's entry points
    // are plain functions, so there is one for the process.
    static InternetScript& Script();
    // Every URL opened from now on serves body, blockBytes (at least 1) at a time.
    static void Serve(std::string body, std::uint32_t blockBytes);

    platform::HMODULE LoadLibraryW(std::wstring_view fileName) override;
    platform::FARPROC GetProcAddress(platform::HMODULE module, const char* procName) override;
    bool FreeLibrary(platform::HMODULE module) override;
};

}  // namespace kairovel::testing
