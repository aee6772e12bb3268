// WinInet on Windows: the real wininet.dll, loaded at run time. The library's
// entry points have the system's types (BOOL, DWORD, DWORD_PTR), so
// GetProcAddress hands out trampolines of the facility's types that call
// them, each looked up in the library when it is first asked for.
#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <string>
#include <string_view>

#include "platform/interface/inet.h"

namespace kairovel::platform {
namespace {

using NativeOpenA = ::HINTERNET(WINAPI*)(LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD);
using NativeOpenUrlA = ::HINTERNET(WINAPI*)(::HINTERNET, LPCSTR, LPCSTR, DWORD, DWORD, DWORD_PTR);
using NativeHttpQueryInfoA = BOOL(WINAPI*)(::HINTERNET, DWORD, LPVOID, LPDWORD, LPDWORD);
using NativeReadFile = BOOL(WINAPI*)(::HINTERNET, LPVOID, DWORD, LPDWORD);
using NativeCloseHandle = BOOL(WINAPI*)(::HINTERNET);

// The library's entry points, as GetProcAddress found them last.
struct NativeEntryPoints {
    std::atomic<NativeOpenA> openA{nullptr};
    std::atomic<NativeOpenUrlA> openUrlA{nullptr};
    std::atomic<NativeHttpQueryInfoA> httpQueryInfoA{nullptr};
    std::atomic<NativeReadFile> readFile{nullptr};
    std::atomic<NativeCloseHandle> closeHandle{nullptr};
};

NativeEntryPoints& Native() {
    static NativeEntryPoints entryPoints;
    return entryPoints;
}

HINTERNET OpenA(const char* agent, std::uint32_t accessType, const char* proxy, const char* proxyBypass,
                std::uint32_t flags) {
    return Native().openA.load()(agent, accessType, proxy, proxyBypass, flags);
}

HINTERNET OpenUrlA(HINTERNET internet, const char* url, const char* headers, std::uint32_t headersLength,
                   std::uint32_t flags, std::uintptr_t context) {
    return Native().openUrlA.load()(static_cast<::HINTERNET>(internet), url, headers, headersLength, flags, context);
}

bool HttpQueryInfoA(HINTERNET request, std::uint32_t infoLevel, void* buffer, std::uint32_t* bufferLength,
                    std::uint32_t* index) {
    DWORD length = bufferLength != nullptr ? *bufferLength : 0;
    DWORD at = index != nullptr ? *index : 0;
    const bool ok = Native().httpQueryInfoA.load()(static_cast<::HINTERNET>(request), infoLevel, buffer,
                                                   bufferLength != nullptr ? &length : nullptr,
                                                   index != nullptr ? &at : nullptr) != FALSE;
    if (bufferLength != nullptr) *bufferLength = length;
    if (index != nullptr) *index = at;
    return ok;
}

bool ReadFile(HINTERNET file, void* buffer, std::uint32_t bytesToRead, std::uint32_t* bytesRead) {
    DWORD read = 0;
    const bool ok = Native().readFile.load()(static_cast<::HINTERNET>(file), buffer, bytesToRead, &read) != FALSE;
    if (bytesRead != nullptr) *bytesRead = read;
    return ok;
}

bool CloseHandle(HINTERNET handle) { return Native().closeHandle.load()(static_cast<::HINTERNET>(handle)) != FALSE; }

// Looks the entry point up and keeps it; the trampoline, or null with the system's last error.
template <class NativeFunction, class Trampoline>
FARPROC Find(HMODULE module, const char* name, std::atomic<NativeFunction>& slot, Trampoline trampoline) {
    const ::FARPROC found = ::GetProcAddress(reinterpret_cast<::HMODULE>(module), name);
    if (found == nullptr) return nullptr;
    slot.store(reinterpret_cast<NativeFunction>(reinterpret_cast<void (*)()>(found)));
    return reinterpret_cast<FARPROC>(trampoline);
}

class WindowsInternetLibrary final : public InternetLibraryFacility {
public:
    HMODULE LoadLibraryW(std::wstring_view fileName) override {
        const std::wstring name(fileName);
        return reinterpret_cast<HMODULE>(::LoadLibraryW(name.c_str()));
    }

    FARPROC GetProcAddress(HMODULE module, const char* procName) override {
        const std::string_view name(procName != nullptr ? procName : "");
        if (name == kInternetOpenAName) return Find(module, procName, Native().openA, &OpenA);
        if (name == kInternetOpenUrlAName) return Find(module, procName, Native().openUrlA, &OpenUrlA);
        if (name == kHttpQueryInfoAName) return Find(module, procName, Native().httpQueryInfoA, &HttpQueryInfoA);
        if (name == kInternetReadFileName) return Find(module, procName, Native().readFile, &ReadFile);
        if (name == kInternetCloseHandleName) return Find(module, procName, Native().closeHandle, &CloseHandle);
        ::SetLastError(ERROR_PROC_NOT_FOUND);  // an entry point the facility has no trampoline for
        return nullptr;
    }

    bool FreeLibrary(HMODULE module) override { return ::FreeLibrary(reinterpret_cast<::HMODULE>(module)) != FALSE; }
};

}  // namespace

template <>
InternetLibraryFacility& DefaultFacility<InternetLibraryFacility>() {
    static WindowsInternetLibrary library;
    return library;
}

}  // namespace kairovel::platform
