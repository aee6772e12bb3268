#include "timebase/time_span.h"

#include "log/format.h"

namespace kairovel {

std::wstring TimeSpan::Format() const { return kairovel::Format(L"%I64d", milliseconds_); }

}  // namespace kairovel
