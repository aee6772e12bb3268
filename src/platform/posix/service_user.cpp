#include "platform/posix/service_user.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <vector>

#include "platform/posix/errors.h"
#include "platform/posix/problem_report.h"
#include "platform/win_types.h"

extern char** environ;

namespace kairovel::platform {
namespace {

// Debian's own tool for a system user: no home, no shell, a group of its own.
constexpr const char* kMakeUser[] = {"useradd",  "--system",           "--user-group", "--no-create-home",
                                     "--home-dir", "/nonexistent",       "--shell",      "/usr/sbin/nologin",
                                     "--comment",  "Kairovel time service", kServiceUserName, nullptr};

// The user database is asked once a process, and again when /install made the user.
std::mutex lookupMutex;
std::optional<std::optional<ServiceUser>> lookedUp;

std::optional<ServiceUser> LookUpServiceUser() {
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwnam_r(kServiceUserName, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return std::nullopt;
    }
    return ServiceUser{entry.pw_uid, entry.pw_gid};
}

}  // namespace

std::optional<ServiceUser> FindServiceUser() {
    const std::lock_guard<std::mutex> lock(lookupMutex);
    if (!lookedUp) lookedUp = LookUpServiceUser();
    return *lookedUp;
}

std::uint32_t MakeServiceUser(ServiceUser& user) {
    if (const std::optional<ServiceUser> found = FindServiceUser()) {
        user = *found;
        return ERROR_SUCCESS;
    }
    pid_t child = 0;
    if (::posix_spawnp(&child, kMakeUser[0], nullptr, nullptr, const_cast<char* const*>(kMakeUser), environ) != 0) {
        ReportProblem(std::string("the service's user ") + kServiceUserName + " could not be made: no useradd");
        return ERROR_FILE_NOT_FOUND;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    {
        const std::lock_guard<std::mutex> lock(lookupMutex);
        lookedUp.reset();
    }
    const std::optional<ServiceUser> made = FindServiceUser();
    if (!made) {
        ReportProblem(std::string("useradd could not make the service's user ") + kServiceUserName);
        return ERROR_ACCESS_DENIED;
    }
    user = *made;
    return ERROR_SUCCESS;
}

std::uint32_t GiveStateFolder(const std::filesystem::path& folder, const ServiceUser& user) {
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0) return errno == ENOENT ? ERROR_SUCCESS : WindowsErrorFromErrno(errno);
    DIR* entries = ::fdopendir(descriptor);
    if (entries == nullptr) {
        const int error = errno;
        ::close(descriptor);
        return WindowsErrorFromErrno(error);
    }
    std::uint32_t status = ::fchown(descriptor, user.uid, user.gid) == 0 ? ERROR_SUCCESS : WindowsErrorFromErrno(errno);
    while (const dirent* entry = ::readdir(entries)) {
        struct stat info {};
        if (::fstatat(descriptor, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) continue;
        if (::fchownat(descriptor, entry->d_name, user.uid, user.gid, AT_SYMLINK_NOFOLLOW) != 0) {
            status = WindowsErrorFromErrno(errno);
        }
    }
    ::closedir(entries);
    return status;
}

bool ServiceUserMayRun(const std::filesystem::path& program, const ServiceUser& user) {
    bool mayRun = false;
    {
        const FileRightsOf asUser(user.uid, user.gid);
        mayRun = ::faccessat(AT_FDCWD, program.c_str(), X_OK, AT_EACCESS) == 0;
    }
    if (!mayRun) {
        ReportProblem(program.string() + " is refused as the service's program: its user " + kServiceUserName +
                      " may not run it (a folder above it is closed to that user)");
    }
    return mayRun;
}

bool IsServiceUser(uid_t uid) {
    const std::optional<ServiceUser> user = FindServiceUser();
    return uid != 0 && user && user->uid == uid;
}

// Each call gives back the value before it, which the end of the scope puts back.
FileRightsOf::FileRightsOf(uid_t user, gid_t group) {
    previousGroup_ = static_cast<gid_t>(::setfsgid(group));
    previousUser_ = static_cast<uid_t>(::setfsuid(user));
}

FileRightsOf::~FileRightsOf() {
    ::setfsuid(previousUser_);
    ::setfsgid(previousGroup_);
}

FilesAsStateOwner::FilesAsStateOwner(const std::filesystem::path& folder) {
    struct stat info {};
    // The folder's owner, a link to it judged by its target as the state folder is.
    if (::geteuid() != 0 || ::stat(folder.c_str(), &info) != 0 || !IsServiceUser(info.st_uid)) return;
    rights_.emplace(info.st_uid, info.st_gid);
}

}  // namespace kairovel::platform
