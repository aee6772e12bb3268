// The ANSI code page of the Linux build: UTF-8 with the invalid bytes escaped.
#include "platform/codepage.h"

#include <cstdint>

namespace kairovel::platform {
namespace {

constexpr wchar_t kEscapeBase = 0xDC00;  // byte b >= 0x80 that is not UTF-8 becomes U+DC00 + b

// Length of the UTF-8 sequence starting at text[i] when it is complete and
// valid, 0 when it is invalid or cut short.
int SequenceLength(std::string_view text, std::size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    int length = 0;
    std::uint32_t low = 0x80;
    std::uint32_t high = 0xBF;  // the allowed range of the second byte
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;  // no UTF-16 surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    for (int k = 1; k < length; ++k) {
        if (i + static_cast<std::size_t>(k) >= text.size()) return 0;
        const auto byte = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
        const std::uint32_t min = k == 1 ? low : 0x80;
        const std::uint32_t max = k == 1 ? high : 0xBF;
        if (byte < min || byte > max) return 0;
    }
    return length;
}

wchar_t DecodeSequence(std::string_view text, std::size_t i, int length) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (length == 1) return static_cast<wchar_t>(lead);
    std::uint32_t value = lead & (0xFFu >> (length + 1));
    for (int k = 1; k < length; ++k) {
        value = (value << 6) | (static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]) & 0x3Fu);
    }
    return static_cast<wchar_t>(value);
}

void DecodeInto(std::string_view text, std::wstring& out) {
    std::size_t i = 0;
    while (i < text.size()) {
        const int length = SequenceLength(text, i);
        if (length == 0) {
            out.push_back(static_cast<wchar_t>(kEscapeBase + static_cast<unsigned char>(text[i])));
            ++i;
        } else {
            out.push_back(DecodeSequence(text, i, length));
            i += static_cast<std::size_t>(length);
        }
    }
}

void AppendUtf8(std::uint32_t value, std::string& out) {
    if (value < 0x80) {
        out.push_back(static_cast<char>(value));
    } else if (value < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (value >> 6)));
        out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
    } else if (value < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (value >> 12)));
        out.push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (value >> 18)));
        out.push_back(static_cast<char>(0x80 | ((value >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
    }
}

}  // namespace

std::wstring AnsiToWide(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    DecodeInto(text, out);
    return out;
}

std::string WideToAnsi(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (const wchar_t c : text) {
        const auto value = static_cast<std::uint32_t>(c);
        if (value >= kEscapeBase + 0x80 && value <= kEscapeBase + 0xFF) {
            out.push_back(static_cast<char>(value - kEscapeBase));  // an escaped byte goes back as it came
        } else if ((value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) {
            out.push_back('?');  // not a character: no code page can represent it
        } else {
            AppendUtf8(value, out);
        }
    }
    return out;
}

std::filesystem::path FileSystemPath(std::wstring_view name) { return WideToAnsi(name); }

std::wstring WideName(const std::filesystem::path& path) { return AnsiToWide(path.native()); }

}  // namespace kairovel::platform
