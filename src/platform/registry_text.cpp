// String data of the registry: wide text to and from UTF-16LE bytes.
#include "platform/interface/parameter_store.h"

namespace kairovel::platform {
namespace {

constexpr std::uint32_t kFirstSupplementary = 0x10000;  // first character that needs a surrogate pair
constexpr std::uint32_t kLastCharacter = 0x10FFFF;
constexpr std::uint32_t kHighSurrogate = 0xD800;
constexpr std::uint32_t kLowSurrogate = 0xDC00;
constexpr std::uint32_t kReplacement = 0xFFFD;  // for a wide character that is no Unicode character

void AppendUnit(std::vector<std::uint8_t>& out, std::uint32_t unit) {
    out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    out.push_back(static_cast<std::uint8_t>(unit >> 8));
}

std::uint32_t UnitAt(std::span<const std::uint8_t> data, std::size_t at) {
    return static_cast<std::uint32_t>(data[at]) | static_cast<std::uint32_t>(data[at + 1]) << 8;
}

bool IsHighSurrogate(std::uint32_t unit) { return unit >= kHighSurrogate && unit < kLowSurrogate; }
bool IsLowSurrogate(std::uint32_t unit) { return unit >= kLowSurrogate && unit < kLowSurrogate + 0x400; }

}  // namespace

std::vector<std::uint8_t> RegistryString(std::wstring_view text) {
    std::vector<std::uint8_t> out;
    out.reserve(2 * (text.size() + 1));
    for (const wchar_t c : text) {
        auto value = static_cast<std::uint32_t>(c);
        if (value > kLastCharacter) value = kReplacement;
        if (value >= kFirstSupplementary) {
            value -= kFirstSupplementary;
            AppendUnit(out, kHighSurrogate + (value >> 10));
            AppendUnit(out, kLowSurrogate + (value & 0x3FF));
        } else {
            AppendUnit(out, value);
        }
    }
    AppendUnit(out, 0);
    return out;
}

std::wstring ReadRegistryString(std::span<const std::uint8_t> data, std::size_t& offset) {
    std::wstring text;
    while (offset + 1 < data.size()) {
        const std::uint32_t unit = UnitAt(data, offset);
        offset += 2;
        if (unit == 0) return text;
        // Where a wide character holds more than 16 bits, a surrogate pair is one character.
        if constexpr (sizeof(wchar_t) > 2) {
            if (IsHighSurrogate(unit) && offset + 1 < data.size() && IsLowSurrogate(UnitAt(data, offset))) {
                const std::uint32_t low = UnitAt(data, offset);
                offset += 2;
                text.push_back(static_cast<wchar_t>(kFirstSupplementary + ((unit - kHighSurrogate) << 10) +
                                                    (low - kLowSurrogate)));
                continue;
            }
        }
        text.push_back(static_cast<wchar_t>(unit));
    }
    offset = data.size();  // a last odd byte, or the end of a string with no null
    return text;
}

}  // namespace kairovel::platform
