// The system's text for an error code, from the system's message table.
#include <windows.h>

#include "platform/system_message.h"

namespace kairovel::platform {

std::wstring SystemErrorMessage(std::uint32_t code) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message(text != nullptr ? text : L"", length);
    if (text != nullptr) ::LocalFree(text);
    // The table's texts end with a line break, which the program's messages put themselves.
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
        message.pop_back();
    }
    return message;
}

}  // namespace kairovel::platform
