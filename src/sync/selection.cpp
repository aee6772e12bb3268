#include "sync/selection.h"

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "log/logger.h"

namespace kairovel {
namespace {

std::wstring DelayText(std::uint32_t delay) {
    return delay == kSilentDelay ? std::wstring(L"-unknown-") : Format(L"%u", delay);
}

// Orders the records in use by delay, keeping the table order of equal ones, and logs the new order.
void SortByDelay(ActiveSourceTable& table, std::uint32_t keep) {
    const ActiveSourceTable copy = table;
    std::vector<std::uint32_t> order(table.count);
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(),
                     [&copy](std::uint32_t a, std::uint32_t b) { return CompareByDelay(copy, a, b); });
    Log(CurrentLogger(), LevelTrace, L"The top %u of following machines will be selected. Sort based on %s.", keep,
        L"network delay");
    for (std::uint32_t k = 0; k < table.count; ++k) {
        SourceResult& record = table.records[k];
        record = copy.records[order[k]];
        Log(CurrentLogger(), LevelTrace, L"Source [%u] = %s with delay of %s msecs; deviation of %I64d msecs.", k,
            record.descriptor, DelayText(record.delay), record.deviation);
    }
}

// The records that replied, counted from the head of the table up to the first silent one.
std::uint32_t LeadingReplies(const ActiveSourceTable& table) {
    std::uint32_t n = 0;
    while (n < table.count && table.records[n].Replied()) ++n;
    return n;
}

}  // namespace

std::uint32_t& SelectionCountdown() {
    static std::uint32_t countdown = 0;
    return countdown;
}

bool CompareByDelay(const ActiveSourceTable& table, std::uint32_t a, std::uint32_t b) {
    return table.records[a].delay < table.records[b].delay;
}

void SelectSources() {
    const Configuration& configuration = TheConfiguration();
    ActiveSourceTable& table = ActiveSources();
    std::uint32_t& countdown = SelectionCountdown();
    const std::uint32_t keep = configuration.MaxTimeSources;

    if (countdown > 0) {
        --countdown;
    } else {
        SortByDelay(table, keep);
        countdown = configuration.SelectionPeriod > 0 ? configuration.SelectionPeriod - 1 : 0;
    }

    // The selection holds when the last source it keeps replied.
    if (keep >= 1 && keep <= table.count && table.records[keep - 1].Replied()) {
        table.count = keep;
        return;
    }
    countdown = 0;
    table.count = LeadingReplies(table);
    Log(CurrentLogger(), LevelError,
        L"Only %u time sources provided valid replies; selection will done during next period.", table.count);
}

}  // namespace kairovel
