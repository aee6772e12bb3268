// Conversions between the program's wide text and the system's narrow code page.
//
// The program's text is wide; host names, the log file and parameter files
// are narrow, in what Windows calls the ANSI code page. On Linux that code
// page is UTF-8, and bytes that are not valid UTF-8 survive a round trip:
// each becomes one character U+DC80..U+DCFF and turns back into the same byte,
// so a Latin-1 file name read from a parameter file still opens the file.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kairovel::platform {

std::wstring AnsiToWide(std::string_view text);
std::string WideToAnsi(std::wstring_view text);

// A file name as the system's file calls take it: on Linux its narrow bytes
// (so an escaped byte names the file it came from), on Windows the wide name
// itself, which the narrow code page may not be able to hold.
std::filesystem::path FileSystemPath(std::wstring_view name);
// The wide text of such a path.
std::wstring WideName(const std::filesystem::path& path);

}  // namespace kairovel::platform
