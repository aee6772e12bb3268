// Files on Linux: file descriptors behind table handles, Windows sharing
// approximated with open-file-description locks.
//
// Each handle holds shared locks on four bytes far beyond any real data: one
// for each access it has (reading, writing) and one for each access it denies
// to others (a share mode without FILE_SHARE_READ or FILE_SHARE_WRITE). A new
// handle first takes its own locks and then looks for the opposite locks of
// the others: its access against their denials, its denials against their
// access. Taking before looking means that of two opens racing each other at
// least one sees the other. The locks belong to the open file description,
// so they hold between two handles of one process as between two processes,
// and they go with the descriptor's close, also when a process dies.
#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <memory>
#include <string>

#include "platform/codepage.h"
#include "platform/last_error.h"
#include "platform/posix/errors.h"
#include "platform/posix/kernel_objects.h"
#include "platform/posix/state_folder.h"

namespace kairovel::platform {
namespace {

// The lock bytes of the sharing scheme, at the top of the range of offsets.
constexpr off_t kShareLockBase = std::numeric_limits<off_t>::max() - 8;
constexpr off_t kOpenForReading = kShareLockBase + 0;
constexpr off_t kOpenForWriting = kShareLockBase + 1;
constexpr off_t kDeniesReading = kShareLockBase + 2;
constexpr off_t kDeniesWriting = kShareLockBase + 3;

constexpr mode_t kNormalFileMode = 0666;  // normal attributes; the umask takes away what it says
constexpr mode_t kOwnerOnlyMode = 0600;    // what root writes
constexpr int kCreateAttempts = 4;     // open-or-create races with another process deleting the file

class OpenFile final : public HandleObject {
public:
    OpenFile(int descriptor, bool canRead, bool canWrite)
        : descriptor_(descriptor), canRead_(canRead), canWrite_(canWrite) {}
    ~OpenFile() { ::close(descriptor_); }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    int descriptor() const { return descriptor_; }
    bool canRead() const { return canRead_; }
    bool canWrite() const { return canWrite_; }

private:
    int descriptor_;
    bool canRead_;
    bool canWrite_;
};

bool Fail(std::uint32_t code) {
    SetLastError(code);
    return false;
}

bool FailWithErrno() { return Fail(WindowsErrorFromErrno(errno)); }

// A write that stopped for want of room reads as Windows says it.
std::uint32_t WriteErrorFromErrno(int error) {
    if (error == ENOSPC || error == EDQUOT || error == EFBIG) return ERROR_DISK_FULL;
    return WindowsErrorFromErrno(error);
}

flock LockByte(short type, off_t offset) {
    flock lock{};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = offset;
    lock.l_len = 1;
    return lock;
}

// Whether a lock file system-wide is refused for reasons of the file system
// (no lock support), so that sharing is simply not enforced there.
bool LocksUnsupported(int error) { return error == EINVAL || error == ENOLCK || error == EOPNOTSUPP; }

// True when another open file description holds a lock on the byte.
bool HeldByAnother(int descriptor, off_t offset) {
    flock probe = LockByte(F_WRLCK, offset);
    if (::fcntl(descriptor, F_OFD_GETLK, &probe) != 0) return false;
    return probe.l_type != F_UNLCK;
}

// Takes this handle's sharing locks and checks them against the other handles'.
// False with the last error set when the open must be refused.
bool ClaimSharing(int descriptor, bool reads, bool writes, std::uint32_t shareMode) {
    if (!reads && !writes) return true;  // no data access: nothing to share or to deny
    const bool deniesReading = (shareMode & FILE_SHARE_READ) == 0;
    const bool deniesWriting = (shareMode & FILE_SHARE_WRITE) == 0;
    const std::pair<bool, off_t> claims[] = {
        {reads, kOpenForReading},
        {writes, kOpenForWriting},
        {deniesReading, kDeniesReading},
        {deniesWriting, kDeniesWriting},
    };
    for (const auto& [claimed, offset] : claims) {
        if (!claimed) continue;
        flock lock = LockByte(F_RDLCK, offset);
        if (::fcntl(descriptor, F_OFD_SETLK, &lock) != 0) {
            // A write-only descriptor cannot hold shared locks: such a handle is not held back.
            if (LocksUnsupported(errno) || errno == EBADF) return true;
            return FailWithErrno();
        }
    }
    const bool conflict = (reads && HeldByAnother(descriptor, kDeniesReading)) ||
                          (writes && HeldByAnother(descriptor, kDeniesWriting)) ||
                          (deniesReading && HeldByAnother(descriptor, kOpenForReading)) ||
                          (deniesWriting && HeldByAnother(descriptor, kOpenForWriting));
    return conflict ? Fail(ERROR_SHARING_VIOLATION) : true;
}

// Opens path, creating it when allowed (root's alone with ownerOnly);
// existed tells whether it was there before.
int OpenDescriptor(const std::string& path, int accessFlags, std::uint32_t disposition, bool& existed,
                   bool ownerOnly) {
    const int flags = accessFlags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;  // a FIFO must not hold the open
    const mode_t newFileMode = ownerOnly ? kOwnerOnlyMode : kNormalFileMode;
    existed = true;
    switch (disposition) {
        case CREATE_NEW:
            existed = false;
            return ::open(path.c_str(), flags | O_CREAT | O_EXCL, newFileMode);
        case OPEN_EXISTING:
        case TRUNCATE_EXISTING:
            return ::open(path.c_str(), flags);
        default:  // OPEN_ALWAYS, CREATE_ALWAYS: open what is there, else create it
            for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
                const int found = ::open(path.c_str(), flags);
                if (found >= 0 || errno != ENOENT) {
                    existed = true;
                    return found;
                }
                const int created = ::open(path.c_str(), flags | O_CREAT | O_EXCL, newFileMode);
                if (created >= 0 || errno != EEXIST) {
                    existed = false;
                    return created;
                }
            }
            return -1;
    }
}

// A file of root's that others could open while it was readable may be open
// in their hands still, holding its sharing locks or reading what root
// writes next: it is replaced by a copy of root's alone, under the same name.
// The copy's descriptor, or -1 with errno set.
int ReplaceWithPrivateCopy(const std::string& path, int old) {
    std::filesystem::path temporary;
    const int copy = CreateTemporaryBeside(path, kOwnerOnlyMode, temporary);
    if (copy < 0) return -1;
    bool copied = ::lseek(old, 0, SEEK_SET) == 0;
    char buffer[65536];
    while (copied) {
        const ssize_t n = ::read(old, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            copied = n == 0;
            break;
        }
        for (ssize_t done = 0; copied && done < n;) {
            const ssize_t m = ::write(copy, buffer + done, static_cast<std::size_t>(n - done));
            if (m < 0 && errno == EINTR) continue;
            copied = m > 0;
            done += m > 0 ? m : 0;
        }
    }
    if (copied && ::rename(temporary.c_str(), path.c_str()) == 0) return copy;
    const int error = errno;
    ::close(copy);
    ::unlink(temporary.c_str());
    errno = error;
    return -1;
}

// What root writes (the log file) must be where no other user can send the
// writes elsewhere or hold them up: not a link, not a file of another user's,
// in folders that no one else may write into (state_folder.h).
bool RootMayWrite(const std::string& path) {
    std::string problem;
    const std::uint32_t status = CheckTrustedPath(path, "a file root writes", problem);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND ||
           Fail(status);
}

class PosixFiles final : public FileFacility {
public:
    HANDLE CreateFileW(std::wstring_view fileName, std::uint32_t desiredAccess, std::uint32_t shareMode,
                       std::uint32_t creationDisposition, std::uint32_t) override {
        if (fileName.empty()) return Refuse(ERROR_PATH_NOT_FOUND);
        const std::string path = WideToAnsi(fileName);
        if (path.find('\0') != std::string::npos) return Refuse(ERROR_INVALID_PARAMETER);
        if (creationDisposition < CREATE_NEW || creationDisposition > TRUNCATE_EXISTING) {
            return Refuse(ERROR_INVALID_PARAMETER);
        }
        const bool reads = (desiredAccess & GENERIC_READ) != 0;
        const bool writes = (desiredAccess & GENERIC_WRITE) != 0;
        const bool truncates = creationDisposition == TRUNCATE_EXISTING || creationDisposition == CREATE_ALWAYS;
        if (creationDisposition == TRUNCATE_EXISTING && !writes) return Refuse(ERROR_INVALID_PARAMETER);

        const bool rootWrites = writes && ::geteuid() == 0;
        if (rootWrites && !RootMayWrite(path)) return INVALID_HANDLE_VALUE;

        // Sharing locks need a descriptor that can read, so a writer opens for
        // both where the file allows it. What root writes is never reached
        // through a link, and is root's alone: anyone who may open the file
        // may also take its sharing locks and keep root from writing it.
        const int linkRule = rootWrites ? O_NOFOLLOW : 0;
        bool existed = false;
        int descriptor =
            OpenDescriptor(path, (writes ? O_RDWR : O_RDONLY) | linkRule, creationDisposition, existed, rootWrites);
        if (descriptor < 0 && writes && !reads && errno == EACCES) {
            descriptor = OpenDescriptor(path, O_WRONLY | linkRule, creationDisposition, existed, rootWrites);
        }
        if (descriptor < 0) {
            if (errno == EEXIST) return Refuse(ERROR_FILE_EXISTS);
            return Refuse(WindowsErrorFromErrno(errno));
        }
        auto file = std::make_shared<OpenFile>(descriptor, reads, writes);

        struct stat status{};
        if (::fstat(descriptor, &status) != 0) return Refuse(WindowsErrorFromErrno(errno));
        if (S_ISDIR(status.st_mode)) return Refuse(ERROR_ACCESS_DENIED);
        if (rootWrites) {
            // The path was checked before the open; what was opened is checked now.
            std::string problem;
            if (CheckOpenedForRoot(path, status, "a file root writes", problem) != ERROR_SUCCESS) {
                return Refuse(ERROR_ACCESS_DENIED);
            }
            if (S_ISREG(status.st_mode) && (status.st_mode & 077) != 0) {
                descriptor = ReplaceWithPrivateCopy(path, descriptor);
                if (descriptor < 0) return Refuse(WindowsErrorFromErrno(errno));
                file = std::make_shared<OpenFile>(descriptor, reads, writes);
            }
        }
        const int statusFlags = ::fcntl(descriptor, F_GETFL);
        if (statusFlags >= 0) ::fcntl(descriptor, F_SETFL, statusFlags & ~O_NONBLOCK);
        if (!ClaimSharing(descriptor, reads, writes, shareMode)) return INVALID_HANDLE_VALUE;
        if (truncates && existed && S_ISREG(status.st_mode) && ::ftruncate(descriptor, 0) != 0) {
            return Refuse(WindowsErrorFromErrno(errno));
        }

        const HANDLE handle = AddHandle(std::move(file));
        const bool reportsExisting = creationDisposition == OPEN_ALWAYS || creationDisposition == CREATE_ALWAYS;
        SetLastError(reportsExisting && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
        return handle;
    }

    bool ReadFile(HANDLE handle, void* buffer, std::uint32_t toRead, std::uint32_t& read) override {
        read = 0;
        const auto file = HandleAs<OpenFile>(handle);
        if (!file) return Fail(ERROR_INVALID_HANDLE);
        if (!file->canRead()) return Fail(ERROR_ACCESS_DENIED);
        auto* bytes = static_cast<char*>(buffer);
        while (read < toRead) {
            const ssize_t n = ::read(file->descriptor(), bytes + read, toRead - read);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return FailWithErrno();
            if (n == 0) break;  // the end of the file
            read += static_cast<std::uint32_t>(n);
        }
        return true;
    }

    bool WriteFile(HANDLE handle, const void* buffer, std::uint32_t toWrite, std::uint32_t& written) override {
        written = 0;
        const auto file = HandleAs<OpenFile>(handle);
        if (!file) return Fail(ERROR_INVALID_HANDLE);
        if (!file->canWrite()) return Fail(ERROR_ACCESS_DENIED);
        const auto* bytes = static_cast<const char*>(buffer);
        while (written < toWrite) {
            const ssize_t n = ::write(file->descriptor(), bytes + written, toWrite - written);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return Fail(WriteErrorFromErrno(errno));
            if (n == 0) return Fail(ERROR_WRITE_FAULT);
            written += static_cast<std::uint32_t>(n);
        }
        return true;
    }

    std::uint32_t SetFilePointer(HANDLE handle, std::int32_t distance, std::int32_t* distanceHigh,
                                 std::uint32_t moveMethod) override {
        const auto file = HandleAs<OpenFile>(handle);
        if (!file) return FailPosition(ERROR_INVALID_HANDLE);
        const std::int64_t offset =
            distanceHigh != nullptr
                ? static_cast<std::int64_t>((static_cast<std::uint64_t>(static_cast<std::uint32_t>(*distanceHigh))
                                             << 32) |
                                            static_cast<std::uint32_t>(distance))
                : std::int64_t{distance};
        std::int64_t base = 0;
        if (moveMethod == FILE_CURRENT) {
            base = ::lseek(file->descriptor(), 0, SEEK_CUR);
        } else if (moveMethod == FILE_END) {
            struct stat status{};
            base = ::fstat(file->descriptor(), &status) == 0 ? status.st_size : -1;
        } else if (moveMethod != FILE_BEGIN) {
            return FailPosition(ERROR_INVALID_PARAMETER);
        }
        if (base < 0) return FailPosition(WindowsErrorFromErrno(errno));
        std::int64_t target = 0;
        if (__builtin_add_overflow(base, offset, &target)) return FailPosition(ERROR_INVALID_PARAMETER);
        if (target < 0) return FailPosition(ERROR_NEGATIVE_SEEK);
        if (distanceHigh == nullptr && target > std::int64_t{0xFFFFFFFF}) return FailPosition(ERROR_INVALID_PARAMETER);
        if (::lseek(file->descriptor(), target, SEEK_SET) < 0) return FailPosition(WindowsErrorFromErrno(errno));
        if (distanceHigh != nullptr) *distanceHigh = static_cast<std::int32_t>(target >> 32);
        SetLastError(ERROR_SUCCESS);
        return static_cast<std::uint32_t>(target);
    }

    bool SetEndOfFile(HANDLE handle) override {
        const auto file = HandleAs<OpenFile>(handle);
        if (!file) return Fail(ERROR_INVALID_HANDLE);
        if (!file->canWrite()) return Fail(ERROR_ACCESS_DENIED);
        const off_t position = ::lseek(file->descriptor(), 0, SEEK_CUR);
        if (position < 0 || ::ftruncate(file->descriptor(), position) != 0) return Fail(WriteErrorFromErrno(errno));
        return true;
    }

    std::uint32_t GetFileSize(HANDLE handle, std::uint32_t* sizeHigh) override {
        const auto file = HandleAs<OpenFile>(handle);
        if (!file) return FailSize(ERROR_INVALID_HANDLE);
        struct stat status{};
        if (::fstat(file->descriptor(), &status) != 0) return FailSize(WindowsErrorFromErrno(errno));
        const auto size = static_cast<std::uint64_t>(status.st_size);
        if (sizeHigh != nullptr) *sizeHigh = static_cast<std::uint32_t>(size >> 32);
        SetLastError(ERROR_SUCCESS);
        return static_cast<std::uint32_t>(size);
    }

    bool FlushFileBuffers(HANDLE handle) override {
        const auto file = HandleAs<OpenFile>(handle);
        if (!file) return Fail(ERROR_INVALID_HANDLE);
        if (!file->canWrite()) return Fail(ERROR_ACCESS_DENIED);
        if (::fsync(file->descriptor()) != 0) return Fail(WriteErrorFromErrno(errno));
        return true;
    }

    bool CloseHandle(HANDLE handle) override {
        // Any kernel object's handle closes here, as on Windows; the descriptor
        // closes with the last call still using the file.
        return platform::CloseHandle(handle);
    }

private:
    static HANDLE Refuse(std::uint32_t code) {
        SetLastError(code);
        return INVALID_HANDLE_VALUE;
    }
    static std::uint32_t FailPosition(std::uint32_t code) {
        SetLastError(code);
        return INVALID_SET_FILE_POINTER;
    }
    static std::uint32_t FailSize(std::uint32_t code) {
        SetLastError(code);
        return INVALID_FILE_SIZE;
    }
};

}  // namespace

template <>
FileFacility& DefaultFacility<FileFacility>() {
    static PosixFiles files;
    return files;
}

}  // namespace kairovel::platform
