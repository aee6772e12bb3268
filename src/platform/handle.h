// Opaque handles of the Windows API (SC_HANDLE, SC_LOCK, ...).
//
// A handle is a number that means something only to the facility that issued
// it. Each kind of handle is its own type, so a service lock can never be
// passed where a service handle is expected; the null handle is the default.
#pragma once

#include <cstdint>

namespace kairovel::platform {

template <class Kind>
class Handle {
public:
    constexpr Handle() = default;
    constexpr explicit Handle(std::uintptr_t value) : value_(value) {}

    constexpr std::uintptr_t value() const { return value_; }
    constexpr explicit operator bool() const { return value_ != 0; }
    friend constexpr bool operator==(Handle, Handle) = default;

private:
    std::uintptr_t value_ = 0;
};

}  // namespace kairovel::platform
