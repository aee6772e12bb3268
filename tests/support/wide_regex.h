// A matcher of wide texts (the program's messages) against a regular expression.
#pragma once

#include <gmock/gmock.h>

#include <regex>
#include <string>

namespace kairovel::testing {

MATCHER_P(WideMatchesRegex, pattern, std::string("matches ") + pattern) {
    const std::string narrow(pattern);
    return std::regex_match(arg, std::wregex(std::wstring(narrow.begin(), narrow.end())));
}

}  // namespace kairovel::testing
