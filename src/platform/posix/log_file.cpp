// The log file on Linux: a descriptor read and written at offsets, whose one
// writer holds an open-file-description lock.
//
// The lock is exclusive and on a byte far beyond any real data, so it never
// keeps a reader from the text; it belongs to the open file description, so
// it refuses a second writer in this process as in another, and goes with
// the descriptor's close, also when a process dies.
//
// What root writes gets root's rules: the path is checked before the open
// (state_folder.h), the file is never reached through a link, a new one is
// created exclusively and root's alone, the file opened is checked again,
// and a file of root's that others could open is replaced by a copy of its
// own, so that no descriptor another user holds sees the lines to come.
#include "platform/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <string>

#include "platform/codepage.h"
#include "platform/last_error.h"
#include "platform/posix/errors.h"
#include "platform/posix/state_folder.h"

namespace kairovel::platform {
namespace {

// The writer's lock byte. A writer of earlier builds holds a shared lock on
// this same byte, so the two refuse each other across an upgrade too.
constexpr off_t kWriterLockByte = std::numeric_limits<off_t>::max() - 5;

constexpr mode_t kNormalFileMode = 0666;  // the umask takes away what it says
constexpr mode_t kOwnerOnlyMode = 0600;   // what root writes
constexpr int kCreateAttempts = 4;        // open-or-create races with another process deleting the file
constexpr const char* kRootsUse = "a file root writes";

bool Fail(std::uint32_t code) {
    SetLastError(code);
    return false;
}

// A write that stopped for want of room reads as Windows says it.
std::uint32_t WriteErrorFromErrno(int error) {
    if (error == ENOSPC || error == EDQUOT || error == EFBIG) return ERROR_DISK_FULL;
    return WindowsErrorFromErrno(error);
}

class PosixLogFile final : public LogFile {
public:
    explicit PosixLogFile(int descriptor) : descriptor_(descriptor) {}
    ~PosixLogFile() override { ::close(descriptor_); }
    PosixLogFile(const PosixLogFile&) = delete;
    PosixLogFile& operator=(const PosixLogFile&) = delete;

    bool ReadAt(std::uint64_t offset, void* buffer, std::uint32_t size, std::uint32_t& read) override {
        read = 0;
        auto* bytes = static_cast<char*>(buffer);
        while (read < size) {
            const ssize_t n = ::pread(descriptor_, bytes + read, size - read, static_cast<off_t>(offset + read));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return Fail(WindowsErrorFromErrno(errno));
            if (n == 0) break;  // the end of the file
            read += static_cast<std::uint32_t>(n);
        }
        return true;
    }

    bool WriteAt(std::uint64_t offset, const void* bytes, std::uint32_t size, std::uint32_t& written) override {
        written = 0;
        const auto* from = static_cast<const char*>(bytes);
        while (written < size) {
            const ssize_t n =
                ::pwrite(descriptor_, from + written, size - written, static_cast<off_t>(offset + written));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return Fail(WriteErrorFromErrno(errno));
            if (n == 0) return Fail(ERROR_WRITE_FAULT);
            written += static_cast<std::uint32_t>(n);
        }
        return true;
    }

    bool Truncate(std::uint64_t size) override {
        return ::ftruncate(descriptor_, static_cast<off_t>(size)) == 0 || Fail(WriteErrorFromErrno(errno));
    }

    bool Size(std::uint64_t& size) override {
        struct stat status {};
        if (::fstat(descriptor_, &status) != 0) return Fail(WindowsErrorFromErrno(errno));
        size = static_cast<std::uint64_t>(status.st_size);
        return true;
    }

    bool Flush() override { return ::fsync(descriptor_) == 0 || Fail(WriteErrorFromErrno(errno)); }

private:
    int descriptor_;
};

// Opens path for reading and writing, creating it (exclusively, with
// newFileMode) when it is missing; -1 with errno set on failure.
int OpenOrCreate(const std::string& path, int linkRule, mode_t newFileMode) {
    const int flags = O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | linkRule;  // a FIFO must not hold the open
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        const int found = ::open(path.c_str(), flags);
        if (found >= 0 || errno != ENOENT) return found;
        const int created = ::open(path.c_str(), flags | O_CREAT | O_EXCL, newFileMode);
        if (created >= 0 || errno != EEXIST) return created;
    }
    return -1;
}

// Takes the writer's lock; false with ERROR_SHARING_VIOLATION when another
// writer holds it. A file system without such locks lets every writer in.
bool ClaimSoleWriter(int descriptor) {
    flock lock{};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = kWriterLockByte;
    lock.l_len = 1;
    if (::fcntl(descriptor, F_OFD_SETLK, &lock) == 0) return true;
    if (errno == EAGAIN || errno == EACCES) return Fail(ERROR_SHARING_VIOLATION);
    return errno == EINVAL || errno == ENOLCK || errno == EOPNOTSUPP || Fail(WindowsErrorFromErrno(errno));
}

// A file of root's that others could open while it was readable may be open
// in their hands still, holding its lock or reading what root writes next:
// it is replaced by a copy of root's alone, under the same name. The copy's
// descriptor, or -1 with errno set.
int ReplaceWithPrivateCopy(const std::string& path, int old) {
    std::filesystem::path temporary;
    const int copy = CreateTemporaryBeside(path, kOwnerOnlyMode, temporary);
    if (copy < 0) return -1;
    bool copied = true;
    char buffer[65536];
    for (off_t offset = 0; copied;) {
        const ssize_t n = ::pread(old, buffer, sizeof buffer, offset);
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
        offset += n;
    }
    if (copied && ::rename(temporary.c_str(), path.c_str()) == 0) return copy;
    const int error = errno;
    ::close(copy);
    ::unlink(temporary.c_str());
    errno = error;
    return -1;
}

// Opens what root writes by root's rules (see the top of this file); the
// descriptor, or -1 with the last error set.
int OpenForRoot(const std::string& path) {
    std::string problem;
    const std::uint32_t pathStatus = CheckTrustedPath(path, kRootsUse, problem);
    if (pathStatus != ERROR_SUCCESS && pathStatus != ERROR_FILE_NOT_FOUND && pathStatus != ERROR_PATH_NOT_FOUND) {
        SetLastError(pathStatus);
        return -1;
    }
    const int descriptor = OpenOrCreate(path, O_NOFOLLOW, kOwnerOnlyMode);
    struct stat status {};
    if (descriptor < 0 || ::fstat(descriptor, &status) != 0) {
        SetLastError(WindowsErrorFromErrno(errno));
        if (descriptor >= 0) ::close(descriptor);
        return -1;
    }
    // The path was checked before the open; what was opened is checked now.
    if (CheckOpenedForRoot(path, status, kRootsUse, problem) != ERROR_SUCCESS) {
        ::close(descriptor);
        SetLastError(ERROR_ACCESS_DENIED);
        return -1;
    }
    if (!S_ISREG(status.st_mode) || (status.st_mode & 077) == 0) return descriptor;
    const int copy = ReplaceWithPrivateCopy(path, descriptor);
    if (copy < 0) SetLastError(WindowsErrorFromErrno(errno));
    ::close(descriptor);
    return copy;
}

class PosixLogFiles final : public LogFileFacility {
public:
    std::unique_ptr<LogFile> Open(std::wstring_view fileName) override {
        if (fileName.empty()) return Refuse(ERROR_PATH_NOT_FOUND);
        const std::string path = WideToAnsi(fileName);
        if (path.find('\0') != std::string::npos) return Refuse(ERROR_INVALID_PARAMETER);
        int descriptor = -1;
        if (::geteuid() == 0) {
            descriptor = OpenForRoot(path);
            if (descriptor < 0) return nullptr;
        } else {
            descriptor = OpenOrCreate(path, 0, kNormalFileMode);
            if (descriptor < 0) return Refuse(WindowsErrorFromErrno(errno));
        }
        auto file = std::make_unique<PosixLogFile>(descriptor);
        const int statusFlags = ::fcntl(descriptor, F_GETFL);
        if (statusFlags >= 0) ::fcntl(descriptor, F_SETFL, statusFlags & ~O_NONBLOCK);
        if (!ClaimSoleWriter(descriptor)) return nullptr;
        return file;
    }

private:
    static std::unique_ptr<LogFile> Refuse(std::uint32_t code) {
        SetLastError(code);
        return nullptr;
    }
};

}  // namespace

template <>
LogFileFacility& DefaultFacility<LogFileFacility>() {
    static PosixLogFiles files;
    return files;
}

}  // namespace kairovel::platform
