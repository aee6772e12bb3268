// The system user the service runs as on Linux, and how root's commands touch
// what that user owns.
//
// The service's network clients (NTP, TIME, SMB, libcurl) run in a process
// of its own user, "kairovel", with CAP_SYS_TIME and CAP_NET_BIND_SERVICE as
// its only capabilities; /install makes the user when it is missing (a system
// user without a home or a shell) and gives it the state folder. That user is
// no stranger to the service's own files, but nothing it can write may make
// root do more than the service itself could: root reads and writes in a
// folder of the service user's with that user's rights on files (the
// file-system user and group of the thread), so a link or a file put in
// root's way leads nowhere the service could not go itself.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>

namespace kairovel::platform {

inline constexpr char kServiceUserName[] = "kairovel";

struct ServiceUser {
    uid_t uid = 0;
    gid_t gid = 0;
};

// The service's user, when the machine has it.
std::optional<ServiceUser> FindServiceUser();
// The service's user, made first when missing (useradd --system). ERROR_SUCCESS
// or the Windows code why it could not be had.
std::uint32_t MakeServiceUser(ServiceUser& user);
// Whether uid is the service's user's.
bool IsServiceUser(uid_t uid);
// Whether the service's user may run program (every folder above it open to
// that user); when not, says so on standard error.
bool ServiceUserMayRun(const std::filesystem::path& program, const ServiceUser& user);
// Gives the state folder, and the regular files in it, to the service's user,
// which writes its stored adjustment and its clock record there. Links are
// never followed. ERROR_SUCCESS (also for a missing folder) or the code why not.
std::uint32_t GiveStateFolder(const std::filesystem::path& folder, const ServiceUser& user);

// While it lives, the calling thread's file accesses are checked, and its new
// files owned, as user and group's (the thread's file-system user and group).
class FileRightsOf {
public:
    FileRightsOf(uid_t user, gid_t group);
    ~FileRightsOf();
    FileRightsOf(const FileRightsOf&) = delete;
    FileRightsOf& operator=(const FileRightsOf&) = delete;

private:
    uid_t previousUser_ = 0;
    gid_t previousGroup_ = 0;
};

// The rights of FileRightsOf the owner of folder, while it lives, when the
// process is root and that owner is the service's user; otherwise it changes
// nothing.
class FilesAsStateOwner {
public:
    explicit FilesAsStateOwner(const std::filesystem::path& folder);

private:
    std::optional<FileRightsOf> rights_;
};

}  // namespace kairovel::platform
