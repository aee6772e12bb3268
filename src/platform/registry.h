// The registry of the local machine: the facility (platform/interface/registry.h)
// with the predefined key, the access rights, the value types and the limits
// of the Windows API, under the names windows.h gives them as macros.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/interface/registry.h"
#include "platform/win_types.h"

namespace kairovel::platform {

inline constexpr HKEY HKEY_LOCAL_MACHINE{0x80000002};

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM READ_CONTROL = 0x00020000;
inline constexpr REGSAM KEY_READ = 0x20019;        // READ_CONTROL | QUERY_VALUE | ENUMERATE_SUB_KEYS | NOTIFY
inline constexpr REGSAM KEY_WRITE = 0x20006;       // READ_CONTROL | SET_VALUE | CREATE_SUB_KEY
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;  // everything a key grants

// Value types.
inline constexpr std::uint32_t REG_NONE = 0;
inline constexpr std::uint32_t REG_SZ = 1;
inline constexpr std::uint32_t REG_EXPAND_SZ = 2;
inline constexpr std::uint32_t REG_BINARY = 3;
inline constexpr std::uint32_t REG_DWORD = 4;
inline constexpr std::uint32_t REG_MULTI_SZ = 7;
inline constexpr std::uint32_t REG_QWORD = 11;

// Options of RegCreateKeyExW, and what it did.
inline constexpr std::uint32_t REG_OPTION_NON_VOLATILE = 0;
inline constexpr std::uint32_t REG_OPTION_VOLATILE = 1;
inline constexpr std::uint32_t REG_CREATED_NEW_KEY = 1;
inline constexpr std::uint32_t REG_OPENED_EXISTING_KEY = 2;

// Longest key name component and value name, in characters.
inline constexpr std::size_t kMaxKeyNameLength = 255;
inline constexpr std::size_t kMaxValueNameLength = 16383;

}  // namespace kairovel::platform
