// The registry of the local machine: keys, values and the calls that reach them.
//
// The program keeps its installed configuration under HKEY_LOCAL_MACHINE. The
// calls keep the Windows meanings: key paths and value names compare without
// regard to case and keep the case they were created with; a value is raw
// bytes with a type; string data is UTF-16LE, so a string of n characters and
// its terminating null takes 2 × (n + 1) bytes on every build. Each call
// returns a Windows system error code (ERROR_SUCCESS when it worked) and
// leaves the thread's last error alone, as the registry calls do.
//
// This is the facility without its constants (platform/registry.h adds
// them), for the Windows backend, which includes windows.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/facility.h"
#include "platform/handle.h"
#include "platform/interface/win_types.h"

namespace kairovel::platform {

struct RegistryKeyKind;
using HKEY = Handle<RegistryKeyKind>;

// A Windows system error code, as the registry calls return it.
using LSTATUS = std::uint32_t;
// Access rights asked for when a key is opened or created.
using REGSAM = std::uint32_t;

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

    // Not a Windows call: sets a store that cannot be read (damaged, cut
    // short) aside, keeping it under a name with the time, so that a new one
    // can be made; true with that name. Windows' own registry has no such
    // store of the program's: it does nothing there.
    virtual bool SetDamagedStoreAside(std::wstring& keptAs) {
        (void)keptAs;
        return false;
    }
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
