#include "clock/registry_adjustment_store.h"

#include <string>

#include "config/registry_store.h"
#include "log/logger.h"

namespace kairovel {

void RegistryAdjustmentStore::Persist(double value) {
    WriteStringValue(kValueName, AdjustmentText(value));
    Log(CurrentLogger(), LevelTrace, L"Persisting adjustment value of %.3f.", value);
}

double RegistryAdjustmentStore::Read() {
    std::wstring text;
    ReadStringValue(kValueName, text);
    // A text that is no number gives NaN, which the local clock's plausibility test refuses.
    const double value = AdjustmentFromText(text);
    Log(CurrentLogger(), LevelTrace, L"Read previously persisted adjustment value of %.3f.", value);
    return value;
}

RegistryAdjustmentStore& TheRegistryAdjustmentStore() {
    static RegistryAdjustmentStore store;
    return store;
}

}  // namespace kairovel
