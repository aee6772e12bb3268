#include "shell/control_operation.h"

#include <gtest/gtest.h>

#include <string>

#include "config/configuration.h"
#include "platform/console.h"

namespace kairovel {
namespace {

class CapturingConsole final : public platform::ConsoleFacility {
public:
    void WriteStandardOutput(std::wstring_view text) override { out += text; }
    void WriteStandardError(std::wstring_view) override {}
    std::wstring out;
};

// A source whose kind is none of the five cannot be asked: its line ends in
// " error", and the test goes on with the next. (The command line cannot give
// such a source; a configuration can.)
TEST(ControlOperation, TheSourceTestEndsALineInErrorWhenTheSourceCannotBeAsked) {
    CapturingConsole console;
    const platform::ScopedFacility<platform::ConsoleFacility> use(console);
    TheConfiguration() = Configuration{};
    TheConfiguration().ControlOperation = L"TEST";
    TheConfiguration().NumberOfTimeSources = 1;
    TheConfiguration().SourceName[0] = L"X,nowhere";
    RunControlOperation();
    EXPECT_EQ(console.out, L"NumberOfTimeSources: 1\nsource: X,nowhere error\n");
    TheConfiguration().ControlOperation = L"restart";
    console.out.clear();
    RunControlOperation();
    EXPECT_EQ(console.out, L"No control operation specified\n");
    TheConfiguration() = Configuration{};
}

}  // namespace
}  // namespace kairovel
