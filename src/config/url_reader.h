// Reading a parameter URL: its body as text, or the message that says why
// it cannot be had.
//
// The body is fetched whole within the limits of a parameter URL, which is
// a few kilobytes from a server that answers at once. An HTTP answer outside
// 200..299 is an error page, never switches: it is refused with its status.
#pragma once

#include <string>

namespace kairovel {

// The body of url in wide text; raises the error message when it cannot be read.
std::wstring ReadParameterUrl(const std::wstring& url);

}  // namespace kairovel
