// The real registry of the local machine, for the Windows tests that look
// into what the facilities left there or clean up after themselves; this
// header keeps windows.h out of the tests that include the facilities' own.
#pragma once

#include <cstdint>
#include <string>

namespace kairovel::testing {

// The string value name of the key below HKEY_LOCAL_MACHINE, as stored
// (REG_SZ or REG_EXPAND_SZ, not expanded); empty when there is none.
std::wstring ReadMachineString(const wchar_t* keyPath, const wchar_t* name);

// Deletes the key below HKEY_LOCAL_MACHINE with its values, unless it has
// subkeys; the Windows error code.
std::uint32_t DeleteMachineKey(const wchar_t* keyPath);

}  // namespace kairovel::testing
