#include "platform/sim/state_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/last_error.h"
#include "platform/posix/errors.h"
#include "platform/win_types.h"

namespace kairovel::platform {
namespace {

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

bool ReadAll(int descriptor, std::string& out) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(descriptor, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return FailWith(errno);
        if (n == 0) return true;
        out.append(buffer, static_cast<std::size_t>(n));
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
        : descriptor_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
        if (!descriptor_.valid()) {
            error_ = errno;
            return;
        }
        while (::flock(descriptor_.get(), LOCK_EX) != 0) {
            if (errno != EINTR) {
                error_ = errno;
                return;
            }
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
    Descriptor descriptor_;
    bool held_ = false;
    int error_ = 0;
};

}  // namespace

SharedStateFile::SharedStateFile(std::filesystem::path path) : path_(std::move(path)) {
    lockPath_ = path_;
    lockPath_ += ".lock";
}

bool SharedStateFile::Read(std::optional<std::string>& content) const {
    content.reset();
    const Descriptor file(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid()) return errno == ENOENT ? true : FailWith(errno);
    std::string text;
    if (!ReadAll(file.get(), text)) return false;
    content = std::move(text);
    return true;
}

bool SharedStateFile::Update(const std::function<bool(std::optional<std::string>& content)>& change) const {
    std::error_code ignored;
    std::filesystem::create_directories(path_.parent_path(), ignored);
    const ExclusiveLock lock(lockPath_);
    if (!lock.held()) return FailWith(lock.error());

    std::optional<std::string> content;
    if (!Read(content)) return false;
    if (!change(content)) return true;
    if (!content) {
        if (::unlink(path_.c_str()) != 0 && errno != ENOENT) return FailWith(errno);
        return true;
    }

    std::filesystem::path temporary = path_;
    temporary += ".tmp." + std::to_string(::getpid());
    bool written = false;
    {
        const Descriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (!file.valid()) return FailWith(errno);
        written = WriteAll(file.get(), *content);
    }
    if (written && ::rename(temporary.c_str(), path_.c_str()) == 0) return true;
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
