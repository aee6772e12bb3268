// The event log on Windows: events go to the system's event log, whose viewer
// formats them with the message table built into the executable
// (win32/messages.mc).
#include <windows.h>

#include <string>
#include <vector>

#include "platform/interface/event_log.h"

namespace kairovel::platform {
namespace {

class WindowsEventLog final : public EventLogFacility {
public:
    HANDLE RegisterEventSourceW(std::wstring_view uncServerName, std::wstring_view sourceName) override {
        const std::wstring server(uncServerName);
        const std::wstring source(sourceName);
        return ::RegisterEventSourceW(server.empty() ? nullptr : server.c_str(), source.c_str());
    }

    bool ReportEventW(HANDLE eventLog, std::uint16_t type, std::uint16_t category, std::uint32_t eventId,
                      const void* userSid, std::span<const std::wstring_view> strings,
                      std::span<const std::byte> rawData) override {
        // The system takes null-terminated strings.
        const std::vector<std::wstring> owned(strings.begin(), strings.end());
        std::vector<const wchar_t*> pointers;
        for (const std::wstring& text : owned) pointers.push_back(text.c_str());
        return ::ReportEventW(eventLog, type, category, eventId, const_cast<PSID>(userSid),
                              static_cast<WORD>(pointers.size()), static_cast<DWORD>(rawData.size()),
                              pointers.empty() ? nullptr : pointers.data(),
                              rawData.empty() ? nullptr : const_cast<std::byte*>(rawData.data())) != FALSE;
    }

    bool DeregisterEventSource(HANDLE eventLog) override { return ::DeregisterEventSource(eventLog) != FALSE; }
};

}  // namespace

template <>
EventLogFacility& DefaultFacility<EventLogFacility>() {
    static WindowsEventLog log;
    return log;
}

}  // namespace kairovel::platform
