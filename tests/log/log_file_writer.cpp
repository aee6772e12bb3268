// A second program for the log device tests: selects the log device that its
// first argument names (as the log switch would) and logs a number of lines.
// Usage: log_file_writer <log device text> <line count> [message]
#include <cstdlib>
#include <string>

#include "config/configuration.h"
#include "log/logger.h"
#include "log/select_logger.h"
#include "platform/codepage.h"

int main(int argc, char** argv) {
    using namespace kairovel;
    if (argc < 3) return 2;
    TheConfiguration().LogDevice = platform::AnsiToWide(argv[1]);
    const int count = std::atoi(argv[2]);
    const std::wstring message = platform::AnsiToWide(argc > 3 ? argv[3] : "line");
    SelectLogger(L"Console");
    for (int i = 0; i < count; ++i) Log(CurrentLogger(), LevelOk, L"%s %d", message, i);
    CloseCurrentLogger();
    return 0;
}
