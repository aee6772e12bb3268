// What a clock's time adjustment was before this process first changed it,
// kept in a small state file so that the next run can put it back when this
// one ends without doing so itself: killed, crashed, or cut off in a slew.
// Without it the clock would run fast or slow until the machine restarts,
// and the next run would take that rate for the machine's own.
//
// The record holds the boot it belongs to (the clock of a new boot starts
// afresh, so an older record is dropped), the process that made it, and the
// clock backend's own text of the values. While that process runs its
// record is left alone: a second run at the same time neither takes it nor
// replaces it, and its own change needs no record of its own, since the
// record already holds the values from before both. The state file makes
// every change whole and one at a time (platform/sim/state_file.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "platform/sim/state_file.h"

namespace kairovel::platform {

class AdjustmentRecord {
public:
    explicit AdjustmentRecord(std::filesystem::path file) : file_(std::move(file)) {}

    // Records values before a change of the adjustment; true at once when
    // this process or another running one holds the record already. False
    // with the last error set when it cannot be written: the change must not
    // be made then.
    bool Keep(const std::string& values);
    // The adjustment is back at the values this process recorded: the record goes.
    void Release();
    // The values a process of this boot recorded and never put back, now that it has ended.
    std::optional<std::string> Abandoned() const;
    // Drops that record, once its values are back.
    void ForgetAbandoned();

private:
    SharedStateFile file_;
    std::mutex mutex_;
    bool kept_ = false;  // this process holds the record
};

// The record of a clock whose adjustment is the Windows pair (adjustment,
// disabled): the simulated clock and Windows' own. The pair is recorded as it
// was before this process first changed it, and the record goes when the
// clock is set back to it.
class WindowsAdjustmentRecord {
public:
    using Read = std::function<bool(std::uint32_t& adjustment, bool& disabled)>;
    using Write = std::function<bool(std::uint32_t adjustment, bool disabled)>;

    explicit WindowsAdjustmentRecord(std::filesystem::path file) : record_(std::move(file)) {}

    // Sets the pair with write, the pair read() gives on record first;
    // false (last error set) when either fails.
    bool Set(std::uint32_t adjustment, bool disabled, const Read& read, const Write& write);
    // Puts back with write what a run of this boot recorded and never put
    // back; true when it did, with the pair in words.
    bool RestoreAbandoned(const Write& write, std::wstring& restored);
    // Drops a record whose process has ended, put back or not.
    void ForgetAbandoned() { record_.ForgetAbandoned(); }

private:
    AdjustmentRecord record_;
    std::mutex mutex_;
    std::optional<std::string> startup_;  // the pair before this process's first change, as recorded
};

}  // namespace kairovel::platform
