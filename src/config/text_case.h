// Comparing the program's words without regard to case.
//
// Switch keywords, their values ("yes", "debug"), the device words ("Console",
// "EventLog") and the control operations are all plain ASCII words, compared
// as Windows' C library compares them in its default locale: only A to Z and
// a to z are folded.
#pragma once

#include <string_view>

namespace kairovel {

constexpr wchar_t AsciiUpper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

constexpr bool StartsWithIgnoringCase(std::wstring_view text, std::wstring_view word) {
    if (text.size() < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (AsciiUpper(text[i]) != AsciiUpper(word[i])) return false;
    }
    return true;
}

constexpr bool EqualsIgnoringCase(std::wstring_view text, std::wstring_view word) {
    return text.size() == word.size() && StartsWithIgnoringCase(text, word);
}

}  // namespace kairovel
