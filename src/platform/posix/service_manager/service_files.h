// The files in which the service manager stand-in keeps what outlives its callers.
//
// There is no manager process: every program that calls the manager reads and
// changes the same files, so each service has a folder of its own,
// $KAIROVEL_ROOT/service-manager/<NAME> (the name in capitals, since names
// compare without regard to case), holding:
//   lock      flock'ed exclusively while a caller starts, creates or deletes the service
//   handles   flock'ed shared by every open service handle of every process, so
//             that the entry is deleted only once the last handle is closed
//   record    the process that runs the service and the status it last reported
//   console   standard output and error of an interactive service
//   private/  (root only) the socket on which the service's dispatcher takes controls
// Files are replaced whole (written beside under a name no one can foretell,
// then renamed), created exclusively and never opened through a symbolic
// link; like every state file (state_folder.h), one that someone other than
// root or the caller owns or may write is refused.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/service_types.h"

namespace kairovel::platform::scm {

// Service names Windows accepts: 1 to 256 characters, no slash or backslash.
bool IsValidServiceName(std::wstring_view name);

class ServiceFolder {
public:
    explicit ServiceFolder(std::wstring_view serviceName);

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path LockFile() const { return path_ / "lock"; }
    std::filesystem::path HandlesFile() const { return path_ / "handles"; }
    std::filesystem::path RecordFile() const { return path_ / "record"; }
    std::filesystem::path ConsoleFile() const { return path_ / "console"; }
    // The dispatcher's control socket in the process pid.
    std::filesystem::path SocketFile(int pid) const;

    // Creates the folder and its private part where they are missing; false
    // (last error set) when that is not possible or a link stands in their place.
    bool Prepare() const;

private:
    std::filesystem::path path_;
};

// The names of the services that have a folder (folded to capitals, as the
// folders are named; the manager compares names without regard to case), in
// the order of their names.
std::vector<std::wstring> ServiceFolderNames();

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

// An flock on a file of a service folder (created when missing), held while
// the object lives. Shared locks of open handles, exclusive ones of changes.
class FileLock {
public:
    enum class Mode { Shared, Exclusive, ExclusiveIfFree };
    // valid() tells whether the lock is held; error() the Windows code when not
    // (ERROR_BUSY when ExclusiveIfFree found it held).
    FileLock(const std::filesystem::path& file, Mode mode);

    bool held() const { return descriptor_.valid(); }
    std::uint32_t error() const { return error_; }

private:
    Descriptor descriptor_;
    std::uint32_t error_ = 0;
};

// Replaces the file's content whole; false with the last error set.
bool ReplaceFile(const std::filesystem::path& file, std::string_view content);
// The file's content, or nullopt when it does not exist; false with the last error set.
bool ReadFile(const std::filesystem::path& file, std::optional<std::string>& content);
// Opens a new file for writing, replacing what was there; -1 with the last error set.
int CreateFresh(const std::filesystem::path& file);

// A process, told apart from a later one that got the same number: its start
// time since boot (clock ticks) and the boot it was started in.
struct ProcessIdentity {
    int pid = 0;
    std::uint64_t startTime = 0;
    std::string bootId;
};

// What the manager knows of the service's last run: the process and the status it reported.
struct RunRecord {
    ProcessIdentity process;
    SERVICE_STATUS status;
};

bool ReadRunRecord(const ServiceFolder& folder, std::optional<RunRecord>& record);
bool WriteRunRecord(const ServiceFolder& folder, const RunRecord& record);
bool RemoveRunRecord(const ServiceFolder& folder);

}  // namespace kairovel::platform::scm
