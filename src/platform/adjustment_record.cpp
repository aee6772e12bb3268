#include "platform/adjustment_record.h"

#include <sstream>

#include "platform/codepage.h"
#include "platform/last_error.h"
#include "platform/run_identity.h"
#include "platform/system_message.h"
#include "platform/win_types.h"

namespace kairovel::platform {
namespace {

struct Record {
    std::string boot;
    std::string process;
    std::string values;
};

std::string Text(const Record& record) {
    return "boot " + record.boot + "\nprocess " + record.process + "\nvalues " + record.values + "\n";
}

// A record with all three lines, or nothing: a damaged one is no record.
std::optional<Record> Parse(const std::optional<std::string>& content) {
    if (!content) return std::nullopt;
    Record record;
    std::istringstream in(*content);
    std::string line;
    int fields = 0;
    while (std::getline(in, line)) {
        const std::size_t blank = line.find(' ');
        if (blank == std::string::npos) continue;
        const std::string name = line.substr(0, blank);
        std::string* field = name == "boot" ? &record.boot : name == "process" ? &record.process
                             : name == "values"                             ? &record.values
                                                                            : nullptr;
        if (field == nullptr) continue;
        *field = line.substr(blank + 1);
        ++fields;
    }
    if (fields != 3 || record.values.empty()) return std::nullopt;
    return record;
}

std::string PairText(std::uint32_t adjustment, bool disabled) {
    return std::to_string(adjustment) + " " + (disabled ? "1" : "0");
}

bool ParsePair(const std::string& text, std::uint32_t& adjustment, bool& disabled) {
    std::istringstream in(text);
    int flag = 0;
    if (!(in >> adjustment >> flag) || (flag != 0 && flag != 1)) return false;
    disabled = flag == 1;
    return true;
}

// A record that still speaks for a clock: of this boot, its process gone or not.
bool IsOfThisBoot(const std::optional<Record>& record) { return record && IsCurrentBoot(record->boot); }

}  // namespace

bool AdjustmentRecord::Keep(const std::string& values) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (kept_) return true;
    const std::string self = ProcessIdentity();
    bool ours = false;
    const bool written = file_.Update([&](std::optional<std::string>& content) {
        const std::optional<Record> held = Parse(content);
        if (IsOfThisBoot(held) && (held->process == self || IsRunningProcess(held->process))) {
            ours = held->process == self;
            return false;  // a running process's record stands
        }
        // A record of this boot whose values could not be put back still
        // holds the machine's own: this process takes it over as it is.
        content = Text(IsOfThisBoot(held) ? Record{held->boot, self, held->values} : Record{BootIdentity(), self, values});
        ours = true;
        return true;
    });
    kept_ = written && ours;
    problem_.clear();
    if (!written) {
        const std::uint32_t error = GetLastError();
        problem_ = AnsiToWide(path_.string()) + L", the record of the adjustment to put back, cannot be written: " +
                   SystemErrorMessage(error);
        SetLastError(error);
    } else if (!ours) {
        problem_ = L"another run (" + AnsiToWide(OtherHolder()) + L") holds the clock's adjustment";
        SetLastError(ERROR_BUSY);
    }
    return kept_;
}

std::wstring AdjustmentRecord::Problem() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return problem_;
}

bool AdjustmentRecord::Held() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return kept_;
}

std::string AdjustmentRecord::OtherHolder() const {
    std::optional<std::string> content;
    if (!file_.Read(content)) return {};
    const std::optional<Record> held = Parse(content);
    if (!IsOfThisBoot(held) || held->process == ProcessIdentity() || !IsRunningProcess(held->process)) return {};
    return ProcessDescription(held->process);
}

void AdjustmentRecord::Release() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!kept_) return;
    const std::string self = ProcessIdentity();
    file_.Update([&](std::optional<std::string>& content) {
        const std::optional<Record> held = Parse(content);
        if (!held || held->process != self) return false;
        content.reset();
        return true;
    });
    kept_ = false;
}

std::optional<std::string> AdjustmentRecord::Abandoned() const {
    std::optional<std::string> content;
    if (!file_.Read(content)) return std::nullopt;
    const std::optional<Record> held = Parse(content);
    if (!IsOfThisBoot(held) || IsRunningProcess(held->process)) return std::nullopt;
    return held->values;
}

void AdjustmentRecord::ForgetAbandoned() {
    file_.Update([&](std::optional<std::string>& content) {
        const std::optional<Record> held = Parse(content);
        if (held && IsOfThisBoot(held) && IsRunningProcess(held->process)) return false;
        content.reset();  // put back, or of an earlier boot
        return true;
    });
}

bool WindowsAdjustmentRecord::Set(std::uint32_t adjustment, bool disabled, const Read& read, const Write& write) {
    std::string startup;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        // While this process's change is not in force the pair is read anew:
        // another run may have changed the clock and put it back since.
        if (!startup_ || !record_.Held()) {
            std::uint32_t current = 0;
            bool currentDisabled = true;
            if (!read(current, currentDisabled)) return false;
            startup_ = PairText(current, currentDisabled);
        }
        startup = *startup_;
    }
    std::uint32_t startupAdjustment = 0;
    bool startupDisabled = true;
    ParsePair(startup, startupAdjustment, startupDisabled);
    // While disabled the adjustment's value does not count.
    const bool backAtStartup = disabled == startupDisabled && (disabled || adjustment == startupAdjustment);
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        problem_.clear();
    }
    if (!backAtStartup && !record_.Keep(startup)) {
        const LastErrorKeeper keeper;
        const std::lock_guard<std::mutex> lock(mutex_);
        problem_ = record_.Problem();
        return false;
    }
    if (!write(adjustment, disabled)) return false;
    if (backAtStartup) record_.Release();
    return true;
}

std::wstring WindowsAdjustmentRecord::Problem() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return problem_;
}

bool WindowsAdjustmentRecord::RestoreAbandoned(const Write& write, std::wstring& restored) {
    const std::optional<std::string> text = record_.Abandoned();
    std::uint32_t adjustment = 0;
    bool disabled = true;
    if (!text || !ParsePair(*text, adjustment, disabled) || !write(adjustment, disabled)) return false;
    record_.ForgetAbandoned();
    restored = L"adjustment " + std::to_wstring(adjustment) + (disabled ? L" (disabled)" : L"");
    return true;
}

}  // namespace kairovel::platform
