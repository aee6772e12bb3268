// The usage text of /?, listing the main switches.
#pragma once

#include <string>

namespace kairovel {

// The whole usage text, as PrintUsage writes it.
std::wstring UsageText();

// Prints the usage text to standard output as one piece of text.
void PrintUsage();

}  // namespace kairovel
