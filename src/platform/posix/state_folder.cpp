#include "platform/posix/state_folder.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <system_error>

#include "platform/posix/errors.h"
#include "platform/posix/problem_report.h"
#include "platform/posix/service_user.h"
#include "platform/win_types.h"

namespace kairovel::platform {
namespace {

namespace fs = std::filesystem;

constexpr mode_t kNewFolderMode = 0755;
constexpr mode_t kWritableByOthers = S_IWGRP | S_IWOTH;

std::string ModeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Refuses path for a use: problem says which path and why.
std::uint32_t Refuse(const fs::path& path, const std::string& why, std::string& problem,
                     const std::string& use = "state") {
    problem = path.string() + " is refused as " + use + ": " + why;
    ReportProblem(problem);
    return ERROR_ACCESS_DENIED;
}

// Root's files are everyone's to trust, and so are the service's user's
// (root touches those with that user's rights alone: service_user.h); the
// caller's own are the caller's.
bool OwnerIsTrusted(uid_t owner) { return owner == 0 || owner == ::geteuid() || IsServiceUser(owner); }

std::string UntrustedOwner(uid_t owner) {
    return "its owner (uid " + std::to_string(owner) + ") is neither root nor the caller";
}

std::string OthersMayWrite(mode_t mode) { return "others may write to it (mode " + ModeText(mode) + ")"; }

// One folder of the resolved path: itself (last) or one above it. A sticky
// folder may be open to all where stickyIsSafe: no one renames another's entries there.
std::uint32_t CheckFolder(const fs::path& folder, bool stickyIsSafe, std::string& problem,
                          const std::string& use = "state") {
    struct stat status {};
    if (::lstat(folder.c_str(), &status) != 0) return WindowsErrorFromErrno(errno);
    if (!S_ISDIR(status.st_mode)) return Refuse(folder, "it is not a folder", problem, use);
    if (!OwnerIsTrusted(status.st_uid)) return Refuse(folder, UntrustedOwner(status.st_uid), problem, use);
    const bool othersMayWrite = (status.st_mode & kWritableByOthers) != 0;
    const bool sticky = (status.st_mode & S_ISVTX) != 0;
    if (othersMayWrite && !(stickyIsSafe && sticky)) {
        return Refuse(folder, OthersMayWrite(status.st_mode), problem, use);
    }
    return ERROR_SUCCESS;
}

// Makes every missing folder of path, each with exactly kNewFolderMode.
std::uint32_t CreateFolders(const fs::path& path) {
    fs::path partial;
    for (const fs::path& part : path) {
        partial /= part;
        if (::mkdir(partial.c_str(), kNewFolderMode) == 0) {
            // Whatever the umask took away, put back on the folder just made, never on
            // what a link put in its place since would point to (the check that follows
            // refuses such a place).
            const int folder = ::open(partial.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (folder >= 0) {
                ::fchmod(folder, kNewFolderMode);
                ::close(folder);
            }
        } else if (errno != EEXIST) {
            return WindowsErrorFromErrno(errno);
        }
    }
    return ERROR_SUCCESS;
}

// What fstat or lstat says of a file that is to hold state.
std::uint32_t CheckFileStatus(const fs::path& file, const struct stat& status, std::string& problem) {
    if (S_ISLNK(status.st_mode)) return Refuse(file, "it is a link", problem);
    if (!S_ISREG(status.st_mode)) return Refuse(file, "it is not a regular file", problem);
    if (!OwnerIsTrusted(status.st_uid)) return Refuse(file, UntrustedOwner(status.st_uid), problem);
    if ((status.st_mode & kWritableByOthers) != 0) {
        return Refuse(file, OthersMayWrite(status.st_mode), problem);
    }
    return ERROR_SUCCESS;
}

}  // namespace

std::uint32_t OpenStateFolder(const fs::path& folder, bool create, fs::path& resolved, std::string& problem) {
    problem.clear();
    std::error_code error;
    const fs::path absolute = fs::absolute(folder.empty() ? fs::path(".") : folder, error);
    if (error) return WindowsErrorFromErrno(error.value());
    if (create) {
        if (const std::uint32_t status = CreateFolders(absolute); status != ERROR_SUCCESS) return status;
    }
    // The target of every link, so that what is checked is what is used.
    resolved = fs::canonical(absolute, error);
    if (error) return WindowsErrorFromErrno(error.value());
    bool isStateFolder = true;
    for (fs::path at = resolved;; at = at.parent_path()) {
        if (const std::uint32_t status = CheckFolder(at, !isStateFolder, problem); status != ERROR_SUCCESS) {
            return status;
        }
        isStateFolder = false;
        if (at == at.root_path()) return ERROR_SUCCESS;
    }
}

std::uint32_t CheckTrustedPath(const fs::path& path, const std::string& use, std::string& problem, bool secret) {
    problem.clear();
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    if (error) return WindowsErrorFromErrno(error.value());
    // A device (/dev/null) is the system's own; a file that is a link or
    // another user's, or that others may write, is not root's to trust.
    struct stat status {};
    const bool exists = ::lstat(absolute.c_str(), &status) == 0;
    if (!exists && errno != ENOENT) return WindowsErrorFromErrno(errno);
    if (exists && !S_ISCHR(status.st_mode)) {
        if (S_ISLNK(status.st_mode)) return Refuse(absolute, "it is a link", problem, use);
        if (!OwnerIsTrusted(status.st_uid)) return Refuse(absolute, UntrustedOwner(status.st_uid), problem, use);
        if ((status.st_mode & kWritableByOthers) != 0) {
            return Refuse(absolute, OthersMayWrite(status.st_mode), problem, use);
        }
        if (secret && (status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
            return Refuse(absolute, "others may read it (mode " + ModeText(status.st_mode) + ")", problem, use);
        }
    }
    const fs::path folder = fs::canonical(absolute.parent_path(), error);
    if (error) return WindowsErrorFromErrno(error.value());
    for (fs::path at = folder;; at = at.parent_path()) {
        if (const std::uint32_t checked = CheckFolder(at, true, problem, use); checked != ERROR_SUCCESS) return checked;
        if (at == at.root_path()) return ERROR_SUCCESS;
    }
}

std::uint32_t CheckOpenedForRoot(const fs::path& path, const struct stat& status, const std::string& use,
                                 std::string& problem) {
    problem.clear();
    if (S_ISCHR(status.st_mode)) return ERROR_SUCCESS;
    if (!S_ISREG(status.st_mode)) return Refuse(path, "it is not a regular file", problem, use);
    if (status.st_uid != ::geteuid()) return Refuse(path, UntrustedOwner(status.st_uid), problem, use);
    if (status.st_nlink != 1) {
        return Refuse(path, "it has " + std::to_string(status.st_nlink) + " names (hard links)", problem, use);
    }
    return ERROR_SUCCESS;
}

std::uint32_t CheckStateFile(const fs::path& file, std::string& problem) {
    problem.clear();
    struct stat status {};
    if (::lstat(file.c_str(), &status) != 0) return errno == ENOENT ? ERROR_SUCCESS : WindowsErrorFromErrno(errno);
    return CheckFileStatus(file, status, problem);
}

int OpenStateFile(const fs::path& file, int flags, mode_t mode, std::string& problem) {
    problem.clear();
    // O_NOFOLLOW: a link in the last place fails (ELOOP) instead of being
    // followed; O_NONBLOCK: a FIFO put there cannot hold the open up.
    const int descriptor = ::open(file.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, mode);
    if (descriptor < 0) {
        if (errno == ELOOP) {
            Refuse(file, "it is a link", problem);
            errno = EACCES;
        }
        return -1;
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || CheckFileStatus(file, status, problem) != ERROR_SUCCESS) {
        const int error = problem.empty() ? errno : EACCES;
        ::close(descriptor);
        errno = error;
        return -1;
    }
    return descriptor;
}

int CreateTemporaryBeside(const fs::path& file, mode_t mode, fs::path& created) {
    // mkostemp opens with O_CREAT | O_EXCL (never through a link) under a name
    // drawn from the system's random source.
    std::string name = file.string() + ".tmp.XXXXXX";
    const int descriptor = ::mkostemp(name.data(), O_CLOEXEC);
    if (descriptor < 0) return -1;
    if (::fchmod(descriptor, mode) != 0) {
        const int error = errno;
        ::close(descriptor);
        ::unlink(name.c_str());
        errno = error;
        return -1;
    }
    created = name;
    return descriptor;
}

}  // namespace kairovel::platform
