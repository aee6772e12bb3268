#include "clock/adjustment_store.h"

#include <cwchar>
#include <limits>

#include "log/logger.h"

namespace kairovel {

void AdjustmentStore::Persist(double) { RaiseError(L"abstract class"); }

double AdjustmentStore::Read() { RaiseError(L"abstract class"); }

std::wstring AdjustmentText(double value) { return Format(L"%.3f", value); }

double AdjustmentFromText(const std::wstring& text) {
    double value = 0.0;
    if (std::swscanf(text.c_str(), L"%lf", &value) != 1) return std::numeric_limits<double>::quiet_NaN();
    return value;
}

}  // namespace kairovel
