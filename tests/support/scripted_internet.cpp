#include "support/scripted_internet.h"

#include <algorithm>
#include <cstring>

#include "platform/last_error.h"

namespace kairovel::testing {
namespace {

InternetScript script;
int sessionMarker = 0;

// One opened URL: how far its body has been read.
struct OpenedUrl {
    std::size_t offset = 0;
};

platform::HINTERNET Open(const char*, std::uint32_t, const char*, const char*, std::uint32_t) {
    if (script.sessionFails) {
        platform::SetLastError(platform::ERROR_INTERNET_INTERNAL_ERROR);
        return nullptr;
    }
    ++script.openHandles;
    return &sessionMarker;
}

platform::HINTERNET OpenUrl(platform::HINTERNET, const char*, const char*, std::uint32_t, std::uint32_t,
                            std::uintptr_t) {
    ++script.openHandles;
    return new OpenedUrl;
}

bool QueryStatus(platform::HINTERNET, std::uint32_t, void* buffer, std::uint32_t* bufferLength, std::uint32_t*) {
    if (*bufferLength < sizeof script.status) return false;
    std::memcpy(buffer, &script.status, sizeof script.status);
    *bufferLength = sizeof script.status;
    return true;
}

bool Read(platform::HINTERNET file, void* buffer, std::uint32_t bytesToRead, std::uint32_t* bytesRead) {
    if (script.readFails) {
        platform::SetLastError(platform::ERROR_INTERNET_CONNECTION_RESET);
        return false;
    }
    auto* opened = static_cast<OpenedUrl*>(file);
    const std::size_t left = script.body.size() - std::min(opened->offset, script.body.size());
    const std::size_t count = std::min<std::size_t>({left, bytesToRead, script.blockBytes});
    std::memcpy(buffer, script.body.data() + opened->offset, count);
    opened->offset += count;
    *bytesRead = static_cast<std::uint32_t>(count);
    return true;
}

bool Close(platform::HINTERNET handle) {
    --script.openHandles;
    if (handle != &sessionMarker) delete static_cast<OpenedUrl*>(handle);
    return true;
}

}  // namespace

InternetScript& ScriptedInternet::Script() { return script; }

void ScriptedInternet::Serve(std::string body, std::uint32_t blockBytes) {
    script.body = std::move(body);
    script.blockBytes = std::max<std::uint32_t>(blockBytes, 1);
}

platform::HMODULE ScriptedInternet::LoadLibraryW(std::wstring_view) {
    if (!script.loads) return nullptr;
    ++script.loaded;
    return reinterpret_cast<platform::HMODULE>(&script);
}

platform::FARPROC ScriptedInternet::GetProcAddress(platform::HMODULE, const char* name) {
    if (script.missingEntryPoint != nullptr && std::strcmp(name, script.missingEntryPoint) == 0) return nullptr;
    if (std::strcmp(name, platform::kInternetOpenAName) == 0) return reinterpret_cast<platform::FARPROC>(&Open);
    if (std::strcmp(name, platform::kInternetOpenUrlAName) == 0) return reinterpret_cast<platform::FARPROC>(&OpenUrl);
    if (std::strcmp(name, platform::kHttpQueryInfoAName) == 0) return reinterpret_cast<platform::FARPROC>(&QueryStatus);
    if (std::strcmp(name, platform::kInternetReadFileName) == 0) return reinterpret_cast<platform::FARPROC>(&Read);
    if (std::strcmp(name, platform::kInternetCloseHandleName) == 0) return reinterpret_cast<platform::FARPROC>(&Close);
    return nullptr;
}

bool ScriptedInternet::FreeLibrary(platform::HMODULE) {
    --script.loaded;
    return true;
}

}  // namespace kairovel::testing
