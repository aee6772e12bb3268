// The event log on Linux: one syslog datagram per event, or, in a service
// that systemd runs, one line on its standard error, which systemd connects
// to the journal.
//
// The datagram has the form of RFC 3164 as the C library's syslog() sends it
// to the local socket: "<PRI>Mmm dd hh:mm:ss source[pid]: text", with PRI the
// facility daemon times eight plus the severity of the event type. The text is
// the event's message from the program's message table, without the line
// break the table ends it with (each datagram is one record already). The
// table (win32/messages.mc) holds one message, "%1\r\n": the program's text
// is the event's one insertion string, put in as it is.
//
// The journal learns which unit a datagram comes from by looking the sender
// up when it reads the datagram: the last words of a service that ends at
// once (a start refused) would reach the journal as nobody's. Its stream on
// standard error is the unit's from its start, so a service whose standard
// error is the journal's (JOURNAL_STREAM, unless KAIROVEL_SYSLOG names a
// socket) writes each event there as a line "<severity>text", the form in
// which the journal takes a line's priority.
#include "platform/event_log.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/last_error.h"
#include "platform/posix/errors.h"
#include "platform/posix/handle_table.h"
#include "platform/posix/settings.h"

namespace kairovel::platform {
namespace {

constexpr int kFacilityDaemon = 3;
constexpr int kSeverityError = 3;
constexpr int kSeverityWarning = 4;
constexpr int kSeverityInformational = 6;
// The longest datagram sent: what common system loggers take whole. A longer
// text is cut (at a character boundary) rather than lost.
constexpr std::size_t kMaxDatagramBytes = 8192;

// The message table's one entry; an event without its insertion string shows
// "%1", as the event viewer does.
constexpr std::uint32_t kProgramEventId = 0x60020001;
constexpr std::wstring_view kMissingInsertion = L"%1";

constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

int SeverityOf(std::uint16_t type) {
    switch (type) {
        case EVENTLOG_ERROR_TYPE:
            return kSeverityError;
        case EVENTLOG_WARNING_TYPE:
        case EVENTLOG_AUDIT_FAILURE:
            return kSeverityWarning;
        default:
            return kSeverityInformational;
    }
}

// "Mmm dd hh:mm:ss": the day padded with a blank, in local time.
std::string Timestamp() {
    SYSTEMTIME now;
    Clock().GetLocalTime(now);
    const unsigned month = now.wMonth >= 1 && now.wMonth <= 12 ? now.wMonth - 1u : 0u;
    char text[32];
    std::snprintf(text, sizeof text, "%s %2u %02u:%02u:%02u", kMonthNames[month], static_cast<unsigned>(now.wDay),
                  static_cast<unsigned>(now.wHour), static_cast<unsigned>(now.wMinute),
                  static_cast<unsigned>(now.wSecond));
    return text;
}

std::wstring EventText(std::uint32_t eventId, std::span<const std::wstring_view> strings) {
    std::wstring text;
    if (eventId == kProgramEventId) {
        text = strings.empty() ? kMissingInsertion : strings[0];
    } else {
        // Not in the table: the identifier and the strings, so nothing is lost.
        char id[16];
        std::snprintf(id, sizeof id, "0x%08x", eventId);
        text = L"Event " + AnsiToWide(id) + L":";
        for (const std::wstring_view string : strings) text.append(L" ").append(string);
    }
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) text.pop_back();
    return text;
}

// Cuts UTF-8 text to at most limit bytes without splitting a character.
void CutAtCharacter(std::string& text, std::size_t limit) {
    if (text.size() <= limit) return;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
}

class EventSource {
public:
    EventSource(int socket, std::string ident) : socket_(socket), ident_(std::move(ident)) {}
    ~EventSource() { ::close(socket_); }
    EventSource(const EventSource&) = delete;
    EventSource& operator=(const EventSource&) = delete;

    int socket() const { return socket_; }
    const std::string& ident() const { return ident_; }

private:
    int socket_;
    std::string ident_;
};

bool Fail(std::uint32_t code) {
    SetLastError(code);
    return false;
}

// Whether standard error is the journal's stream, as systemd says in
// JOURNAL_STREAM ("device:inode") when it connects it so.
bool StandardErrorIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    if (stream == nullptr || std::getenv("KAIROVEL_SYSLOG") != nullptr) return false;
    unsigned long long device = 0;
    unsigned long long inode = 0;
    struct stat status {};
    return std::sscanf(stream, "%llu:%llu", &device, &inode) == 2 && ::fstat(STDERR_FILENO, &status) == 0 &&
           status.st_dev == device && status.st_ino == inode;
}

bool WriteLine(int descriptor, std::string line) {
    for (char& c : line) {
        if (c == '\n' || c == '\r') c = ' ';  // one event, one record
    }
    line += '\n';
    std::size_t written = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(descriptor, line.data() + written, line.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return Fail(WindowsErrorFromErrno(errno));
        written += static_cast<std::size_t>(n);
    }
    return true;
}

class SyslogEventLog final : public EventLogFacility {
public:
    HANDLE RegisterEventSourceW(std::wstring_view uncServerName, std::wstring_view sourceName) override {
        if (!uncServerName.empty()) {  // only this machine's log is reachable
            SetLastError(ERROR_NOT_SUPPORTED);
            return nullptr;
        }
        if (sourceName.empty()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        // Non-blocking: a system logger that does not keep up costs the event, never the caller's time.
        const int socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (socket < 0) {
            SetLastError(WindowsErrorFromErrno(errno));
            return nullptr;
        }
        return sources_.Add(std::make_shared<EventSource>(socket, WideToAnsi(sourceName)));
    }

    bool ReportEventW(HANDLE eventLog, std::uint16_t type, std::uint16_t, std::uint32_t eventId, const void*,
                      std::span<const std::wstring_view> strings, std::span<const std::byte>) override {
        const auto source = sources_.Find(eventLog);
        if (!source) return Fail(ERROR_INVALID_HANDLE);
        static const bool toJournal = StandardErrorIsJournal();
        if (toJournal) {
            return WriteLine(STDERR_FILENO,
                             "<" + std::to_string(SeverityOf(type)) + ">" + WideToAnsi(EventText(eventId, strings)));
        }

        // The socket is named anew for every event, so a system logger that
        // was restarted (or started late) is found again.
        const std::string path = SyslogSocketPath().string();
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.empty() || path.size() >= sizeof address.sun_path) return Fail(ERROR_INVALID_PARAMETER);
        std::memcpy(address.sun_path, path.data(), path.size());

        std::string datagram = "<" + std::to_string(kFacilityDaemon * 8 + SeverityOf(type)) + ">" + Timestamp() + " " +
                               source->ident() + "[" + std::to_string(::getpid()) + "]: ";
        datagram += WideToAnsi(EventText(eventId, strings));
        CutAtCharacter(datagram, kMaxDatagramBytes);

        for (;;) {
            const ssize_t sent = ::sendto(source->socket(), datagram.data(), datagram.size(), MSG_NOSIGNAL,
                                          reinterpret_cast<const sockaddr*>(&address), sizeof address);
            if (sent >= 0) return true;
            if (errno != EINTR) return Fail(WindowsErrorFromErrno(errno));
        }
    }

    bool DeregisterEventSource(HANDLE eventLog) override {
        if (!sources_.Remove(eventLog)) return Fail(ERROR_INVALID_HANDLE);
        return true;
    }

private:
    HandleTable<EventSource> sources_;
};

}  // namespace

template <>
EventLogFacility& DefaultFacility<EventLogFacility>() {
    static SyslogEventLog eventLog;
    return eventLog;
}

}  // namespace kairovel::platform
