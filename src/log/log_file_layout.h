// The byte layout of the log file, which other programs read.
//
// An 80-byte header line "Log file; last written at <position> max size
// <size>" padded with blanks to 77 characters, CR LF and a NUL; then lines,
// each of five NUL-terminated narrow pieces (time stamp, level word, blank,
// message, CR LF), wrapping back to offset 80; after the newest line the end
// marker "--end--", CR LF (two more pieces), where the header's position points.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "log/logger.h"
#include "platform/win_types.h"

namespace kairovel::log_file {

inline constexpr std::uint32_t kHeaderBytes = 80;     // bytes, NUL included
inline constexpr std::size_t kHeaderTextCharacters = 77;  // characters before the CR LF

// The header with the position of the end marker and the wrap size: exactly 80 bytes.
std::string HeaderBytes(std::uint32_t position, std::uint32_t maxSize);

// What the header's format reads from the first bytes of a file, as scanf
// would: numbersRead is 0 when the text does not start as a header does, 1
// when only the position was read, 2 when both were. A number that does not
// fit in 32 signed bits is not read.
struct StoredHeader {
    int numbersRead = 0;
    std::int32_t position = 0;
    std::int32_t maxSize = 0;
};
StoredHeader ParseHeader(std::string_view bytes);

// One line as written at localTime: its five pieces with their NULs.
std::string LineBytes(const platform::SYSTEMTIME& localTime, LogLevel level, std::wstring_view message);

// The end marker's two pieces with their NULs.
std::string EndMarkerBytes();

}  // namespace kairovel::log_file
