// The calling thread's last error code, as GetLastError / SetLastError keep it.
//
// Every platform call that fails leaves its Windows error code here, so the
// program's messages can carry the code exactly as they would on Windows.
#pragma once

#include <cstdint>

namespace kairovel::platform {

std::uint32_t GetLastError();
void SetLastError(std::uint32_t code);

// Puts the thread's last error back as it was when the scope began. The calls
// that cannot fail (reading the clock, the performance counter) leave the last
// error alone on Windows, so a caller may read the clock between a failed call
// and its GetLastError; a stand-in that makes failing calls of its own inside
// such a call holds one of these.
class LastErrorKeeper {
public:
    LastErrorKeeper() : kept_(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(kept_); }
    LastErrorKeeper(const LastErrorKeeper&) = delete;
    LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

private:
    std::uint32_t kept_;
};

}  // namespace kairovel::platform
