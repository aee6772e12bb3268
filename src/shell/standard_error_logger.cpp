#include "shell/standard_error_logger.h"

#include "platform/console.h"

namespace kairovel {

void StandardErrorLogger::Write(LogLevel, const std::wstring& message) {
    platform::Console().WriteStandardError(message + L"\n");
}

}  // namespace kairovel
