// A log device on standard error: the service life's device until the service chooses its own.
//
// Without arguments the program opens no device of its own before the
// control manager runs the service; a failure to reach the control manager
// (most often: the program was started by hand without arguments) must still
// be reported somewhere, and standard error is where a person who did that sees it.
#pragma once

#include "log/logger.h"

namespace kairovel {

class StandardErrorLogger final : public Logger {
public:
    void Write(LogLevel level, const std::wstring& message) override;
};

}  // namespace kairovel
