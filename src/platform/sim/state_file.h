// A small state file that several processes share safely.
//
// Readers always see a whole file: a change is written to a temporary file
// beside it and renamed over it. Changes are made one at a time under an
// exclusive lock on a companion lock file (flock on Linux, LockFileEx on
// Windows), so that no process's change is lost to another's
// read-modify-write. Each system's backend defines it. The folder is created on
// the first change.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace kairovel::platform {

class SharedStateFile {
public:
    explicit SharedStateFile(std::filesystem::path path);

    // The whole content, or nullopt when the file does not exist. False, with
    // the Windows error code as last error, when it cannot be read.
    bool Read(std::optional<std::string>& content) const;
    // Calls change with the current content (nullopt: no file) under the lock
    // and writes what it leaves there (nullopt: removes the file), unless it
    // returns false.
    bool Update(const std::function<bool(std::optional<std::string>& content)>& change) const;
    // Removes the file under the lock; a missing file is no error.
    bool Remove() const;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    std::filesystem::path lockPath_;
};

}  // namespace kairovel::platform
