// A WinInet library that serves one body from memory, so that URL includes
// reach the reader, the decoder and the parser without a network.
#pragma once

#include <cstdint>
#include <string>

#include "platform/inet.h"

namespace kairovel::fuzz {

class ScriptedInternet final : public platform::InternetLibraryFacility {
public:
    // Every URL opened from now on serves body, blockBytes (at least 1) at a time.
    static void Serve(std::string body, std::uint32_t blockBytes);

    platform::HMODULE LoadLibraryW(std::wstring_view fileName) override;
    platform::FARPROC GetProcAddress(platform::HMODULE module, const char* procName) override;
    bool FreeLibrary(platform::HMODULE module) override;
};

// Puts a ScriptedInternet in the place of the process's Internet library, once.
void UseScriptedInternet();

}  // namespace kairovel::fuzz
