#include "config/keyword_parser.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <string>

#include "config/argument_drivers.h"
#include "config/source_kind.h"
#include "config/text_case.h"
#include "log/logger.h"
#include "platform/codepage.h"

namespace kairovel {
namespace {

// Characters of a number that max_network_delay and max_deviation look at.
constexpr std::size_t kMaxNumberCharacters = 19;

template <class Char>
bool IsCWhiteSpace(Char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

enum class Scan { Number, NotANumber, EndOfText };

// Reads a decimal number at text[at] as C's %d and atol do: white space
// skipped, an optional sign, the digits up to the first other character. A
// number beyond the 32-bit range stops at the range's end, as a 32-bit long does.
template <class Char>
Scan ScanDecimal(std::basic_string_view<Char> text, std::size_t& at, std::int32_t& value) {
    while (at < text.size() && IsCWhiteSpace(text[at])) ++at;
    if (at == text.size()) return Scan::EndOfText;
    std::size_t i = at;
    const bool negative = text[i] == '-';
    if (text[i] == '+' || text[i] == '-') ++i;
    const std::size_t firstDigit = i;
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = std::min<std::int64_t>(magnitude * 10 + (text[i] - '0'), kLimit);
    }
    if (i == firstDigit) return Scan::NotANumber;
    at = i;
    const std::int64_t signedValue = negative ? -magnitude : std::min<std::int64_t>(magnitude, kLimit - 1);
    value = static_cast<std::int32_t>(signedValue);
    return Scan::Number;
}

// Adding a source of a kind (the first keywords).
void AddSource(const ArgumentSource& source, const SourceKindEntry& kind) {
    Configuration& configuration = TheConfiguration();
    if (configuration.NumberOfTimeSources >= Configuration::kMaxSources) {
        RaiseError(L"Too many time sources in command line");
    }
    std::wstring name = source.HasValue() ? source.ArgumentValue() : std::wstring();
    if (name.empty() && !kind.nameRequired.empty()) RaiseError(L"%s", std::wstring(kind.nameRequired));
    if (kind.namedWithBackslashes) {
        // An NT machine is named with two leading backslashes, however many of them were given.
        if (name.empty() || name[0] != L'\\') name.insert(0, 1, L'\\');
        if (name.size() < 2 || name[1] != L'\\') name.insert(0, 1, L'\\');
    }
    configuration.SourceName[configuration.NumberOfTimeSources] = std::wstring(kind.prefix) + name;
    ++configuration.NumberOfTimeSources;
}

void ParsePeriod(const ArgumentSource& source) {
    if (!source.HasValue()) return;
    StartTime fields{0, 0, 0};
    ParseTimeTriple(source.ArgumentValue(), fields);
    constexpr std::uint32_t kSecondsPerMinute = 60;
    constexpr std::uint32_t kMinutesPerHour = 60;
    const std::uint32_t seconds =
        (std::uint32_t{fields.hours} * kMinutesPerHour + fields.minutes) * kSecondsPerMinute + fields.seconds;
    TheConfiguration().Period = seconds < Configuration::MinimumPeriod ? Configuration::MinimumPeriod : seconds;
}

void ParseAt(const ArgumentSource& source) {
    if (!source.HasValue()) return;
    const std::wstring value = source.ArgumentValue();
    StartTime& at = TheConfiguration().AtTime;
    if (!value.empty() && value[0] == L'+') {
        ParseTimeTriple(std::wstring_view(value).substr(1), at);
        at.hours = static_cast<std::uint16_t>(at.hours + StartTime::kDelayHours);
    } else {
        ParseTimeTriple(value, at);
    }
}

void ParseAdjust(const ArgumentSource& source) {
    const std::wstring value = source.HasValue() ? source.ArgumentValue() : std::wstring();
    std::uint32_t& adjust = TheConfiguration().TimeAdjust;
    if (value.empty()) {
        adjust = 1;
    } else if (EqualsIgnoringCase(value, L"FALSE") || EqualsIgnoringCase(value, L"NO")) {
        adjust = 0;
    } else if (EqualsIgnoringCase(value, L"TRUE") || EqualsIgnoringCase(value, L"YES")) {
        adjust = 1;
    } else {
        RaiseError(L"Illegal switch %s in adjust argument; permitted ones are true, false, yes and no.", value);
    }
}

void ParseTrace(const ArgumentSource& source) {
    std::int32_t& trace = TheConfiguration().Trace;
    if (!source.HasValue()) {
        trace = LevelTrace;
        return;
    }
    const std::wstring value = source.ArgumentValue();
    if (EqualsIgnoringCase(value, L"DEBUG")) {
        trace = LevelTrace;
    } else if (EqualsIgnoringCase(value, L"SUCCESS")) {
        trace = LevelOk;
    } else if (EqualsIgnoringCase(value, L"ERROR")) {
        trace = LevelError;
    } else {
        RaiseError(L"Illegal level %s in trace argument; permitted levels are debug, success and error.", value);
    }
}

// max_network_delay and max_deviation: a leading number, never an error.
void ParseMilliseconds(const ArgumentSource& source, std::uint32_t& field) {
    if (!source.HasValue()) return;
    const std::string narrow = platform::WideToAnsi(source.ArgumentValue()).substr(0, kMaxNumberCharacters);
    std::size_t at = 0;
    std::int32_t value = 0;
    if (ScanDecimal(std::string_view(narrow), at, value) != Scan::Number) value = 0;
    field = static_cast<std::uint32_t>(value);
}

void ParseSelect(const ArgumentSource& source) {
    if (!source.HasValue()) {
        RaiseError(L"Argument %s in command line must be followed by #sources and #periods.",
                   source.CurrentArgument());
    }
    Configuration& configuration = TheConfiguration();
    const std::wstring value = source.ArgumentValue();
    const std::wstring_view text(value);
    std::size_t at = 0;
    std::int32_t number = 0;
    wchar_t restricted = L' ';
    const Scan first = ScanDecimal(text, at, number);
    if (first == Scan::NotANumber) {
        RaiseError(L"Argument %s in command line must be followed by numbers for #sources and #periods",
                   source.CurrentArgument());
    }
    if (first == Scan::Number) {
        configuration.MaxTimeSources = static_cast<std::uint32_t>(number);
        if (at < text.size() && text[at] == L',') {
            ++at;
            if (ScanDecimal(text, at, number) == Scan::Number) {
                configuration.SelectionPeriod = static_cast<std::uint32_t>(number);
                if (at + 1 < text.size() && text[at] == L',') restricted = text[at + 1];
            }
        }
    }
    configuration.RestrictedScanIsEnabled = restricted == L'R' || restricted == L'r' ? 1 : 0;
}

void ParseFile(const ArgumentSource& source) {
    const std::wstring value = source.HasValue() ? source.ArgumentValue() : std::wstring();
    if (value.empty()) RaiseError(L"Filename expected with /%s", L"file");
    Configuration& configuration = TheConfiguration();
    if (configuration.ConfigurationFile.empty()) configuration.ConfigurationFile = ParameterFileFullPath(value);
    IncludeFile(value);
}

void ParseUrl(const ArgumentSource& source) {
    const std::wstring value = source.HasValue() ? source.ArgumentValue() : std::wstring();
    if (value.empty()) RaiseError(L"URL expected with /%s", L"url");
    Configuration& configuration = TheConfiguration();
    if (configuration.ConfigurationFile.empty()) configuration.ConfigurationFile = L"*" + value;
    IncludeUrl(value);
}

void SetFlag(std::uint32_t Configuration::*flag) { TheConfiguration().*flag = 1; }

struct Keyword {
    const wchar_t* word;
    void (*apply)(const ArgumentSource&);
};

// Tested in this order, after the source kinds' keywords; the first keyword
// the argument begins with acts.
constexpr std::array<Keyword, 16> kKeywords{{
    {L"period", ParsePeriod},
    {L"at", ParseAt},
    {L"log",
     [](const ArgumentSource& s) {
         if (s.HasValue()) TheConfiguration().LogDevice = s.ArgumentValue();
     }},
    {L"immediate", [](const ArgumentSource&) { SetFlag(&Configuration::ImmediateFlag); }},
    {L"adjust", ParseAdjust},
    {L"install", [](const ArgumentSource&) { SetFlag(&Configuration::InstallFlag); }},
    {L"remove", [](const ArgumentSource&) { SetFlag(&Configuration::RemoveFlag); }},
    {L"status", [](const ArgumentSource&) { SetFlag(&Configuration::StatusFlag); }},
    {L"?", [](const ArgumentSource&) { SetFlag(&Configuration::HelpFlag); }},
    {L"control",
     [](const ArgumentSource& s) {
         SetFlag(&Configuration::ControlFlag);
         TheConfiguration().ControlOperation = s.HasValue() ? s.ArgumentValue() : std::wstring();
     }},
    {L"file", ParseFile},
    {L"url", ParseUrl},
    {L"trace", ParseTrace},
    {L"max_network_delay", [](const ArgumentSource& s) { ParseMilliseconds(s, TheConfiguration().MaxNetworkDelay); }},
    {L"max_deviation", [](const ArgumentSource& s) { ParseMilliseconds(s, TheConfiguration().MaxTimeDeviation); }},
    {L"select", ParseSelect},
}};

}  // namespace

void ParseTimeTriple(std::wstring_view text, StartTime& fields) {
    std::uint16_t* const targets[] = {&fields.hours, &fields.minutes, &fields.seconds};
    std::size_t at = 0;
    for (std::size_t i = 0; i < std::size(targets); ++i) {
        if (i > 0) {
            if (at >= text.size() || text[at] != L':') return;
            ++at;
        }
        std::int32_t number = 0;
        const Scan scan = ScanDecimal(text, at, number);
        if (scan == Scan::NotANumber && i == 0) RaiseError(L"illegal period (%s) specified\n", text);
        if (scan != Scan::Number) return;
        *targets[i] = static_cast<std::uint16_t>(number);  // the low 16 bits
    }
}

void ParseArgument(const ArgumentSource& source) {
    if (!source.HasPrefix()) {
        RaiseError(L"Argument %s in command line does not start with / or -", source.CurrentArgument());
    }
    for (const SourceKindEntry& kind : kSourceKinds) {
        if (source.MatchesKeyword(kind.keyword)) {
            AddSource(source, kind);
            return;
        }
    }
    for (const Keyword& keyword : kKeywords) {
        if (source.MatchesKeyword(keyword.word)) {
            keyword.apply(source);
            return;
        }
    }
    RaiseError(L"Illegal argument %s in command line", source.CurrentArgument());
}

}  // namespace kairovel
