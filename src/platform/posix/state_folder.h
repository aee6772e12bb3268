// The folder of the stand-ins' state (KAIROVEL_ROOT) and the files in it,
// used only where no one but root and the calling user can choose what they hold.
//
// The service runs as root for months. Whoever can write into its state
// folder can swap the registry database, and with it the time sources the
// service trusts, or plant a link that makes root overwrite any file. So, as
// OpenSSH's strict modes do, a folder is used only when it and every folder
// above it (links followed: a linked folder is judged by its target) are owned
// by root or by the calling user and writable by no one else; a folder above
// it may be writable by others when it has the sticky bit (as /tmp has), since
// then no one may rename or remove another's entries. A file in it is opened
// without following a link, and used only when it is a regular file of root
// or the caller that no one else may write. New files are created
// exclusively; temporary ones get names no one can foretell.
//
// Every refusal says which path is refused and why, on standard error (once
// per reason and process), since the Windows error code (ERROR_ACCESS_DENIED)
// alone cannot say it; the same text is handed to the caller.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace kairovel::platform {

// Checks folder and resolves it (links followed). With create, a missing
// folder is made, and every missing folder above it, with mode 0755.
// ERROR_SUCCESS; ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND when it is
// missing (and not created); ERROR_ACCESS_DENIED when it is not trusted.
std::uint32_t OpenStateFolder(const std::filesystem::path& folder, bool create, std::filesystem::path& resolved,
                              std::string& problem);

// Whether the file in a checked folder may be used: missing, or a regular
// file (not a link) of root or the caller that no one else may write.
// ERROR_SUCCESS (also when missing) or ERROR_ACCESS_DENIED.
std::uint32_t CheckStateFile(const std::filesystem::path& file, std::string& problem);

// Opens a file of a checked folder as open(2) does with flags and mode, but
// never through a link, and refuses a file CheckStateFile would refuse.
// The descriptor (close-on-exec), or -1 with errno set (EACCES for a refusal).
int OpenStateFile(const std::filesystem::path& file, int flags, mode_t mode, std::string& problem);

// Whether no one but root and the caller can change what path leads to, for
// a use (a program root runs, a file root writes): the file, where it is
// there and is no device, is not a link, is theirs and may be written by no
// one else; every
// folder above it (links followed) is theirs and writable by no one else,
// unless it has the sticky bit, as /tmp has. ERROR_SUCCESS, or
// ERROR_ACCESS_DENIED with problem "<path> is refused as <use>: <why>", also
// said on standard error. A secret file others may read is refused too.
std::uint32_t CheckTrustedPath(const std::filesystem::path& path, const std::string& use, std::string& problem,
                               bool secret = false);

// What root opened to write is the file it may write: a device, or a
// regular file of its own with a single name (a second one could be another
// user's hard link to a file elsewhere). Checked on the open file, so that
// a file swapped in between the check of the path and the open is caught.
// ERROR_SUCCESS, or ERROR_ACCESS_DENIED with the problem, as CheckTrustedPath.
std::uint32_t CheckOpenedForRoot(const std::filesystem::path& path, const struct stat& status,
                                 const std::string& use, std::string& problem);

// Creates a new file beside file, named file + ".tmp." + six characters no
// one can foretell, exclusively and with mode; its name goes to created.
// The descriptor (for reading and writing, close-on-exec), or -1 with errno set.
int CreateTemporaryBeside(const std::filesystem::path& file, mode_t mode, std::filesystem::path& created);

}  // namespace kairovel::platform
