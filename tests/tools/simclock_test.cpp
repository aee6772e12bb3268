// The simulated-clock tool, run as a test would run it beside the program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

#include "platform/sim/simulated_clock.h"
#include "support/process.h"
#include "support/temporary_directory.h"

namespace kairovel {
namespace {

using testing::ProcessResult;
using testing::RunProcess;
using testing::TemporaryDirectory;

class SimclockTool : public ::testing::Test {
protected:
    ProcessResult Run(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), KAIROVEL_SIMCLOCK);
        testing::ProcessOptions options;
        options.environment["KAIROVEL_ROOT"] = root_.path().string();
        options.timeout = std::chrono::milliseconds(20'000);
        return RunProcess(arguments, options);
    }
    // The "name value" lines of show.
    static std::map<std::string, std::string> Fields(const std::string& output) {
        std::map<std::string, std::string> fields;
        std::istringstream lines(output);
        std::string name;
        std::string value;
        while (lines >> name >> value) fields[name] = value;
        return fields;
    }

    TemporaryDirectory root_;
};

TEST_F(SimclockTool, SetsTheErrorAndShowsWhatIsLeft) {
    ProcessResult shown = Run({"show"});
    ASSERT_EQ(shown.exitCode, 0) << shown.standardError;
    EXPECT_EQ(Fields(shown.standardOutput),
              (std::map<std::string, std::string>{{"true_error_ms", "0.000"},
                                                  {"drift_ppm", "0.000"},
                                                  {"adjustment", "100000"},
                                                  {"increment", "100000"},
                                                  {"disabled", "1"},
                                                  {"synchronised", "0"},
                                                  {"esterror_us", "16000000"},
                                                  {"maxerror_us", "16000000"}}));

    ProcessResult set = Run({"set", "--offset-ms", "3200", "--drift-ppm", "40"});
    ASSERT_EQ(set.exitCode, 0) << set.standardError;
    EXPECT_EQ(Fields(set.standardOutput)["drift_ppm"], "40.000");

    // The program's side of the file: it sees the error and slews the clock.
    platform::SimulatedClock clock(root_ / "simulated-clock.state");
    platform::SimulatedClock::Reading reading;
    ASSERT_TRUE(clock.Read(reading));
    EXPECT_NEAR(reading.trueErrorMilliseconds, 3200.0, 1.0);
    ASSERT_TRUE(clock.SetSystemTimeAdjustment(99950, false));
    ASSERT_TRUE(clock.SetSynchronisedStatus(true, 1500, 101500));

    shown = Run({"show"});
    ASSERT_EQ(shown.exitCode, 0);
    std::map<std::string, std::string> fields = Fields(shown.standardOutput);
    EXPECT_EQ(fields["adjustment"], "99950");
    EXPECT_EQ(fields["disabled"], "0");
    EXPECT_EQ(fields["synchronised"], "1");
    EXPECT_EQ(fields["maxerror_us"], "101500");
    const std::string error = fields["true_error_ms"];
    ASSERT_EQ(error.size() - error.find('.'), 4u) << error;  // microsecond decimals
    EXPECT_NEAR(std::strtod(error.c_str(), nullptr), 3200.0, 10.0);

    // What set shows is read at once, before the running adjustment moves the error on.
    const ProcessResult moved = Run({"set", "--offset-ms", "-12.5"});
    ASSERT_EQ(moved.exitCode, 0) << moved.standardError;
    fields = Fields(moved.standardOutput);
    EXPECT_NEAR(std::strtod(fields["true_error_ms"].c_str(), nullptr), -12.5, 1.0);
    EXPECT_EQ(fields["drift_ppm"], "40.000");  // what is not given stays
    EXPECT_EQ(fields["adjustment"], "99950");

    ASSERT_EQ(Run({"reset"}).exitCode, 0);
    EXPECT_EQ(Fields(Run({"show"}).standardOutput)["true_error_ms"], "0.000");
}

TEST_F(SimclockTool, RefusesWhatItCannotDo) {
    EXPECT_EQ(Run({}).exitCode, 2);
    EXPECT_EQ(Run({"set"}).exitCode, 2);
    EXPECT_EQ(Run({"set", "--offset-ms"}).exitCode, 2);
    EXPECT_EQ(Run({"set", "--offset-ms", "3s"}).exitCode, 2);
    EXPECT_EQ(Run({"set", "--speed", "2"}).exitCode, 2);
    EXPECT_EQ(Run({"show", "extra"}).exitCode, 2);
    const ProcessResult tooFast = Run({"set", "--drift-ppm", "900000"});
    EXPECT_EQ(tooFast.exitCode, 1);
    EXPECT_THAT(tooFast.standardError, ::testing::HasSubstr("error 87"));
}

}  // namespace
}  // namespace kairovel
