// The process's standard output and standard error streams.
//
// The program prints wide text; the console facility writes it in the narrow
// code page. Each call is one piece of text written whole, so the lines of two
// threads never mix.
#pragma once

#include <string_view>

#include "platform/facility.h"

namespace kairovel::platform {

class ConsoleFacility {
public:
    virtual ~ConsoleFacility() = default;
    virtual void WriteStandardOutput(std::wstring_view text) = 0;
    virtual void WriteStandardError(std::wstring_view text) = 0;
    // Gives a process without a console (a service) one of its own, for its
    // standard output. On Linux a process's console is its standard output
    // and error, and the service manager stand-in connects those of an
    // interactive service to the service's console file, so there is nothing
    // more to make.
    virtual bool AllocConsole() { return true; }
};

template <>
ConsoleFacility& DefaultFacility<ConsoleFacility>();

inline ConsoleFacility& Console() { return Facility<ConsoleFacility>::Get(); }

}  // namespace kairovel::platform
