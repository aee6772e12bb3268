#include "platform/posix/service_manager/unit_name.h"

namespace kairovel::platform::scm {
namespace {

// A unit name is at most 255 bytes, ".service" included.
constexpr std::size_t kLongestStem = 255 - sizeof(".service") + 1;

bool IsUnitNameCharacter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'_' ||
           c == L'-' || c == L'.' || c == L':';
}

}  // namespace

std::string UnitStem(std::wstring_view serviceName) {
    if (serviceName.empty() || serviceName.size() > kLongestStem || serviceName.front() == L'.') return {};
    std::string stem;
    for (const wchar_t c : serviceName) {
        if (!IsUnitNameCharacter(c)) return {};
        stem += static_cast<char>(c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c);
    }
    return stem;
}

}  // namespace kairovel::platform::scm
