#include "config/argument_source.h"

#include "config/text_case.h"
#include "platform/codepage.h"

namespace kairovel {
namespace {

constexpr std::wstring_view kPrefixes = L"/-";
constexpr std::wstring_view kSeparators = L":=";
constexpr wchar_t kComment = L'#';
constexpr std::wstring_view kLineWhiteSpace = L" \t\r\n\v\f";

bool IsWordSeparator(wchar_t c) { return c == L' ' || c == L'\t'; }

// One line of a parameter file, up to its end of line. Lines end at a line
// feed, a carriage return or both together, so files written on any system
// read alike. A line longer than kMaxLineBytes gives its first kMaxLineBytes
// bytes and sets tooLong; reading stops there.
struct FileLine {
    std::string bytes;
    bool tooLong = false;
};

bool ReadFileLine(std::istream& stream, FileLine& line) {
    line = FileLine{};
    bool sawAnything = false;
    for (;;) {
        const std::istream::int_type next = stream.get();
        if (next == std::istream::traits_type::eof()) return sawAnything;
        sawAnything = true;
        const char c = std::istream::traits_type::to_char_type(next);
        if (c == '\n') return true;
        if (c == '\r') {
            if (stream.peek() == '\n') stream.get();
            return true;
        }
        if (line.bytes.size() == ArgumentSource::kMaxLineBytes) {
            line.tooLong = true;
            return true;
        }
        line.bytes.push_back(c);
    }
}

}  // namespace

ArgumentSource ArgumentSource::FromCommandLine(std::wstring_view commandLine) {
    ArgumentSource source;
    source.entries_.clear();
    std::size_t at = 0;
    // A program path in quotation marks (one with blanks in it) is one word,
    // as the system itself reads it; the arguments after it follow the plain rule.
    if (!commandLine.empty() && commandLine[0] == L'"') {
        const std::size_t closing = commandLine.find(L'"', 1);
        const std::size_t end = closing == std::wstring_view::npos ? commandLine.size() : closing;
        source.entries_.emplace_back(commandLine.substr(1, end - 1));
        at = end == commandLine.size() ? end : end + 1;
        while (at < commandLine.size() && IsWordSeparator(commandLine[at])) ++at;
        if (at == commandLine.size()) return source;
    }
    do {
        std::size_t end = at;
        while (end < commandLine.size() && !IsWordSeparator(commandLine[end])) ++end;
        source.entries_.emplace_back(commandLine.substr(at, end - at));
        at = end;
        while (at < commandLine.size() && IsWordSeparator(commandLine[at])) ++at;
    } while (at < commandLine.size());
    return source;
}

ArgumentSource ArgumentSource::FromArray(std::uint32_t count, const wchar_t* const* texts) {
    ArgumentSource source;
    source.entries_.clear();
    for (std::uint32_t i = 0; i < count; ++i) source.entries_.emplace_back(texts[i] != nullptr ? texts[i] : L"");
    if (source.entries_.empty()) source.entries_.emplace_back();
    return source;
}

ArgumentSource ArgumentSource::FromStream(std::istream& stream) {
    ArgumentSource source;
    FileLine line;
    while (ReadFileLine(stream, line)) {
        if (!source.AddLine(platform::AnsiToWide(line.bytes))) break;
        if (line.tooLong) break;
    }
    return source;
}

ArgumentSource ArgumentSource::FromText(std::wstring_view body) {
    ArgumentSource source;
    while (!body.empty()) {
        const std::size_t end = body.find_first_of(L"\r\n");
        const std::wstring_view line = body.substr(0, end);
        body = end == std::wstring_view::npos ? std::wstring_view() : body.substr(end + 1);
        if (!source.AddLine(std::wstring(line))) break;
    }
    return source;
}

bool ArgumentSource::AddLine(std::wstring line) {
    // A NUL ends the text of a line, as it ends a C string: what follows it is not read.
    line = line.substr(0, line.find(L'\0'));
    line = line.substr(0, line.find(kComment));
    const std::size_t first = line.find_first_not_of(kLineWhiteSpace);
    if (first == std::wstring::npos) return true;
    const std::size_t last = line.find_last_not_of(kLineWhiteSpace);
    if (entries_.size() >= kMaxEntries) return false;
    entries_.push_back(line.substr(first, last - first + 1));
    return true;
}

bool ArgumentSource::HasPrefix() const {
    const std::wstring& argument = CurrentArgument();
    return !argument.empty() && kPrefixes.find(argument[0]) != std::wstring_view::npos;
}

bool ArgumentSource::MatchesKeyword(std::wstring_view keyword) const {
    const std::wstring& argument = CurrentArgument();
    if (argument.empty()) return false;
    return StartsWithIgnoringCase(std::wstring_view(argument).substr(1), keyword);
}

bool ArgumentSource::HasValue() const {
    const std::size_t separator = CurrentArgument().find_first_of(kSeparators);
    return separator != std::wstring::npos && separator > 0;
}

std::wstring ArgumentSource::ArgumentValue() const {
    const std::wstring& argument = CurrentArgument();
    const std::size_t separator = argument.find_first_of(kSeparators);
    return separator == std::wstring::npos ? std::wstring() : argument.substr(separator + 1);
}

}  // namespace kairovel
