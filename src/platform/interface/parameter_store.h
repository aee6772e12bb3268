// The service's stored parameters: the two registry keys of its installation.
//
// The program keeps what an installation stores in two keys under
// HKEY_LOCAL_MACHINE: the service's parameter key (the configuration record,
// the installed marker "IsInstalled" and the clock's "LastAdjustmentValue")
// and the event log's key for the program as an event source. This facility
// reads, writes and deletes the values of those two keys, with the registry's
// meanings: value names compare without regard to case and keep the case they
// were first stored with; a value is raw bytes with a registry type; string
// data is UTF-16LE, so a string of n characters and its terminating null
// takes 2 × (n + 1) bytes on every build. Each call returns a Windows system
// error code (ERROR_SUCCESS when it worked) and leaves the thread's last
// error alone, as the registry calls do.
//
// This is the facility without its constants, for the Windows backend beside
// windows.h; platform/parameter_store.h adds the value types under their
// Windows names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/facility.h"

namespace kairovel::platform {

// A Windows system error code, as the registry calls return it.
using LSTATUS = std::uint32_t;

enum class StoreKey {
    Parameters,      // the service's own parameters
    EventLogSource,  // the program as a source of the event log
};

// The key's path below HKEY_LOCAL_MACHINE, as the program's messages name it.
constexpr const wchar_t* StoreKeyPath(StoreKey key) {
    return key == StoreKey::Parameters ? L"SYSTEM\\CurrentControlSet\\Services\\Kairovel\\Parameters"
                                       : L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Kairovel";
}

// One value to store: its name, its registry type (REG_SZ, ...) and its bytes.
struct StoreValue {
    std::wstring_view name;
    std::uint32_t type = 0;
    std::span<const std::uint8_t> data;
};

// What a write does when the key is not there.
enum class IfMissing {
    Fail,    // ERROR_FILE_NOT_FOUND, as opening the key does
    Create,  // creates it, and the keys above it
};

// The failed index of a write that could not open or create its key.
inline constexpr std::size_t kKeyFailed = SIZE_MAX;

class ParameterStoreFacility {
public:
    virtual ~ParameterStoreFacility() = default;

    // Whether key can be opened for reading: ERROR_SUCCESS,
    // ERROR_FILE_NOT_FOUND when it does not exist, or why the store cannot
    // tell (it may not be read, it is damaged).
    virtual LSTATUS FindKey(StoreKey key) = 0;

    // Reads the value name of key: its type, and its bytes into room; size is
    // the stored size. With too little room (an empty room included),
    // ERROR_MORE_DATA with the size needed, and what room holds is not to be
    // used (Windows may have written part of the value there).
    // ERROR_FILE_NOT_FOUND when the key or the value is missing.
    virtual LSTATUS ReadValue(StoreKey key, std::wstring_view name, std::uint32_t& type,
                              std::span<std::uint8_t> room, std::uint32_t& size) = 0;

    // Stores values in key, each replacing a value of the same name. An
    // existing key is opened (with reading alone on Linux, so that a store
    // that may not be written still reports the failure on the values). On
    // failure, failed is kKeyFailed when the key could not be opened or
    // created, or else the index of the value the failure is about (the
    // first, when it concerns the whole write). Windows stores the values
    // one by one, keeping those before a failure; Linux stores them in one
    // transaction, all or none.
    virtual LSTATUS WriteValues(StoreKey key, IfMissing ifMissing, std::span<const StoreValue> values,
                                std::size_t& failed) = 0;

    // Deletes key with its values. ERROR_FILE_NOT_FOUND when it does not
    // exist, ERROR_ACCESS_DENIED while it has subkeys.
    virtual LSTATUS DeleteKey(StoreKey key) = 0;

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
ParameterStoreFacility& DefaultFacility<ParameterStoreFacility>();

inline ParameterStoreFacility& ParameterStore() { return Facility<ParameterStoreFacility>::Get(); }

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
