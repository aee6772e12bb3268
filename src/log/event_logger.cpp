#include "log/event_logger.h"

#include <string_view>

#include "platform/event_log.h"

namespace kairovel {

std::uint16_t EventTypeOf(LogLevel level) {
    switch (level) {
        case LevelError:
            return platform::EVENTLOG_ERROR_TYPE;
        case LevelInfo:
            return platform::EVENTLOG_WARNING_TYPE;
        default:
            return platform::EVENTLOG_INFORMATION_TYPE;
    }
}

EventLogger::EventLogger(const std::wstring& sourceName, std::uint32_t eventId)
    : source_(platform::EventLog().RegisterEventSourceW(L"", sourceName)), eventId_(eventId) {}

EventLogger::~EventLogger() {
    if (source_ != nullptr) platform::EventLog().DeregisterEventSource(source_);
}

void EventLogger::Write(LogLevel level, const std::wstring& message) {
    if (source_ == nullptr) return;
    // The message is the one insertion string; a report the event log refuses is dropped.
    const std::wstring_view strings[] = {message};
    platform::EventLog().ReportEventW(source_, EventTypeOf(level), 0, eventId_, nullptr, strings, {});
}

}  // namespace kairovel
