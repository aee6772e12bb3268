// The keyword parser: one argument at a time into the Configuration.
//
// Every argument, wherever it came from, is "/" or "-", a keyword (a prefix
// match, without regard to case) and optionally ":" or "=" and a value. The
// 21 keywords are tested in a fixed order and the first that matches acts. A
// bad argument raises its message, which ends the parse of every list in
// progress; the fields changed by earlier arguments keep their values.
#pragma once

#include <string_view>

#include "config/argument_source.h"
#include "config/configuration.h"

namespace kairovel {

// Applies the argument at the cursor of source to TheConfiguration().
void ParseArgument(const ArgumentSource& source);

// Reads up to three decimal numbers separated by ":" into hours, minutes and
// seconds, each keeping the low 16 bits of its number. Fields the text has no
// number for keep their values. Raises "illegal period (%s) specified\n" when
// the text is not empty but not even its first number can be read.
void ParseTimeTriple(std::wstring_view text, StartTime& fields);

}  // namespace kairovel
