// Reading a log file back as its readers do, to check that it is well formed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kairovel::testing {

// The bytes of a line stamped "2024/03/05 07:08:09 " (the fixed test clock).
std::string SampleLine(const std::string& levelWord, const std::string& message);
// The 80 header bytes.
std::string HeaderOf(std::uint32_t position, std::uint32_t maxSize);
inline const std::string kEndMarker("--end--\0\r\n\0", 11);

struct LogFileContent {
    bool wellFormed = false;
    std::string problem;  // what is wrong, when it is not well formed
    std::uint32_t position = 0;
    std::uint32_t maxSize = 0;
    std::vector<std::string> messages;  // the lines from offset 80 to the end marker, in file order
};

// Parses the header, the lines from 80 up to the header's position (each of
// five NUL-terminated pieces with a time stamp, a level word, a blank, the
// message, CR LF) and the end marker at the position.
LogFileContent ReadLogFile(const std::string& bytes);

}  // namespace kairovel::testing
