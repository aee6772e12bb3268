// What the log file device's tests share: a fixed clock and a log file in a
// folder of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "log/file_logger.h"
#include "log/logger.h"
#include "support/fixed_clock.h"
#include "support/log_file_check.h"
#include "support/temporary_directory.h"

namespace kairovel::testing {

inline const std::string kStartLine = SampleLine("(Ok   )", "--start--");  // 44 bytes

class FileLoggerFixture : public ::testing::Test {
protected:
    std::string Bytes() const { return ReadFileBytes(path); }

    FixedClock clock{SampleLocalTime()};
    platform::ScopedFacility<platform::ClockFacility> clockScope{clock};
    TemporaryDirectory dir;
    std::filesystem::path path = dir / "Kairovel.log";
};

}  // namespace kairovel::testing
