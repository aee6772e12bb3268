#include "log/format.h"

#include <cassert>
#include <cstdio>
#include <string>

namespace kairovel {
namespace format_detail {

void FormatError(const char*) { assert(false && "format does not match its arguments"); }

}  // namespace format_detail

namespace {

using format_detail::Category;
using format_detail::Conversion;

void Pad(std::wstring& out, std::wstring_view body, const Conversion& conversion) {
    const auto width = conversion.width < 0 ? std::size_t{0} : static_cast<std::size_t>(conversion.width);
    const std::size_t fill = body.size() < width ? width - body.size() : 0;
    if (!conversion.leftAlign) out.append(fill, L' ');
    out.append(body);
    if (conversion.leftAlign) out.append(fill, L' ');
}

// The narrow printf format of one numeric conversion, with the given C length modifier.
std::string NarrowPrintfFormat(const Conversion& conversion, const char* length) {
    std::string printfFormat = "%";
    if (conversion.leftAlign) printfFormat += '-';
    if (conversion.zeroPad) printfFormat += '0';
    if (conversion.plusSign) printfFormat += '+';
    if (conversion.spaceSign) printfFormat += ' ';
    if (conversion.alternate) printfFormat += '#';
    if (conversion.width >= 0) printfFormat += std::to_string(conversion.width);
    if (conversion.precision >= 0) printfFormat += '.' + std::to_string(conversion.precision);
    printfFormat += length;
    printfFormat += static_cast<char>(conversion.type);
    return printfFormat;
}

template <class T>
void AppendPrintf(std::wstring& out, const std::string& printfFormat, T value) {
    char small[64];
    const int needed = std::snprintf(small, sizeof small, printfFormat.c_str(), value);
    if (needed < 0) return;
    std::string text;
    if (static_cast<std::size_t>(needed) < sizeof small) {
        text.assign(small, static_cast<std::size_t>(needed));
    } else {
        text.resize(static_cast<std::size_t>(needed) + 1);
        std::snprintf(text.data(), text.size(), printfFormat.c_str(), value);
        text.resize(static_cast<std::size_t>(needed));
    }
    out.append(text.begin(), text.end());  // printf's numeric output is ASCII
}

void AppendInteger(std::wstring& out, const Conversion& conversion, std::uint64_t bits) {
    const bool isSigned = conversion.type == L'd' || conversion.type == L'i';
    if (conversion.wide64) {
        if (isSigned) AppendPrintf(out, NarrowPrintfFormat(conversion, "ll"), static_cast<long long>(bits));
        else AppendPrintf(out, NarrowPrintfFormat(conversion, "ll"), static_cast<unsigned long long>(bits));
    } else if (conversion.half) {
        if (isSigned) AppendPrintf(out, NarrowPrintfFormat(conversion, ""), static_cast<int>(static_cast<std::int16_t>(bits)));
        else AppendPrintf(out, NarrowPrintfFormat(conversion, ""), static_cast<unsigned>(static_cast<std::uint16_t>(bits)));
    } else {
        if (isSigned) AppendPrintf(out, NarrowPrintfFormat(conversion, ""), static_cast<int>(static_cast<std::int32_t>(bits)));
        else AppendPrintf(out, NarrowPrintfFormat(conversion, ""), static_cast<unsigned>(static_cast<std::uint32_t>(bits)));
    }
}

void AppendOne(std::wstring& out, const Conversion& conversion, const FormatArgument& argument) {
    switch (conversion.type) {
        case L's': {
            std::wstring_view text = argument.text();
            if (conversion.precision >= 0 && text.size() > static_cast<std::size_t>(conversion.precision)) {
                text = text.substr(0, static_cast<std::size_t>(conversion.precision));
            }
            Pad(out, text, conversion);
            return;
        }
        case L'c': {
            const auto c = static_cast<wchar_t>(argument.bits());
            Pad(out, std::wstring_view(&c, 1), conversion);
            return;
        }
        case L'f':
        case L'e':
        case L'E':
        case L'g':
        case L'G':
            AppendPrintf(out, NarrowPrintfFormat(conversion, ""), argument.floating());
            return;
        default:
            AppendInteger(out, conversion, argument.bits());
            return;
    }
}

}  // namespace

std::wstring FormatArguments(std::wstring_view format, std::span<const FormatArgument> arguments) {
    std::wstring out;
    out.reserve(format.size() + 16 * arguments.size());
    std::size_t next = 0;
    std::size_t i = 0;
    while (i < format.size()) {
        const std::size_t percent = format.find(L'%', i);
        if (percent == std::wstring_view::npos) {
            out.append(format.substr(i));
            break;
        }
        out.append(format.substr(i, percent - i));
        Conversion conversion;
        if (!format_detail::ParseConversion(format, percent, conversion)) {
            assert(false && "unknown conversion in format");
            out.push_back(L'%');
            i = percent + 1;
            continue;
        }
        i = conversion.end;
        if (conversion.type == L'%') {
            out.push_back(L'%');
            continue;
        }
        if (next >= arguments.size() || !format_detail::Accepts(conversion, arguments[next].category())) {
            assert(false && "format does not match its arguments");
            out.append(L"<?>");
            ++next;
            continue;
        }
        AppendOne(out, conversion, arguments[next++]);
    }
    assert(next == arguments.size() && "format has fewer conversions than arguments");
    return out;
}

}  // namespace kairovel
