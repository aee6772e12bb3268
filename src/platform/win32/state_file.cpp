// A small state file that several processes share, on Windows: readers see
// a whole file, since a change is written beside it and moved over it;
// changes are made one at a time under LockFileEx on a companion lock file.
#include <windows.h>

#include <cstdio>
#include <string>
#include <system_error>

#include "platform/random.h"
#include "platform/sim/state_file.h"

namespace kairovel::platform {
namespace {

// Every process may read, replace or remove the files while another has them open.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// An open file, closed on every way out.
class File {
public:
    explicit File(HANDLE handle) : handle_(handle) {}
    ~File() {
        if (valid()) ::CloseHandle(handle_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

// Holds the exclusive lock of the lock file for one scope.
class ExclusiveLock {
public:
    explicit ExclusiveLock(const std::filesystem::path& path)
        : file_(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr)) {
        if (!file_.valid()) return;
        OVERLAPPED whole{};
        held_ = ::LockFileEx(file_.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &whole) != FALSE;
    }
    ~ExclusiveLock() {
        OVERLAPPED whole{};
        if (held_) ::UnlockFileEx(file_.get(), 0, 1, 0, &whole);
    }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;
    bool held() const { return held_; }

private:
    File file_;
    bool held_ = false;
};

// Writes a new file; one that exists already is never opened.
bool WriteWhole(const std::filesystem::path& path, const std::string& text) {
    const File file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    if (!file.valid()) return false;
    std::size_t done = 0;
    while (done < text.size()) {
        DWORD written = 0;
        if (!::WriteFile(file.get(), text.data() + done, static_cast<DWORD>(text.size() - done), &written, nullptr)) {
            return false;
        }
        if (written == 0) {  // no progress: never loop on it
            ::SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        done += written;
    }
    return ::FlushFileBuffers(file.get()) != FALSE;
}

// A name beside the file that no other process can foretell.
std::filesystem::path TemporaryBeside(const std::filesystem::path& path) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".tmp.%016llx", static_cast<unsigned long long>(UnpredictableNumber()));
    std::filesystem::path temporary = path;
    temporary += suffix;
    return temporary;
}

}  // namespace

SharedStateFile::SharedStateFile(std::filesystem::path path) : path_(std::move(path)) {}

bool SharedStateFile::Read(std::optional<std::string>& content, std::string& problem) const {
    problem.clear();
    return Read(content);
}

bool SharedStateFile::Read(std::optional<std::string>& content) const {
    content.reset();
    const File file(::CreateFileW(path_.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) return false;
        if (read == 0) break;
        text.append(buffer, read);
    }
    if (text.size() > kLargestContentBytes) {
        ::SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    content = std::move(text);
    return true;
}

bool SharedStateFile::Update(const std::function<bool(std::optional<std::string>& content)>& change) const {
    std::error_code ignored;
    std::filesystem::create_directories(path_.parent_path(), ignored);
    std::filesystem::path lockPath = path_;
    lockPath += L".lock";
    const ExclusiveLock lock(lockPath);
    if (!lock.held()) return false;
    std::optional<std::string> content;
    if (!Read(content)) return false;
    if (!change(content)) return true;
    if (!content) return ::DeleteFileW(path_.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND;

    const std::filesystem::path temporary = TemporaryBeside(path_);
    if (WriteWhole(temporary, *content) &&
        ::MoveFileExW(temporary.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    const DWORD error = ::GetLastError();
    ::DeleteFileW(temporary.c_str());
    ::SetLastError(error);
    return false;
}

bool SharedStateFile::Remove() const {
    return Update([](std::optional<std::string>& content) {
        content.reset();
        return true;
    });
}

}  // namespace kairovel::platform
