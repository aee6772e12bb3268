// The process-wide configuration record.
//
// Every setting of the program, with its default. The record is filled from
// the registry and the argument sources before any worker thread starts; the
// worker threads then only read it, apart from the completion of the source
// defaults before each synchronisation pass.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kairovel {

struct StartTime {
    // Hours below this are a local time of day; this many or more are a delay
    // of (hours - kDelayHours):minutes:seconds from start-up.
    static constexpr std::uint16_t kDelayHours = 24;

    std::uint16_t hours = kDelayHours;  // the default: no delay at all
    std::uint16_t minutes = 0;
    std::uint16_t seconds = 0;
};

struct Configuration {
    static constexpr std::uint32_t kMaxSources = 10;
    static constexpr std::uint32_t MinimumPeriod = 10;  // seconds

    std::uint32_t NumberOfTimeSources = 0;
    std::array<std::wstring, kMaxSources> SourceName{};  // descriptors: "D,", "L,", "T,", "N," or "U," + name
    std::uint32_t Period = 28800;                          // seconds between synchronisation passes
    StartTime AtTime{};
    std::uint32_t MaxNetworkDelay = 1000;     // ms; 0 switches the limit off
    std::uint32_t MaxTimeDeviation = 600000;  // ms; 0 switches the limit off
    std::uint32_t TimeAdjust = 1;             // 1: slew the clock, 0: step it
    std::uint32_t RestoreAdjustment = 2;      // drift-compensation mode
    std::int32_t Trace = 2;                   // threshold of the log device
    std::uint32_t MaxTimeSources = 0;
    std::uint32_t SelectionPeriod = 0;
    std::uint32_t RestrictedScanIsEnabled = 0;
    std::wstring LogDevice;          // "Console", "EventLog" or "<file>,<size in KB>"; empty: the mode's default
    std::wstring ConfigurationFile;  // full path of the first parameter file, or "*" + the first URL

    std::uint32_t InstallFlag = 0;
    std::uint32_t RemoveFlag = 0;
    std::uint32_t StatusFlag = 0;
    std::uint32_t HelpFlag = 0;
    std::uint32_t ImmediateFlag = 0;
    std::uint32_t ControlFlag = 0;
    std::wstring ControlOperation;
};

// The one record of the process.
Configuration& TheConfiguration();

}  // namespace kairovel
