#include "config/registry_store.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "log/format.h"
#include "log/logger.h"
#include "platform/process.h"
#include "platform/parameter_store.h"

namespace kairovel {
namespace {

using platform::LSTATUS;
using platform::ParameterStore;
using platform::StoreKey;

const wchar_t* const kParameterKeyPath = platform::StoreKeyPath(StoreKey::Parameters);
constexpr std::uint32_t kNumberWidth = 4;     // bytes of a 32-bit number
constexpr std::uint32_t kStartTimeWidth = 6;  // hours, minutes, seconds: three 16-bit numbers
constexpr std::uint32_t kEventTypesSupported = 7;  // error, warning and information events
constexpr std::uint32_t kMaxStoredSources = Configuration::kMaxSources;

// ---- Data of the values: little-endian numbers and UTF-16LE text ----

void PutLittleEndian(RegistryBytes& out, std::uint32_t value, std::uint32_t width) {
    for (std::uint32_t i = 0; i < width; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint32_t GetLittleEndian(std::span<const std::uint8_t> data, std::size_t at, std::uint32_t width) {
    std::uint32_t value = 0;
    for (std::uint32_t i = 0; i < width && at + i < data.size(); ++i) value |= std::uint32_t{data[at + i]} << (8 * i);
    return value;
}

RegistryBytes NumberBytes(std::uint32_t value) {
    RegistryBytes out;
    PutLittleEndian(out, value, kNumberWidth);
    return out;
}

std::wstring TextOf(std::span<const std::uint8_t> data) {
    std::size_t offset = 0;
    return platform::ReadRegistryString(data, offset);
}

// Whether the text in data, up to its null or the end of the data, leaves
// room for a null within room bytes: a value edited by hand without its null
// is held to the same limit as one with it.
bool TextFits(std::span<const std::uint8_t> data, std::uint32_t room) {
    std::size_t units = 0;
    while (2 * units + 1 < data.size() && (data[2 * units] != 0 || data[2 * units + 1] != 0)) ++units;
    return 2 * (units + 1) <= room;
}

// The descriptors in order, each ended by a null, and one more null after the last.
RegistryBytes SourceListBytes(const Configuration& configuration) {
    RegistryBytes out;
    const std::uint32_t count = std::min(configuration.NumberOfTimeSources, kMaxStoredSources);
    for (std::uint32_t i = 0; i < count; ++i) {
        const RegistryBytes descriptor = platform::RegistryString(configuration.SourceName[i]);
        out.insert(out.end(), descriptor.begin(), descriptor.end());
    }
    PutLittleEndian(out, 0, 2);
    return out;
}

// Walks the stored list until an empty text, the end of the data or the tenth descriptor.
void LoadSourceList(Configuration& configuration, std::span<const std::uint8_t> data) {
    configuration.NumberOfTimeSources = 0;
    std::size_t offset = 0;
    while (configuration.NumberOfTimeSources < kMaxStoredSources && offset < data.size()) {
        std::wstring descriptor = platform::ReadRegistryString(data, offset);
        if (descriptor.empty()) break;
        configuration.SourceName[configuration.NumberOfTimeSources++] = std::move(descriptor);
    }
    for (std::uint32_t i = configuration.NumberOfTimeSources; i < kMaxStoredSources; ++i) {
        configuration.SourceName[i].clear();
    }
}

template <std::uint32_t Configuration::*Field>
constexpr ParameterRow NumberRow(const wchar_t* name, std::uint32_t type) {
    return ParameterRow{name, type, kNumberWidth, ParameterKind::Number,
                        [](const Configuration& c) { return NumberBytes(c.*Field); },
                        [](Configuration& c, std::span<const std::uint8_t> data) {
                            c.*Field = GetLittleEndian(data, 0, kNumberWidth);
                        }};
}

template <std::wstring Configuration::*Field>
constexpr ParameterRow TextRow(const wchar_t* name) {
    return ParameterRow{name, platform::REG_SZ, kTextRoom, ParameterKind::Text,
                        [](const Configuration& c) { return platform::RegistryString(c.*Field); },
                        [](Configuration& c, std::span<const std::uint8_t> data) { c.*Field = TextOf(data); }};
}

constexpr std::array<ParameterRow, 13> kParameterTable{{
    {L"SourceName", platform::REG_MULTI_SZ, kSourceListRoom, ParameterKind::SourceList, SourceListBytes,
     LoadSourceList},
    TextRow<&Configuration::LogDevice>(L"LogDevice"),
    TextRow<&Configuration::ConfigurationFile>(L"ConfigurationFile"),
    NumberRow<&Configuration::Period>(L"Period", platform::REG_DWORD),
    {L"AtTime", platform::REG_BINARY, kStartTimeWidth, ParameterKind::Number,
     [](const Configuration& c) {
         RegistryBytes out;
         for (const std::uint16_t field : {c.AtTime.hours, c.AtTime.minutes, c.AtTime.seconds}) {
             PutLittleEndian(out, field, 2);
         }
         return out;
     },
     [](Configuration& c, std::span<const std::uint8_t> data) {
         c.AtTime.hours = static_cast<std::uint16_t>(GetLittleEndian(data, 0, 2));
         c.AtTime.minutes = static_cast<std::uint16_t>(GetLittleEndian(data, 2, 2));
         c.AtTime.seconds = static_cast<std::uint16_t>(GetLittleEndian(data, 4, 2));
     }},
    NumberRow<&Configuration::TimeAdjust>(L"TimeAdjust", platform::REG_BINARY),
    {L"Trace", platform::REG_BINARY, kNumberWidth, ParameterKind::Number,
     [](const Configuration& c) { return NumberBytes(static_cast<std::uint32_t>(c.Trace)); },
     [](Configuration& c, std::span<const std::uint8_t> data) {
         c.Trace = static_cast<std::int32_t>(GetLittleEndian(data, 0, kNumberWidth));
     }},
    NumberRow<&Configuration::RestoreAdjustment>(L"RestoreAdjustment", platform::REG_BINARY),
    NumberRow<&Configuration::MaxNetworkDelay>(L"MaxNetworkDelay", platform::REG_BINARY),
    NumberRow<&Configuration::MaxTimeDeviation>(L"MaxTimeDeviation", platform::REG_BINARY),
    NumberRow<&Configuration::MaxTimeSources>(L"MaxTimeSources", platform::REG_BINARY),
    NumberRow<&Configuration::SelectionPeriod>(L"SelectionPeriod", platform::REG_BINARY),
    NumberRow<&Configuration::RestrictedScanIsEnabled>(L"RestrictedScanIsEnabled", platform::REG_BINARY),
}};

constexpr std::array<EventLogRow, 2> kEventLogTable{{
    {L"EventMessageFile", platform::REG_EXPAND_SZ,
     [] { return platform::RegistryString(platform::Process().GetModuleFileNameW()); }},
    {L"TypesSupported", platform::REG_DWORD, [] { return NumberBytes(kEventTypesSupported); }},
}};

// ---- Values ----

// Stores the values in key, raising the message of the step that failed.
void Write(StoreKey key, platform::IfMissing ifMissing, std::span<const platform::StoreValue> values) {
    std::size_t failed = 0;
    const LSTATUS status = ParameterStore().WriteValues(key, ifMissing, values, failed);
    if (status == platform::ERROR_SUCCESS) return;
    const wchar_t* path = platform::StoreKeyPath(key);
    if (failed == platform::kKeyFailed && ifMissing == platform::IfMissing::Create) {
        RaiseError(L"Registry create error %d on %s", status, path);
    }
    if (failed == platform::kKeyFailed) RaiseError(L"Registry open error %d on %s", status, path);
    RaiseError(L"Registry set value error %d on %s", status, values[failed].name);
}

// Stores one value in the parameter key, which must be there.
void WriteParameter(std::wstring_view name, std::uint32_t type, const RegistryBytes& data) {
    const platform::StoreValue value{name, type, data};
    Write(StoreKey::Parameters, platform::IfMissing::Fail, {&value, 1});
}

// Opening the parameter key: ERROR_FILE_NOT_FOUND when it is missing.
LSTATUS FindParameterKey() { return ParameterStore().FindKey(StoreKey::Parameters); }

// Reads a value of the parameter key into room bytes; data is then what the store returned, never more than room.
LSTATUS QueryValue(std::wstring_view name, std::uint32_t room, std::uint32_t& type, RegistryBytes& data) {
    data.assign(room, 0);
    std::uint32_t size = room;
    const LSTATUS status = ParameterStore().ReadValue(StoreKey::Parameters, name, type, data, size);
    data.resize(status == platform::ERROR_SUCCESS ? std::min(size, room) : 0);
    return status;
}

// "IsInstalled" as a 32-bit number starting at 0: a shorter value fills its low bytes.
LSTATUS QueryInstalledMarker(std::uint32_t& installed) {
    std::uint32_t type = 0;
    RegistryBytes data;
    const LSTATUS status = QueryValue(L"IsInstalled", kNumberWidth, type, data);
    installed = status == platform::ERROR_SUCCESS ? GetLittleEndian(data, 0, kNumberWidth) : 0;
    return status;
}

// ---- What must fit when it is read back ----

std::uint32_t Characters(const RegistryBytes& data) { return static_cast<std::uint32_t>(data.size() / 2); }

// Refuses text that a load could not read back into room bytes.
void CheckTextFits(const wchar_t* name, std::wstring_view text, std::uint32_t room) {
    const RegistryBytes data = platform::RegistryString(text);
    if (data.size() > room) {
        RaiseError(L"%s too long to store: %u characters, at most %u can be read back", name, Characters(data) - 1,
                   room / 2 - 1);
    }
}

// Checked before anything is written, so a refused installation leaves nothing half-written.
void CheckConfigurationFits(const Configuration& configuration) {
    const RegistryBytes sources = SourceListBytes(configuration);
    if (sources.size() > kSourceListRoom) {
        RaiseError(L"SourceName too long to store: %u characters with separators, at most %u can be read back",
                   Characters(sources), kSourceListRoom / 2);
    }
    CheckTextFits(L"LogDevice", configuration.LogDevice, kTextRoom);
    CheckTextFits(L"ConfigurationFile", configuration.ConfigurationFile, kTextRoom);
}

}  // namespace

std::span<const ParameterRow> ParameterTable() { return kParameterTable; }

std::span<const EventLogRow> EventLogTable() { return kEventLogTable; }

void WriteParameters() {
    const Configuration& configuration = TheConfiguration();
    CheckConfigurationFits(configuration);
    ValuesToStore eventLogSource;
    for (const EventLogRow& row : kEventLogTable) eventLogSource.Add(row.name, row.type, row.data());
    Write(StoreKey::EventLogSource, platform::IfMissing::Create, eventLogSource.values());
    ValuesToStore parameters;
    for (const ParameterRow& row : kParameterTable) parameters.Add(row.name, row.type, row.save(configuration));
    Write(StoreKey::Parameters, platform::IfMissing::Create, parameters.values());
}

void DeleteParameters() {
    for (const StoreKey key : {StoreKey::EventLogSource, StoreKey::Parameters}) {
        const LSTATUS status = ParameterStore().DeleteKey(key);
        if (status != platform::ERROR_SUCCESS) {
            RaiseError(L"Registry delete error %d on %s", status, platform::StoreKeyPath(key));
        }
    }
}

void SetInstalled(std::uint32_t value) { WriteParameter(L"IsInstalled", platform::REG_BINARY, NumberBytes(value)); }

std::uint32_t IsServiceInstalled() {
    // Missing means not installed; a store that cannot be read (refused,
    // damaged) says nothing either way, and saying "not installed" for it
    // would be a lie.
    if (const LSTATUS status = FindParameterKey(); status != platform::ERROR_SUCCESS) {
        if (status == platform::ERROR_FILE_NOT_FOUND) return 0;
        RaiseError(L"Registry open error %d on %s", status, kParameterKeyPath);
    }
    std::uint32_t installed = 0;
    const LSTATUS status = QueryInstalledMarker(installed);
    if (status == platform::ERROR_FILE_NOT_FOUND || status == platform::ERROR_MORE_DATA) return 0;
    if (status != platform::ERROR_SUCCESS) RaiseError(L"Registry query value error %d on %s", status, L"IsInstalled");
    return installed;
}

bool SetDamagedRegistryAside() {
    if (FindParameterKey() != platform::ERROR_BADDB) return false;
    std::wstring keptAs;
    if (!ParameterStore().SetDamagedStoreAside(keptAs)) return false;
    Log(CurrentLogger(), LevelInfo, L"The registry could not be read (error %d) and was set aside as %s",
        static_cast<int>(platform::ERROR_BADDB), keptAs);
    return true;
}

void GetParametersFromRegistry() {
    if (const LSTATUS status = FindParameterKey(); status != platform::ERROR_SUCCESS) {
        RaiseError(L"Registry open key error %d on %s", status, kParameterKeyPath);
    }
    std::uint32_t installed = 0;
    if (const LSTATUS status = QueryInstalledMarker(installed); status != platform::ERROR_SUCCESS) {
        RaiseError(L"Registry query value error %d on %s", status, L"IsInstalled");
    }
    if (installed == 0) RaiseError(L"Kairovel not installed correctly (from GetParametersFromRegistry)");

    Configuration& configuration = TheConfiguration();
    for (const ParameterRow& row : kParameterTable) {
        std::uint32_t type = 0;
        RegistryBytes data;
        if (const LSTATUS status = QueryValue(row.name, row.room, type, data); status != platform::ERROR_SUCCESS) {
            RaiseError(L"Registry query value error %d on %s", status, row.name);
        }
        // The type is not checked, but a number of another width would load as a wrong number.
        if (row.kind == ParameterKind::Number && data.size() != row.room) {
            const LSTATUS wrongWidth = platform::ERROR_INVALID_DATA;
            RaiseError(L"Registry query value error %d on %s", wrongWidth, row.name);
        }
        if (row.kind == ParameterKind::Text && !TextFits(data, row.room)) {
            const LSTATUS tooLong = platform::ERROR_MORE_DATA;
            RaiseError(L"Registry query value error %d on %s", tooLong, row.name);
        }
        row.load(configuration, data);
    }
}

void WriteStringValue(const std::wstring& name, std::wstring_view text) {
    CheckTextFits(name.c_str(), text, kStringValueRoom);
    WriteParameter(name, platform::REG_SZ, platform::RegistryString(text));
}

void ReadStringValue(const std::wstring& name, std::wstring& text) {
    if (const LSTATUS status = FindParameterKey(); status != platform::ERROR_SUCCESS) {
        RaiseError(L"Registry open error %d on %s", status, kParameterKeyPath);
    }
    std::uint32_t type = 0;
    RegistryBytes data;
    if (const LSTATUS status = QueryValue(name, kStringValueRoom, type, data); status != platform::ERROR_SUCCESS) {
        RaiseError(L"Registry query value error %d on %s", status, name);
    }
    if (!TextFits(data, kStringValueRoom)) {
        const LSTATUS tooLong = platform::ERROR_MORE_DATA;
        RaiseError(L"Registry query value error %d on %s", tooLong, name);
    }
    if (type != platform::REG_SZ) RaiseError(L"Registry query value type mismatch on %s", name);
    text = TextOf(data);
}

}  // namespace kairovel
