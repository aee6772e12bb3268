// Files (platform/interface/file.h) with the access rights, share modes,
// creation dispositions and failure answers of the Windows calls.
#pragma once

#include <cstdint>

#include "platform/interface/file.h"
#include "platform/win_types.h"

namespace kairovel::platform {

// Access rights.
inline constexpr std::uint32_t GENERIC_READ = 0x80000000;
inline constexpr std::uint32_t GENERIC_WRITE = 0x40000000;
// Share modes: what other handles may do with the file while this one is open.
inline constexpr std::uint32_t FILE_SHARE_READ = 0x1;
inline constexpr std::uint32_t FILE_SHARE_WRITE = 0x2;
inline constexpr std::uint32_t FILE_SHARE_DELETE = 0x4;
// Creation dispositions.
inline constexpr std::uint32_t CREATE_NEW = 1;
inline constexpr std::uint32_t CREATE_ALWAYS = 2;
inline constexpr std::uint32_t OPEN_EXISTING = 3;
inline constexpr std::uint32_t OPEN_ALWAYS = 4;
inline constexpr std::uint32_t TRUNCATE_EXISTING = 5;
// Attributes.
inline constexpr std::uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;
// Move methods of SetFilePointer.
inline constexpr std::uint32_t FILE_BEGIN = 0;
inline constexpr std::uint32_t FILE_CURRENT = 1;
inline constexpr std::uint32_t FILE_END = 2;
// Failure answers of SetFilePointer and GetFileSize. Both are also valid low
// halves of large numbers, so the last error tells them apart (0: no failure).
inline constexpr std::uint32_t INVALID_SET_FILE_POINTER = 0xFFFFFFFF;
inline constexpr std::uint32_t INVALID_FILE_SIZE = 0xFFFFFFFF;

}  // namespace kairovel::platform
