// Reading what the companion tool kairovel-simclock printed.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <string>

namespace kairovel::testing {

// One figure of `kairovel-simclock show` ("true_error_ms", "disabled", ...):
// NAN, and a test failure, when the output has none.
inline double ShownFigure(const std::string& shown, const std::string& name) {
    std::smatch match;
    if (!std::regex_search(shown, match, std::regex(name + " (-?[0-9.]+)"))) {
        ADD_FAILURE() << "no " << name << " in " << shown;
        return NAN;
    }
    return std::stod(match[1]);
}

}  // namespace kairovel::testing
