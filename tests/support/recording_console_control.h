// A console control facility that records the handler routines installed, and installs none.
#pragma once

#include <vector>

#include "platform/console_control.h"

namespace kairovel::testing {

class RecordingConsoleControl final : public platform::ConsoleControlFacility {
public:
    bool SetConsoleCtrlHandler(platform::PHANDLER_ROUTINE handler, bool add) override {
        if (add) installed.push_back(handler);
        return true;
    }
    std::vector<platform::PHANDLER_ROUTINE> installed;
};

}  // namespace kairovel::testing
