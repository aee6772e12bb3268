// Entry point of the program. The run modes are wired in as they are built.
#include "log/console_logger.h"
#include "log/logger.h"

int main() {
    kairovel::ConsoleLogger console;
    kairovel::Log(&console, kairovel::LevelError, L"The command line is not built yet.");
    return 1;
}
