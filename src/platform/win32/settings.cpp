// Run-time settings on Windows, from the process's environment.
#include <windows.h>

#include "platform/codepage.h"
#include "platform/settings.h"

namespace kairovel::platform {
namespace {

std::wstring Setting(const wchar_t* name) {
    std::wstring value(256, L'\0');
    for (;;) {
        const DWORD length = ::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
        if (length == 0) return {};
        if (length < value.size()) {
            value.resize(length);
            return value;
        }
        value.resize(length);  // the length with its null: ask again
    }
}

}  // namespace

std::filesystem::path StateRoot() {
    const std::wstring root = Setting(L"KAIROVEL_ROOT");
    if (!root.empty()) return root;
    const std::wstring programData = Setting(L"ProgramData");
    return std::filesystem::path(programData.empty() ? L"C:\\ProgramData" : programData) / L"Kairovel";
}

std::string ClockKind() {
    const std::wstring kind = Setting(L"KAIROVEL_CLOCK");
    return kind.empty() ? "system" : WideToAnsi(kind);
}

}  // namespace kairovel::platform
