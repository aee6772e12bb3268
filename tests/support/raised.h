// The text of the error an operation raises.
#pragma once

#include <string>
#include <utility>

namespace kairovel::testing {

// Runs f and returns the message text it raised, or "<nothing raised>".
template <class F>
std::wstring RaisedText(F&& f) {
    try {
        std::forward<F>(f)();
    } catch (const std::wstring& text) {
        return text;
    }
    return L"<nothing raised>";
}

}  // namespace kairovel::testing
