// Files on Windows: the system's calls, with the facility's 32-bit types.
#include <windows.h>

#include <string>

#include "platform/interface/file.h"

namespace kairovel::platform {
namespace {

class WindowsFiles final : public FileFacility {
public:
    HANDLE CreateFileW(std::wstring_view fileName, std::uint32_t desiredAccess, std::uint32_t shareMode,
                       std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) override {
        const std::wstring name(fileName);
        return ::CreateFileW(name.c_str(), desiredAccess, shareMode, nullptr, creationDisposition, flagsAndAttributes,
                             nullptr);
    }

    bool ReadFile(HANDLE file, void* buffer, std::uint32_t toRead, std::uint32_t& read) override {
        DWORD done = 0;
        const bool ok = ::ReadFile(file, buffer, toRead, &done, nullptr) != FALSE;
        read = done;
        return ok;
    }

    bool WriteFile(HANDLE file, const void* buffer, std::uint32_t toWrite, std::uint32_t& written) override {
        DWORD done = 0;
        const bool ok = ::WriteFile(file, buffer, toWrite, &done, nullptr) != FALSE;
        written = done;
        return ok;
    }

    std::uint32_t SetFilePointer(HANDLE file, std::int32_t distance, std::int32_t* distanceHigh,
                                 std::uint32_t moveMethod) override {
        LONG high = distanceHigh != nullptr ? *distanceHigh : 0;
        const DWORD low = ::SetFilePointer(file, distance, distanceHigh != nullptr ? &high : nullptr, moveMethod);
        if (distanceHigh != nullptr) *distanceHigh = high;
        return low;
    }

    bool SetEndOfFile(HANDLE file) override { return ::SetEndOfFile(file) != FALSE; }

    std::uint32_t GetFileSize(HANDLE file, std::uint32_t* sizeHigh) override {
        DWORD high = 0;
        const DWORD low = ::GetFileSize(file, sizeHigh != nullptr ? &high : nullptr);
        if (sizeHigh != nullptr) *sizeHigh = high;
        return low;
    }

    bool FlushFileBuffers(HANDLE file) override { return ::FlushFileBuffers(file) != FALSE; }
    bool CloseHandle(HANDLE file) override { return ::CloseHandle(file) != FALSE; }
};

}  // namespace

template <>
FileFacility& DefaultFacility<FileFacility>() {
    static WindowsFiles files;
    return files;
}

}  // namespace kairovel::platform
