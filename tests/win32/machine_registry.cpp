#include "machine_registry.h"

#include <windows.h>

namespace kairovel::testing {

std::wstring ReadMachineString(const wchar_t* keyPath, const wchar_t* name) {
    wchar_t text[1024];
    DWORD size = sizeof text;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, keyPath, name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                       nullptr, text, &size) != ERROR_SUCCESS) {
        return {};
    }
    return text;
}

std::uint32_t DeleteMachineKey(const wchar_t* keyPath) {
    return static_cast<std::uint32_t>(::RegDeleteKeyW(HKEY_LOCAL_MACHINE, keyPath));
}

}  // namespace kairovel::testing
