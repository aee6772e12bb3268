#include "scripted_internet.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/facility.h"

namespace kairovel::fuzz {
namespace {

struct Served {
    std::string body;
    std::uint32_t blockBytes = 1;
};
Served served;

// One opened URL: how far its body has been read.
struct OpenedUrl {
    std::size_t offset = 0;
};
int sessionMarker = 0;
int moduleMarker = 0;

platform::HINTERNET Open(const char*, std::uint32_t, const char*, const char*, std::uint32_t) {
    return &sessionMarker;
}

platform::HINTERNET OpenUrl(platform::HINTERNET, const char*, const char*, std::uint32_t, std::uint32_t,
                            std::uintptr_t) {
    return new OpenedUrl;
}

// Every body is served as a page found (200), so the fuzzed bytes reach the parser.
bool QueryStatus(platform::HINTERNET, std::uint32_t, void* buffer, std::uint32_t* bufferLength, std::uint32_t*) {
    const std::uint32_t found = 200;
    if (*bufferLength < sizeof found) return false;
    std::memcpy(buffer, &found, sizeof found);
    *bufferLength = sizeof found;
    return true;
}

bool Read(platform::HINTERNET file, void* buffer, std::uint32_t bytesToRead, std::uint32_t* bytesRead) {
    auto* opened = static_cast<OpenedUrl*>(file);
    const std::size_t left = served.body.size() - opened->offset;
    const std::size_t count = std::min<std::size_t>({left, bytesToRead, served.blockBytes});
    std::memcpy(buffer, served.body.data() + opened->offset, count);
    opened->offset += count;
    *bytesRead = static_cast<std::uint32_t>(count);
    return true;
}

bool Close(platform::HINTERNET handle) {
    if (handle != &sessionMarker) delete static_cast<OpenedUrl*>(handle);
    return true;
}

}  // namespace

void ScriptedInternet::Serve(std::string body, std::uint32_t blockBytes) {
    served.body = std::move(body);
    served.blockBytes = std::max<std::uint32_t>(blockBytes, 1);
}

platform::HMODULE ScriptedInternet::LoadLibraryW(std::wstring_view) {
    return reinterpret_cast<platform::HMODULE>(&moduleMarker);
}

platform::FARPROC ScriptedInternet::GetProcAddress(platform::HMODULE, const char* name) {
    if (std::strcmp(name, platform::kInternetOpenAName) == 0) return reinterpret_cast<platform::FARPROC>(&Open);
    if (std::strcmp(name, platform::kInternetOpenUrlAName) == 0) return reinterpret_cast<platform::FARPROC>(&OpenUrl);
    if (std::strcmp(name, platform::kHttpQueryInfoAName) == 0) return reinterpret_cast<platform::FARPROC>(&QueryStatus);
    if (std::strcmp(name, platform::kInternetReadFileName) == 0) return reinterpret_cast<platform::FARPROC>(&Read);
    if (std::strcmp(name, platform::kInternetCloseHandleName) == 0) return reinterpret_cast<platform::FARPROC>(&Close);
    return nullptr;
}

bool ScriptedInternet::FreeLibrary(platform::HMODULE) { return true; }

void UseScriptedInternet() {
    static ScriptedInternet library;
    static const platform::ScopedFacility<platform::InternetLibraryFacility> use(library);
}

}  // namespace kairovel::fuzz
