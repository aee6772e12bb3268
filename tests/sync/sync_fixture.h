// What every synchronisation test stands on: a virtual clock, scripted
// sources, a recording log device, a fresh configuration and a fresh table of
// active sources, and a local clock with a state of its own.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "clock/local_clock.h"
#include "config/configuration.h"
#include "platform/process.h"
#include "platform/sim/virtual_clock.h"
#include "support/recording_logger.h"
#include "sync/active_sources.h"
#include "sync/selection.h"
#include "scripted_sources.h"

namespace kairovel::testing {

class QuietProcess final : public platform::ProcessFacility {
public:
    std::wstring GetModuleFileNameW() override { return L"kairovel"; }
    std::wstring GetCommandLineW() override { return L"kairovel"; }
    bool SetPriorityClass(std::uint32_t) override { return true; }
    bool SetProcessWorkingSetSize(std::size_t minimum, std::size_t) override {
        workingSetCalls.push_back(minimum == platform::kWorkingSetRelease);
        return true;
    }
    std::vector<bool> workingSetCalls;  // true: released, false: limits reset
};

class SyncTest : public ::testing::Test {
protected:
    SyncTest() {
        TheConfiguration() = Configuration{};
        ActiveSources() = ActiveSourceTable{};
        SelectionCountdown() = 0;
    }
    ~SyncTest() override {
        TheConfiguration() = Configuration{};
        ActiveSources() = ActiveSourceTable{};
        SelectionCountdown() = 0;
    }

    Configuration& Config() { return TheConfiguration(); }
    void AddSource(const std::wstring& descriptor) {
        Config().SourceName[Config().NumberOfTimeSources++] = descriptor;
    }
    // The texts logged at a level.
    std::vector<std::wstring> Logged(LogLevel level) { return log_.Texts(level); }
    bool WasLogged(LogLevel level, const std::wstring& text) {
        for (const std::wstring& line : Logged(level)) {
            if (line == text) return true;
        }
        return false;
    }
    std::int64_t ElapsedMilliseconds() const { return virtualClock_.ElapsedMilliseconds(); }

    platform::VirtualClock virtualClock_;
    platform::ScopedFacility<platform::ClockFacility> useClock_{virtualClock_};
    QuietProcess process_;
    platform::ScopedFacility<platform::ProcessFacility> useProcess_{process_};
    ScriptedSourceFactory sources_;
    ScopedSourceFactory useSources_{sources_};
    ScopedRecordingLogger log_;
    LocalClockState clockState_;
    LocalClock clock_{clockState_};
};

}  // namespace kairovel::testing
