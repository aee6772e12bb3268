// The registry parameter store: the installed service's configuration.
//
// Installation writes the configuration record under the service's own
// parameter key, and registers the program as a source of the event log; the
// service loads the record back when it starts; removal deletes both keys.
// The parameter key also holds the installed marker "IsInstalled" and free
// text values that other parts of the program persist there (such as the
// clock's "LastAdjustmentValue").
//
// Each operation goes through the platform's parameter store and raises
// its message on failure (IsServiceInstalled answers 0 for a missing key or
// marker instead). A failure stops the operation where it happens: a key
// already written stays written, what was already loaded stays loaded.
#pragma once

#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "platform/interface/parameter_store.h"

namespace kairovel {

// Room in bytes that a load reads a value into.
inline constexpr std::uint32_t kSourceListRoom = 600;   // "SourceName": 300 characters with every null
inline constexpr std::uint32_t kTextRoom = 200;         // "LogDevice", "ConfigurationFile": 99 characters and a null
inline constexpr std::uint32_t kStringValueRoom = 100;  // ReadStringValue: 49 characters and a null

using RegistryBytes = std::vector<std::uint8_t>;

// Values for one write of the parameter store, with the bytes they point to
// (a deque never moves what it holds).
class ValuesToStore {
public:
    void Add(std::wstring_view name, std::uint32_t type, RegistryBytes data) {
        values_.push_back({name, type, data_.emplace_back(std::move(data))});
    }
    std::span<const platform::StoreValue> values() const { return values_; }

private:
    std::deque<RegistryBytes> data_;
    std::vector<platform::StoreValue> values_;
};

// What a value of the parameter key holds, which says what of it can be loaded.
enum class ParameterKind {
    SourceList,  // descriptors, each ended by a null, up to an empty one
    Text,        // at most room / 2 - 1 characters
    Number,      // exactly room bytes, little-endian, whatever type it was stored with
};

// One value of the parameter key: its name, the type it is written with, the
// room a load gives it, and how its data comes from and goes back into the
// configuration record.
struct ParameterRow {
    const wchar_t* name;
    std::uint32_t type;
    std::uint32_t room;
    ParameterKind kind;
    RegistryBytes (*save)(const Configuration&);
    void (*load)(Configuration&, std::span<const std::uint8_t>);
};

// One value of the event-log source key.
struct EventLogRow {
    const wchar_t* name;
    std::uint32_t type;
    RegistryBytes (*data)();
};

// The 13 values of the parameter key, in the order they are written and loaded.
std::span<const ParameterRow> ParameterTable();
// "EventMessageFile" (the running executable) and "TypesSupported" (7).
std::span<const EventLogRow> EventLogTable();

// Writes the event-log source key and the parameter key from the configuration record.
void WriteParameters();
// Deletes the event-log source key, then the parameter key.
void DeleteParameters();
// Stores value as "IsInstalled".
void SetInstalled(std::uint32_t value);
// The stored "IsInstalled" number; 0 when the key or the value is missing (or
// too large to read). A registry that cannot be read raises its error.
std::uint32_t IsServiceInstalled();
// A registry that cannot be read because it is damaged (error 1009) is set
// aside, kept under a name with the time, so that installing and removing
// are never stopped by it; logs "The registry could not be read (error 1009)
// and was set aside as <name>". True when it was.
bool SetDamagedRegistryAside();
// Loads the parameter key into the configuration record.
void GetParametersFromRegistry();
// Stores text under name in the parameter key, as REG_SZ.
void WriteStringValue(const std::wstring& name, std::wstring_view text);
// Reads the REG_SZ value name of the parameter key into text.
void ReadStringValue(const std::wstring& name, std::wstring& text);

}  // namespace kairovel
