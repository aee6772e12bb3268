// The run-time folder of a service, /run/<unit stem>, where the two sides of
// the service manager meet beside systemd (systemd makes it at the start,
// RuntimeDirectory=, and keeps it until the machine stops):
//   status            the Windows status the service last reported, with its
//                     process, written by the service and read by anyone
//   start-parameters  the start parameters of StartServiceW, written by root
//                     (mode 0600) before the start, read and removed by the
//                     service as it starts
//   control           the socket on which the service's dispatcher takes the
//                     controls systemd has no verb for (pause, continue,
//                     interrogate); only root may connect
// Files are replaced whole (written beside under a name no one can foretell,
// then renamed), never opened through a link, and refused when someone other
// than root or the caller owns them or may write them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/service_types.h"

namespace kairovel::platform::scm {

class RuntimeFolder {
public:
    explicit RuntimeFolder(const std::string& stem) : path_(std::filesystem::path("/run") / stem) {}

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path StatusFile() const { return path_ / "status"; }
    std::filesystem::path StartFile() const { return path_ / "start-parameters"; }
    std::filesystem::path ControlSocket() const { return path_ / "control"; }

    // Creates the folder (mode 0755) where it is missing, before systemd
    // does; false (last error set) when something else stands there.
    bool Prepare() const;
    // Removes the folder and what it holds.
    void Remove() const;

private:
    std::filesystem::path path_;
};

// A descriptor closed when it goes.
class Descriptor {
public:
    explicit Descriptor(int descriptor = -1) : descriptor_(descriptor) {}
    ~Descriptor() { Reset(); }
    Descriptor(Descriptor&& other) noexcept : descriptor_(other.Release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return descriptor_; }
    bool valid() const { return descriptor_ >= 0; }
    int Release() {
        const int descriptor = descriptor_;
        descriptor_ = -1;
        return descriptor;
    }
    void Reset(int descriptor = -1);

private:
    int descriptor_;
};

// Writes the whole text; false with the last error set.
bool WriteAll(int descriptor, std::string_view text);
// Replaces the file's content whole, with that mode; false with the last error set.
bool ReplaceFile(const std::filesystem::path& file, std::string_view content, unsigned mode);
// The file's content, or nullopt when it does not exist; false with the last error set.
bool ReadFile(const std::filesystem::path& file, std::optional<std::string>& content);

// What the service last reported, and which process reported it.
struct RunRecord {
    std::uint32_t pid = 0;
    SERVICE_STATUS status;
};

bool ReadRunRecord(const RuntimeFolder& folder, std::optional<RunRecord>& record);
bool WriteRunRecord(const RuntimeFolder& folder, const RunRecord& record);

// The start parameters, the service's name first.
bool WriteStartParameters(const RuntimeFolder& folder, const std::vector<std::wstring>& arguments);
// Reads the start parameters and removes the file: nullopt when there is
// none (systemd started the service itself) or it cannot be trusted.
std::optional<std::vector<std::wstring>> TakeStartParameters(const RuntimeFolder& folder);

}  // namespace kairovel::platform::scm
