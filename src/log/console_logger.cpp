#include "log/console_logger.h"

#include "platform/console.h"

namespace kairovel {

void ConsoleLogger::Write(LogLevel, const std::wstring& message) {
    // One write for the message and its line feed, so two threads' lines never mix.
    platform::Console().WriteStandardOutput(message + L"\n");
}

}  // namespace kairovel
