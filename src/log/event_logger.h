// The event log device: each message becomes one event of the program's
// event source, with the event type of its level.
#pragma once

#include <cstdint>
#include <string>

#include "log/logger.h"
#include "platform/win_types.h"

namespace kairovel {

class EventLogger final : public Logger {
public:
    // The identifier of every event the program reports: severity
    // informational, customer flag, facility 2, code 1. Its message-table
    // text is "%1\r\n": the message itself and a line break.
    static constexpr std::uint32_t kMessageEventId = 0x60020001;

    // Registers sourceName as an event source; when that fails, the device drops every message.
    EventLogger(const std::wstring& sourceName, std::uint32_t eventId);
    ~EventLogger() override;

    void Write(LogLevel level, const std::wstring& message) override;

private:
    platform::HANDLE source_ = nullptr;
    const std::uint32_t eventId_;
};

// The event type a message of this level is reported with: error for 0,
// warning for 1, information for 2 and 3.
std::uint16_t EventTypeOf(LogLevel level);

}  // namespace kairovel
