// A small state file that several processes share, on Windows: readers see
// a whole file, since a change is written beside it and moved over it;
// changes are made one at a time under LockFileEx on a companion lock file.
// The folder is used only when it is trusted (win32/state_folder.h).
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/random.h"
#include "platform/sim/state_file.h"
#include "platform/win32/state_folder.h"

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

// The whole content of path, or nullopt when there is no such file.
bool ReadWhole(const std::filesystem::path& path, std::optional<std::string>& content) {
    content.reset();
    const File file(::CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
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
    if (text.size() > SharedStateFile::kLargestContentBytes) {
        ::SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    content = std::move(text);
    return true;
}

bool IsFolder(const std::filesystem::path& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FailWith(std::uint32_t error) {
    ::SetLastError(error);
    return false;
}

}  // namespace

SharedStateFile::SharedStateFile(std::filesystem::path path) : path_(std::move(path)) {}

// Once found trusted, the folder is not judged again: only SYSTEM and the
// Administrators can change a trusted folder. With create, a folder removed
// since is made anew.
std::uint32_t SharedStateFile::Folder(bool create, std::filesystem::path& folder, std::string& problem) const {
    folder = path_.has_parent_path() ? path_.parent_path() : std::filesystem::path(L".");
    {
        const std::lock_guard<std::mutex> lock(folderMutex_);
        if (trustedFolder_ && (!create || IsFolder(*trustedFolder_))) {
            problem.clear();
            return ERROR_SUCCESS;
        }
    }
    const std::uint32_t status = OpenStateFolder(folder, create, problem);
    if (status == ERROR_SUCCESS) {
        const std::lock_guard<std::mutex> lock(folderMutex_);
        trustedFolder_ = folder;
    }
    return status;
}

bool SharedStateFile::Read(std::optional<std::string>& content, std::string& problem) const {
    content.reset();
    std::filesystem::path folder;
    const std::uint32_t status = Folder(false, folder, problem);
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) return true;  // no folder: no state yet
    if (status != ERROR_SUCCESS) return FailWith(status);
    return ReadWhole(path_, content);
}

bool SharedStateFile::Read(std::optional<std::string>& content) const {
    std::string ignored;
    return Read(content, ignored);
}

bool SharedStateFile::Update(const std::function<bool(std::optional<std::string>& content)>& change) const {
    std::filesystem::path folder;
    std::string problem;
    if (const std::uint32_t status = Folder(true, folder, problem); status != ERROR_SUCCESS) return FailWith(status);
    std::filesystem::path lockPath = path_;
    lockPath += L".lock";
    const ExclusiveLock lock(lockPath);
    if (!lock.held()) return false;
    std::optional<std::string> content;
    if (!ReadWhole(path_, content)) return false;
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
