// The registry of the local machine: keys, values and the calls that reach them.
//
// The program keeps its installed configuration under HKEY_LOCAL_MACHINE. The
// calls keep the Windows meanings: key paths and value names compare without
// regard to case and keep the case they were created with; a value is raw
// bytes with a type; string data is UTF-16LE, so a string of n characters and
// its terminating null takes 2 × (n + 1) bytes on every build. Each call
// returns a Windows system error code (ERROR_SUCCESS when it worked) and
// leaves the thread's last error alone, as the registry calls do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/facility.h"
#include "platform/handle.h"
#include "platform/win_types.h"

namespace kairovel::platform {

struct RegistryKeyKind;
using HKEY = Handle<RegistryKeyKind>;

inline constexpr HKEY HKEY_LOCAL_MACHINE{0x80000002};

// A Windows system error code, as the registry calls return it.
using LSTATUS = std::uint32_t;
// Access rights asked for when a key is opened or created.
using REGSAM = std::uint32_t;

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

class RegistryFacility {
public:
    virtual ~RegistryFacility() = default;

    // Opens subKey of key, creating it and every missing key above it. The
    // stand-ins keep neither keyClass nor securityAttributes; options is
    // REG_OPTION_NON_VOLATILE. Creating needs KEY_CREATE_SUB_KEY on key.
    // disposition (may be null) says whether the key was created or opened.
    virtual LSTATUS RegCreateKeyExW(HKEY key, const wchar_t* subKey, std::uint32_t reserved, const wchar_t* keyClass,
                                    std::uint32_t options, REGSAM desired, const void* securityAttributes,
                                    HKEY* result, std::uint32_t* disposition) = 0;

    // Opens an existing key; ERROR_FILE_NOT_FOUND when it does not exist. A null
    // or empty subKey opens key itself again.
    virtual LSTATUS RegOpenKeyExW(HKEY key, const wchar_t* subKey, std::uint32_t options, REGSAM desired,
                                  HKEY* result) = 0;

    // Stores size bytes of data under valueName (null or empty: the key's default value). Needs KEY_SET_VALUE.
    virtual LSTATUS RegSetValueExW(HKEY key, const wchar_t* valueName, std::uint32_t reserved, std::uint32_t type,
                                   const std::uint8_t* data, std::uint32_t size) = 0;

    // Reads a value: its type into *type and its bytes into data, whose room in
    // bytes *size gives on the way in; *size is the stored size on the way out.
    // With data null, only the type and the size. With too little room,
    // ERROR_MORE_DATA and the size needed. Needs KEY_QUERY_VALUE.
    virtual LSTATUS RegQueryValueExW(HKEY key, const wchar_t* valueName, std::uint32_t* reserved, std::uint32_t* type,
                                     std::uint8_t* data, std::uint32_t* size) = 0;

    // Deletes subKey of key with its values. ERROR_FILE_NOT_FOUND when it does
    // not exist, ERROR_ACCESS_DENIED while it still has subkeys.
    virtual LSTATUS RegDeleteKeyW(HKEY key, const wchar_t* subKey) = 0;

    // Deletes one value of key (null or empty: its default value).
    // ERROR_FILE_NOT_FOUND when there is none. Needs KEY_SET_VALUE.
    virtual LSTATUS RegDeleteValueW(HKEY key, const wchar_t* valueName) = 0;

    virtual LSTATUS RegCloseKey(HKEY key) = 0;
};

template <>
RegistryFacility& DefaultFacility<RegistryFacility>();

inline RegistryFacility& Registry() { return Facility<RegistryFacility>::Get(); }

// String data as the registry stores it. On Windows a wide character is one
// UTF-16 code unit; where it is wider, a character beyond U+FFFF becomes a
// surrogate pair, so sizes are the Windows ones everywhere.

// text as UTF-16LE code units followed by one null: 2 × (length + 1) bytes.
std::vector<std::uint8_t> RegistryString(std::wstring_view text);

// Reads one string of UTF-16LE data from offset on: its characters up to the
// next null or to the end of data, whichever comes first. offset moves past
// the null (or to the end). A last odd byte is not a character and is skipped.
// Nothing outside data is ever read.
std::wstring ReadRegistryString(std::span<const std::uint8_t> data, std::size_t& offset);

}  // namespace kairovel::platform
