// Choosing the log device from the configured LogDevice text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kairovel {

// The file and the wrap size that a LogDevice text "<file name>,<size in KB>" names.
struct LogFileChoice {
    std::wstring fileName;
    std::uint32_t maxSize = 0;  // bytes
    // The size text asked for a negative or too large size, which was not
    // taken: a negative one gives the default size, a too large one the largest.
    bool sizeRefused = false;
    std::wstring sizeText;
};

inline constexpr wchar_t kDefaultLogFileName[] = L"Kairovel.log";
inline constexpr std::uint32_t kDefaultLogFileBytes = 10000;  // bytes

// Reads a file device text: the name before the first comma ("Kairovel.log"
// when there is none before it), the size after it as a leading decimal
// number of kilobytes (none, or 0, gives 10000 bytes).
LogFileChoice ParseLogFileText(std::wstring_view text);

// Replaces CurrentLogger by the device the configured LogDevice names, or
// defaultDevice when none is configured: "Console", "EventLog" (either in any
// case) or a file. The old device is deleted first, so a log file it held is
// free for the new one. The new device gets the configured Trace threshold.
void SelectLogger(std::wstring_view defaultDevice);

}  // namespace kairovel
