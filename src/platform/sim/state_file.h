// A small state file that several processes share safely.
//
// Readers always see a whole file: a change is written to a temporary file
// beside it and renamed over it. Changes are made one at a time under an
// exclusive lock on a companion lock file (flock on Linux, LockFileEx on
// Windows), so that no process's change is lost to another's
// read-modify-write. Each system's backend defines it. The folder is created
// on the first change. On Linux the folder and the files are state
// (posix/state_folder.h): used only when trusted, never through a link; on
// Windows the folder is used only when trusted (win32/state_folder.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace kairovel::platform {

class SharedStateFile {
public:
    explicit SharedStateFile(std::filesystem::path path);

    // A state file is small; a larger one is refused as ERROR_INVALID_DATA.
    static constexpr std::size_t kLargestContentBytes = 64 * 1024;

    // The whole content, or nullopt when the file does not exist. False, with
    // the Windows error code as last error and problem saying why, when it
    // cannot be read or is not trusted.
    bool Read(std::optional<std::string>& content, std::string& problem) const;
    bool Read(std::optional<std::string>& content) const;
    // Calls change with the current content (nullopt: no file) under the lock
    // and writes what it leaves there (nullopt: removes the file), unless it
    // returns false.
    bool Update(const std::function<bool(std::optional<std::string>& content)>& change) const;
    // Removes the file under the lock; a missing file is no error.
    bool Remove() const;

    const std::filesystem::path& path() const { return path_; }

private:
    // The folder, checked as posix/state_folder.h (Linux: links resolved) or
    // win32/state_folder.h says. Once a call
    // has found it trusted it is not checked again: only root and the caller
    // can change a trusted folder or any folder above it. The clock is read
    // through this file many times a second, and the checks are a dozen
    // system calls each. With create, a folder removed since is made anew.
    std::uint32_t Folder(bool create, std::filesystem::path& folder, std::string& problem) const;

    std::filesystem::path path_;
    mutable std::mutex folderMutex_;
    mutable std::optional<std::filesystem::path> trustedFolder_;
};

}  // namespace kairovel::platform
