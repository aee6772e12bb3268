#include "platform/sim/state_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <system_error>

#include "platform/last_error.h"
#include "platform/posix/errors.h"
#include "platform/posix/service_user.h"
#include "platform/posix/state_folder.h"
#include "platform/win_types.h"

namespace kairovel::platform {
namespace {

// Readable by every user (a status query runs as anyone), writable by the owner alone.
constexpr mode_t kStateFileMode = 0644;
// The lock file is the owner's alone: whoever may open it may flock it and
// hold up every change for as long as they like.
constexpr mode_t kLockFileMode = 0600;
constexpr std::chrono::seconds kLongestLockWait{10};
constexpr std::chrono::milliseconds kLockPoll{5};

bool FailWith(int error) {
    SetLastError(WindowsErrorFromErrno(error));
    return false;
}

// An open descriptor, closed on every way out.
class Descriptor {
public:
    explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
    ~Descriptor() {
        if (descriptor_ >= 0) ::close(descriptor_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return descriptor_; }
    bool valid() const { return descriptor_ >= 0; }

private:
    int descriptor_;
};

bool FailWithCode(std::uint32_t code) {
    SetLastError(code);
    return false;
}

// Reads to the end, but no more than limit bytes: a larger file is no state.
bool ReadAll(int descriptor, std::size_t limit, std::string& out, std::string& problem) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(descriptor, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return FailWith(errno);
        if (n == 0) return true;
        out.append(buffer, static_cast<std::size_t>(n));
        if (out.size() > limit) {
            problem = "it is larger than any state";
            return FailWithCode(ERROR_INVALID_DATA);
        }
    }
}

bool WriteAll(int descriptor, const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(descriptor, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return FailWith(errno);
        written += static_cast<std::size_t>(n);
    }
    return true;
}

// Holds the exclusive lock of the lock file for one scope.
class ExclusiveLock {
public:
    explicit ExclusiveLock(const std::filesystem::path& path)
        : descriptor_(OpenStateFile(path, O_RDWR | O_CREAT, kLockFileMode, problem_)) {
        if (!descriptor_.valid()) {
            error_ = errno;
            return;
        }
        struct stat info {};
        if (::fstat(descriptor_.get(), &info) == 0 && (info.st_mode & 0777) != kLockFileMode &&
            info.st_uid == ::geteuid()) {
            ::fchmod(descriptor_.get(), kLockFileMode);  // made open to all by an earlier version
        }
        // A change takes milliseconds: a lock held for longer is held by
        // someone who means to hold it, and is not waited for.
        const auto deadline = std::chrono::steady_clock::now() + kLongestLockWait;
        while (::flock(descriptor_.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
                error_ = errno;
                return;
            }
            std::this_thread::sleep_for(kLockPoll);
        }
        held_ = true;
    }
    ~ExclusiveLock() {
        if (held_) ::flock(descriptor_.get(), LOCK_UN);
    }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

    bool held() const { return held_; }
    int error() const { return error_; }

private:
    std::string problem_;  // reported by OpenStateFile
    Descriptor descriptor_;
    bool held_ = false;
    int error_ = 0;
};

}  // namespace

SharedStateFile::SharedStateFile(std::filesystem::path path) : path_(std::move(path)) {}

std::uint32_t SharedStateFile::Folder(bool create, std::filesystem::path& folder, std::string& problem) const {
    {
        const std::lock_guard<std::mutex> lock(folderMutex_);
        struct stat info {};
        const bool stillThere = !create || (trustedFolder_ && ::lstat(trustedFolder_->c_str(), &info) == 0 &&
                                            S_ISDIR(info.st_mode));
        if (trustedFolder_ && stillThere) {
            folder = *trustedFolder_;
            problem.clear();
            return ERROR_SUCCESS;
        }
    }
    const std::uint32_t status = OpenStateFolder(path_.parent_path(), create, folder, problem);
    if (status == ERROR_SUCCESS) {
        const std::lock_guard<std::mutex> lock(folderMutex_);
        trustedFolder_ = folder;
    }
    return status;
}

bool SharedStateFile::Read(std::optional<std::string>& content) const {
    std::string ignored;
    return Read(content, ignored);
}

bool SharedStateFile::Read(std::optional<std::string>& content, std::string& problem) const {
    content.reset();
    std::filesystem::path folder;
    const std::uint32_t status = Folder(false, folder, problem);
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) return true;  // no folder: no state yet
    if (status != ERROR_SUCCESS) return FailWithCode(status);
    const FilesAsStateOwner asOwner(folder);
    const Descriptor file(OpenStateFile(folder / path_.filename(), O_RDONLY, 0, problem));
    if (!file.valid()) return errno == ENOENT ? true : FailWith(errno);
    std::string text;
    if (!ReadAll(file.get(), kLargestContentBytes, text, problem)) return false;
    content = std::move(text);
    return true;
}

bool SharedStateFile::Update(const std::function<bool(std::optional<std::string>& content)>& change) const {
    std::filesystem::path folder;
    std::string problem;
    if (const std::uint32_t status = Folder(true, folder, problem); status != ERROR_SUCCESS) {
        return FailWithCode(status);
    }
    const FilesAsStateOwner asOwner(folder);
    const std::filesystem::path file = folder / path_.filename();
    std::filesystem::path lockFile = file;
    lockFile += ".lock";
    const ExclusiveLock lock(lockFile);
    if (!lock.held()) return FailWith(lock.error());

    std::optional<std::string> content;
    if (!Read(content)) return false;
    if (!change(content)) return true;
    if (!content) {
        if (::unlink(file.c_str()) != 0 && errno != ENOENT) return FailWith(errno);
        return true;
    }

    std::filesystem::path temporary;
    bool written = false;
    {
        const Descriptor created(CreateTemporaryBeside(file, kStateFileMode, temporary));
        if (!created.valid()) return FailWith(errno);
        written = WriteAll(created.get(), *content);
    }
    if (written && ::rename(temporary.c_str(), file.c_str()) == 0) return true;
    const int error = errno;
    ::unlink(temporary.c_str());
    return written ? FailWith(error) : false;
}

bool SharedStateFile::Remove() const {
    return Update([](std::optional<std::string>& content) {
        content.reset();
        return true;
    });
}

}  // namespace kairovel::platform
