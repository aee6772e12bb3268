// The console device: each message and a line feed on standard output.
#pragma once

#include "log/logger.h"

namespace kairovel {

class ConsoleLogger : public Logger {
public:
    void Write(LogLevel level, const std::wstring& message) override;
};

}  // namespace kairovel
