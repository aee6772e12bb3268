// Process-wide instances of the platform facilities.
//
// Each facility of the platform layer (clock, console, parameter store, sockets, ...)
// is a small interface. The process uses one instance of each: the backend's
// default, built on first use, or a replacement that a test installs for its
// own scope with ScopedFacility. Replacements are installed while no other
// thread of the program runs, so the pointer swap needs no lock; it is still
// atomic so that threads started later see it.
#pragma once

#include <atomic>

namespace kairovel::platform {

// Defined by the active backend for every facility interface it provides.
template <class Interface>
Interface& DefaultFacility();

template <class Interface>
class Facility {
public:
    static Interface& Get() {
        Interface* replacement = replacement_.load(std::memory_order_acquire);
        return replacement != nullptr ? *replacement : DefaultFacility<Interface>();
    }

private:
    template <class>
    friend class ScopedFacility;
    static inline std::atomic<Interface*> replacement_{nullptr};
};

// Replaces a facility for the lifetime of this object, then puts back what was there.
template <class Interface>
class ScopedFacility {
public:
    explicit ScopedFacility(Interface& replacement)
        : previous_(Facility<Interface>::replacement_.exchange(&replacement)) {}
    ~ScopedFacility() { Facility<Interface>::replacement_.store(previous_); }
    ScopedFacility(const ScopedFacility&) = delete;
    ScopedFacility& operator=(const ScopedFacility&) = delete;

private:
    Interface* previous_;
};

}  // namespace kairovel::platform
