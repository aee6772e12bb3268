#include "platform/posix/message_table.h"

namespace kairovel::platform {
namespace {

struct MessageEntry {
    std::uint32_t id;
    std::wstring_view text;
};

// Severity informational, customer flag, facility 2, code 1: every message the
// program reports, as its one insertion string followed by a line break.
constexpr MessageEntry kMessageTable[] = {
    {0x60020001, L"%1\r\n"},
};

constexpr std::size_t kMostInsertions = 99;

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

}  // namespace

std::optional<std::wstring> FormatEventMessage(std::uint32_t eventId, std::span<const std::wstring_view> strings) {
    std::wstring_view text;
    for (const MessageEntry& entry : kMessageTable) {
        if (entry.id == eventId) text = entry.text;
    }
    if (text.empty()) return std::nullopt;

    std::wstring out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'%' || i + 1 == text.size()) {
            out.push_back(text[i]);
            continue;
        }
        const wchar_t next = text[++i];
        if (next == L'0') return out;  // ends the message, without a line break
        if (IsDigit(next)) {
            std::size_t number = static_cast<std::size_t>(next - L'0');
            if (i + 1 < text.size() && IsDigit(text[i + 1]) && number * 10 + (text[i + 1] - L'0') <= kMostInsertions) {
                number = number * 10 + static_cast<std::size_t>(text[++i] - L'0');
            }
            // A printf-style "!format!" after the number: strings are put in as they are.
            if (i + 1 < text.size() && text[i + 1] == L'!') {
                const std::size_t close = text.find(L'!', i + 2);
                if (close != std::wstring_view::npos) i = close;
            }
            if (number <= strings.size()) {
                out.append(strings[number - 1]);
            } else {
                out.append(L"%" + std::to_wstring(number));
            }
            continue;
        }
        switch (next) {
            case L'n':
                out.append(L"\r\n");
                break;
            case L'r':
                out.push_back(L'\r');
                break;
            case L't':
                out.push_back(L'\t');
                break;
            case L'b':
                out.push_back(L' ');
                break;
            default:  // %% %. %! and any other character stand for themselves
                out.push_back(next);
                break;
        }
    }
    return out;
}

}  // namespace kairovel::platform
