// The system's ANSI code page (CP_ACP), through the Windows conversions.
#include <windows.h>

#include "platform/codepage.h"

namespace kairovel::platform {
namespace {

std::wstring Decode(std::string_view text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, out.data(), length);
    return out;
}

}  // namespace

std::wstring AnsiToWide(std::string_view text) { return Decode(text); }

std::string WideToAnsi(std::wstring_view text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int length = ::WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), size, out.data(), length, nullptr, nullptr);
    return out;
}

std::filesystem::path FileSystemPath(std::wstring_view name) { return std::wstring(name); }

std::wstring WideName(const std::filesystem::path& path) { return path.native(); }

}  // namespace kairovel::platform
