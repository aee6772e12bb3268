// The base of the remote time clients.
//
// A client lives for one attempt: it is built from the source's name, asked
// once through GetTime (one complete exchange with the source), its delay read,
// and destroyed, after a failed GetTime too.
#pragma once

#include <string>

#include "sources/time_provider.h"
#include "timebase/stopwatch.h"
#include "timebase/time_span.h"

namespace kairovel {

class TimeSource : public TimeProvider {
public:
    // The round trip of the last exchange, in whole milliseconds, never negative.
    const TimeSpan& GetDelay() const { return delay_; }
    // The source that answered, as far as the client knows it.
    const std::wstring& GetPeerName() const { return peerName_; }

protected:
    TimeSource() = default;

    // Sets the delay to the stopwatch's time, rounded to whole milliseconds.
    void SetDelay(const Stopwatch& exchange);
    void SetDelayMilliseconds(std::int64_t milliseconds) { delay_.Set(milliseconds); }
    void SetPeerName(std::wstring name) { peerName_ = std::move(name); }

private:
    TimeSpan delay_;
    std::wstring peerName_;
};

}  // namespace kairovel
