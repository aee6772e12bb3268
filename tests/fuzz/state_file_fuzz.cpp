// A simulated clock's state file as another process (or an attacker) may have
// left it: parsed and range-checked, and when accepted, read through the
// clock's every call, whose results must stay within the calendar.
#include <string_view>

#include "fuzz_support.h"
#include "platform/sim/clock_model.h"
#include "platform/sim/simulated_clock.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kairovel::platform;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string problem;
    const std::optional<SimulatedClockModel> model = SimulatedClockModel::Parse(text, problem);
    if (!model) {
        if (problem.empty()) __builtin_trap();  // a refusal always says why
        return 0;
    }
    // What it writes back is what it read.
    const std::optional<SimulatedClockModel> again = SimulatedClockModel::Parse(model->Serialize());
    if (!again || again->Serialize() != model->Serialize()) __builtin_trap();

    // The same text as the state file of a clock, read by every call of the facility.
    static const std::filesystem::path stateFile = kairovel::fuzz::ScratchFolder() / "simulated-clock.state";
    kairovel::testing::WriteFileBytes(stateFile, kairovel::fuzz::Bytes(data, size));
    SimulatedClock clock(stateFile);
    SYSTEMTIME utc;
    clock.GetSystemTime(utc);
    SYSTEMTIME local;
    clock.GetLocalTime(local);
    std::int64_t count = 0;
    clock.QueryPerformanceCounter(count);
    SimulatedClock::Reading reading;
    if (!clock.Read(reading)) __builtin_trap();
    // Every reading is a calendar record of the years a FILETIME holds (a day more either side in local time).
    for (const SYSTEMTIME& shown : {utc, local}) {
        const bool valid = shown.wYear >= 1600 && shown.wYear <= 30829 && shown.wMonth >= 1 && shown.wMonth <= 12 &&
                           shown.wDay >= 1 && shown.wDay <= 31 && shown.wHour < 24 && shown.wMinute < 60 &&
                           shown.wSecond < 60 && shown.wMilliseconds < 1000;
        if (!valid) __builtin_trap();
    }
    // A change moves the reference point and writes the state anew.
    if (!clock.SetSystemTimeAdjustment(reading.adjustment ^ 1u, false)) __builtin_trap();
    return 0;
}
