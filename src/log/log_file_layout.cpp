#include "log/log_file_layout.h"

#include <limits>

#include "log/format.h"
#include "platform/codepage.h"

namespace kairovel::log_file {
namespace {

constexpr std::string_view kHeaderFormat = "Log file; last written at %d max size %d";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

void SkipBlanks(std::string_view text, std::size_t& at) {
    while (at < text.size() && IsBlank(text[at])) ++at;
}

// scanf's %d: blanks, an optional sign, at least one digit; false if there is
// no number there or it does not fit in 32 signed bits.
bool ReadNumber(std::string_view text, std::size_t& at, std::int32_t& value) {
    SkipBlanks(text, at);
    std::size_t i = at;
    const bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    if (i >= text.size() || !IsDigit(text[i])) return false;
    std::int64_t magnitude = 0;
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > kLimit) return false;
    }
    const std::int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > std::numeric_limits<std::int32_t>::max()) return false;
    value = static_cast<std::int32_t>(signedValue);
    at = i;
    return true;
}

// A piece of text as the file holds it: the narrow text and its NUL. A NUL
// inside the text would end the piece early for every reader, so the piece
// ends there.
void AppendPiece(std::string& out, std::wstring_view text) {
    const std::size_t nul = text.find(L'\0');
    if (nul != std::wstring_view::npos) text = text.substr(0, nul);
    out += platform::WideToAnsi(text);
    out.push_back('\0');
}

}  // namespace

std::string HeaderBytes(std::uint32_t position, std::uint32_t maxSize) {
    // The numbers as the header's %d shows them; sizes above 2 GB never reach here.
    const std::wstring text = Format(L"Log file; last written at %d max size %d", static_cast<std::int32_t>(position),
                                     static_cast<std::int32_t>(maxSize));
    std::string header = platform::WideToAnsi(text);
    header.resize(kHeaderTextCharacters, ' ');
    header += "\r\n";
    header.push_back('\0');
    return header;
}

StoredHeader ParseHeader(std::string_view bytes) {
    StoredHeader stored;
    std::size_t at = 0;
    for (std::size_t f = 0; f < kHeaderFormat.size(); ++f) {
        const char expected = kHeaderFormat[f];
        if (expected == '%') {
            std::int32_t& target = stored.numbersRead == 0 ? stored.position : stored.maxSize;
            if (!ReadNumber(bytes, at, target)) break;
            ++stored.numbersRead;
            ++f;  // past the 'd'
        } else if (IsBlank(expected)) {
            SkipBlanks(bytes, at);  // a blank of the format takes any run of blanks, or none
        } else if (at < bytes.size() && bytes[at] == expected) {
            ++at;
        } else {
            break;
        }
    }
    return stored;
}

std::string LineBytes(const platform::SYSTEMTIME& localTime, LogLevel level, std::wstring_view message) {
    std::string line;
    line.reserve(40 + message.size());
    // "%Y/%m/%d %H:%M:%S ", 20 characters ending in a blank.
    AppendPiece(line, Format(L"%04u/%02u/%02u %02u:%02u:%02u ", localTime.wYear, localTime.wMonth, localTime.wDay,
                             localTime.wHour, localTime.wMinute, localTime.wSecond));
    AppendPiece(line, LevelWord(level));
    AppendPiece(line, L" ");
    AppendPiece(line, message);
    AppendPiece(line, L"\r\n");
    return line;
}

std::string EndMarkerBytes() {
    std::string marker;
    AppendPiece(marker, L"--end--");
    AppendPiece(marker, L"\r\n");
    return marker;
}

}  // namespace kairovel::log_file
