// A second program for the log device tests: opens the log file its first
// argument names, with the wrap size in kilobytes after a comma (10000 bytes
// without one), and logs a number of lines.
// Usage: log_file_writer <file>[,<kilobytes>] <line count> [message]
#include <cstdlib>
#include <string>

#include "log/file_logger.h"
#include "log/logger.h"
#include "platform/codepage.h"

int main(int argc, char** argv) {
    using namespace kairovel;
    if (argc < 3) return 2;
    const std::string device = argv[1];
    const std::size_t comma = device.find(',');
    const std::uint32_t maxSize =
        comma == std::string::npos ? 10000u : static_cast<std::uint32_t>(std::atoi(device.c_str() + comma + 1)) * 1024u;
    const int count = std::atoi(argv[2]);
    const std::wstring message = platform::AnsiToWide(argc > 3 ? argv[3] : "line");
    FileLogger file(platform::AnsiToWide(device.substr(0, comma)), maxSize);
    for (int i = 0; i < count; ++i) Log(&file, LevelOk, L"%s %d", message, i);
    return 0;
}
