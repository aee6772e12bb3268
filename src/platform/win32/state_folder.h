// The folder of the platform's state on Windows (KAIROVEL_ROOT, by default
// %ProgramData%\Kairovel), used only where no one but the system and the
// administrators can choose what it holds.
//
// The service runs as SYSTEM and puts back the clock's time adjustment that
// the record in this folder names, so whoever may write into it may set the
// machine's clock. %ProgramData% lets every user make folders in it, so a
// user may have made this one first. The folder is trusted only when its
// owner is SYSTEM or the Administrators group and its access list lets no
// one else write, append, delete, or change its access list or owner
// (TrustedInstaller may; an entry for CREATOR OWNER may when it only passes
// down to what the folder will hold, whose creators are trusted). A link (a
// reparse point) is judged itself and by its target. The folders above it are
// not judged: %ProgramData% itself lets users add folders.
//
// Wine keeps no security descriptors: it reports every file of the Unix user
// running it as owned by the caller, with access entries for SYSTEM, that
// owner and Everyone made from the Unix mode. Under Wine the caller is
// therefore trusted as well, as the Linux backend trusts the caller.
//
// A refusal says which path is refused and why, on standard error (once per
// reason and process), in the Linux backend's words (posix/state_folder.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace kairovel::platform {

// What a folder the program makes is given, in the system's descriptor
// language: owned by the Administrators; SYSTEM and the Administrators in full
// control, Users reading and listing (0x1200a9, read and execute), each passed
// down to everything in it, nothing inherited from above (P).
inline constexpr wchar_t kNewStateFolderSecurity[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// Checks folder. With create, a missing folder is made with
// kNewStateFolderSecurity (the missing folders above it as Windows makes them).
// ERROR_SUCCESS; ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND when it is
// missing (and not created); ERROR_ACCESS_DENIED with problem
// "<path> is refused as state: <why>" when it is not trusted.
std::uint32_t OpenStateFolder(const std::filesystem::path& folder, bool create, std::string& problem);

// Why a folder with this security descriptor (owner and access list) is not
// trusted, or empty when it is; caller, a SID or null, is trusted as well.
std::string UntrustedBecause(const void* descriptor, const void* caller);

}  // namespace kairovel::platform
