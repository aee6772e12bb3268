// Windows Sockets on BSD sockets (winsock.cpp): the process's default, and
// further instances for tests that cannot wait the whole connect time-out.
#pragma once

#include <chrono>
#include <memory>

#include "platform/winsock.h"

namespace kairovel::platform {

// How long Windows waits for a SYN to be answered (three tries) before a connect fails.
inline constexpr std::chrono::milliseconds kWindowsConnectTimeout{21'000};

// An instance of its own (its own start-up count) whose connect gives up after connectTimeout.
std::unique_ptr<WinsockFacility> MakeBsdWinsock(std::chrono::milliseconds connectTimeout);

}  // namespace kairovel::platform
