// What a clock's time adjustment was before this process first changed it,
// kept in a small state file so that the next run can put it back when this
// one ends without doing so itself: killed, crashed, or cut off in a slew.
// Without it the clock would run fast or slow until the machine restarts,
// and the next run would take that rate for the machine's own.
//
// The record holds the boot it belongs to (the clock of a new boot starts
// afresh, so an older record is dropped), the process that made it, and the
// clock backend's own text of the values. While that process runs its
// record is left alone, and it holds the adjustment: a second run at the same
// time may not change the clock's adjustment until that process has put it
// back, so that whatever order two runs end in, the clock ends at the values
// the first one found. The state file makes every change whole and one at a
// time (platform/sim/state_file.h).
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
    explicit AdjustmentRecord(std::filesystem::path file) : path_(file), file_(std::move(file)) {}

    // Records values before a change of the adjustment; true at once when
    // this process holds the record already. False with the last error set
    // when the change must not be made: ERROR_BUSY while another running
    // process holds the record, the file's error when it cannot be written.
    bool Keep(const std::string& values);
    // Whether this process holds the record (has changed the adjustment and
    // not put it back).
    bool Held();
    // Another running process that holds the record, in words; empty when none.
    std::string OtherHolder() const;
    // Why the last Keep refused the change, in words: another holder, or the
    // file and why it could not be written.
    std::wstring Problem();
    // The adjustment is back at the values this process recorded: the record goes.
    void Release();
    // The values a process of this boot recorded and never put back, now that it has ended.
    std::optional<std::string> Abandoned() const;
    // Drops that record, once its values are back.
    void ForgetAbandoned();

private:
    std::filesystem::path path_;
    SharedStateFile file_;
    std::mutex mutex_;
    bool kept_ = false;  // this process holds the record
    std::wstring problem_;
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
    // Another running process that holds the adjustment, in words; empty when none.
    std::string OtherHolder() const { return record_.OtherHolder(); }
    // Why the last Set could not change the pair for want of its record, in
    // words; empty when that was not why.
    std::wstring Problem();

private:
    AdjustmentRecord record_;
    std::mutex mutex_;
    std::optional<std::string> startup_;  // the pair before this process's change in force, as recorded
    std::wstring problem_;
};

}  // namespace kairovel::platform
