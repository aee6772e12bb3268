// Comparing the Windows API's own names without regard to case.
//
// The names the stand-ins compare this way (the privilege name, the service
// database, the library file name, URL schemes, the keywords of the account
// file) are ASCII words, so only A to Z and a to z fold, whatever the locale.
#pragma once

#include <algorithm>
#include <string_view>

namespace kairovel::platform {
namespace ascii_case {

template <class Char>
constexpr bool Equal(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
    const auto lower = [](Char c) { return c >= Char{'A'} && c <= Char{'Z'} ? static_cast<Char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](Char x, Char y) { return lower(x) == lower(y); });
}

}  // namespace ascii_case

constexpr bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) { return ascii_case::Equal(a, b); }
constexpr bool EqualsIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) { return ascii_case::Equal(a, b); }

}  // namespace kairovel::platform
