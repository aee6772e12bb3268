// Where the drift-compensated base adjustment of the clock is kept between runs.
//
// The local clock persists its base adjustment once it has been stable for a
// while and takes it over at the next start when it is still plausible. A
// store is reached only through Persist and Read; the base class itself
// stores nothing and raises "abstract class". The registry store keeps the
// value as text, written with AdjustmentText and read with AdjustmentFromText.
#pragma once

#include <string>

namespace kairovel {

class AdjustmentStore {
public:
    virtual void Persist(double value);
    virtual double Read();

protected:
    AdjustmentStore() = default;
    AdjustmentStore(const AdjustmentStore&) = default;
    AdjustmentStore& operator=(const AdjustmentStore&) = default;
    // Stores are never deleted through this class.
    ~AdjustmentStore() = default;
};

// The value with three decimals ("%.3f"), for example "100144.117".
std::wstring AdjustmentText(double value);
// The number at the start of the text, read as "%lf" reads it; NaN when there
// is none, which no plausibility test passes.
double AdjustmentFromText(const std::wstring& text);

}  // namespace kairovel
