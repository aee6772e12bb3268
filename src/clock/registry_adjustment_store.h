// The base adjustment kept in the registry between runs of the service.
//
// The value is the text "LastAdjustmentValue" under the service's parameter
// key, written with three decimals and read back as the number it starts with.
// The registry's own errors (a missing key or value, say) are raised unchanged.
#pragma once

#include "clock/adjustment_store.h"

namespace kairovel {

class RegistryAdjustmentStore final : public AdjustmentStore {
public:
    static constexpr wchar_t kValueName[] = L"LastAdjustmentValue";

    void Persist(double value) override;
    double Read() override;
};

// The process's one store.
RegistryAdjustmentStore& TheRegistryAdjustmentStore();

}  // namespace kairovel
