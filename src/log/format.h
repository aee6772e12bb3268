// The program's one printf-style formatter, with the Windows conventions.
//
// Every message of the program is a wide printf format: %s takes a wide string,
// %d %i %u %x %X %o %c take 32-bit integers, %I64d %I64u %I64x take 64-bit ones,
// %f %e %g take doubles; flags, width and precision work as in printf, and %%
// is a percent sign. The format is checked against the argument types while
// the program compiles, so a wrong count or a wrong type cannot be built; the
// output is a std::wstring of whatever length the message needs.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace kairovel {

namespace format_detail {

enum class Category { Int32, Int64, Char, Floating, String, Unsupported };

template <class T>
consteval Category CategoryOf() {
    using U = std::remove_cvref_t<T>;
    if constexpr (std::is_same_v<U, wchar_t>) {
        return Category::Char;
    } else if constexpr (std::is_same_v<U, char> || std::is_same_v<U, char8_t> || std::is_same_v<U, char16_t> ||
                         std::is_same_v<U, char32_t>) {
        return Category::Unsupported;  // narrow characters have no place in a wide message
    } else if constexpr (std::is_integral_v<U>) {
        return sizeof(U) <= 4 ? Category::Int32 : Category::Int64;
    } else if constexpr (std::is_floating_point_v<U>) {
        return Category::Floating;
    } else if constexpr (std::is_convertible_v<const U&, std::wstring_view>) {
        return Category::String;
    } else {
        return Category::Unsupported;
    }
}

// One conversion of a format: what it is and how it is written.
struct Conversion {
    std::size_t begin = 0;  // index of the '%'
    std::size_t end = 0;    // one past the conversion character
    bool leftAlign = false;
    bool zeroPad = false;
    bool plusSign = false;
    bool spaceSign = false;
    bool alternate = false;
    int width = -1;
    int precision = -1;
    bool wide64 = false;  // I64 or ll
    bool half = false;    // h: a 16-bit integer
    wchar_t type = 0;     // d i u x X o c s f e E g G, or '%' for a percent sign
};

// Reads the conversion that starts at format[at] == '%'. Returns false when
// the text there is not a conversion this formatter knows.
constexpr bool ParseConversion(std::wstring_view format, std::size_t at, Conversion& out) {
    out = Conversion{};
    out.begin = at;
    std::size_t i = at + 1;
    if (i < format.size() && format[i] == L'%') {
        out.type = L'%';
        out.end = i + 1;
        return true;
    }
    for (; i < format.size(); ++i) {
        const wchar_t c = format[i];
        if (c == L'-') out.leftAlign = true;
        else if (c == L'0') out.zeroPad = true;
        else if (c == L'+') out.plusSign = true;
        else if (c == L' ') out.spaceSign = true;
        else if (c == L'#') out.alternate = true;
        else break;
    }
    for (; i < format.size() && format[i] >= L'0' && format[i] <= L'9'; ++i) {
        out.width = (out.width < 0 ? 0 : out.width * 10) + (format[i] - L'0');
        if (out.width > 1000) return false;
    }
    if (i < format.size() && format[i] == L'.') {
        out.precision = 0;
        for (++i; i < format.size() && format[i] >= L'0' && format[i] <= L'9'; ++i) {
            out.precision = out.precision * 10 + (format[i] - L'0');
            if (out.precision > 1000) return false;
        }
    }
    if (format.substr(i, 3) == L"I64") {
        out.wide64 = true;
        i += 3;
    } else if (format.substr(i, 2) == L"ll") {
        out.wide64 = true;
        i += 2;
    } else if (format.substr(i, 1) == L"l") {
        i += 1;  // long is 32 bits on Windows
    } else if (format.substr(i, 1) == L"h") {
        out.half = true;
        i += 1;
    }
    if (i >= format.size()) return false;
    const wchar_t type = format[i];
    const std::wstring_view known = L"diuxXocsfeEgG";
    if (known.find(type) == std::wstring_view::npos) return false;
    if ((type == L's' || type == L'c') && (out.wide64 || out.half)) return false;
    if ((type == L'f' || type == L'e' || type == L'E' || type == L'g' || type == L'G') && (out.wide64 || out.half))
        return false;
    out.type = type;
    out.end = i + 1;
    return true;
}

constexpr bool Accepts(const Conversion& conversion, Category category) {
    switch (conversion.type) {
        case L'd':
        case L'i':
        case L'u':
        case L'x':
        case L'X':
        case L'o':
            return category == Category::Int32 || (conversion.wide64 && category == Category::Int64);
        case L'c':
            return category == Category::Char || category == Category::Int32;
        case L's':
            return category == Category::String;
        default:
            return category == Category::Floating;
    }
}

void FormatError(const char*);  // not constexpr: reaching it at compile time stops the build

template <class... Args>
consteval void CheckFormat(std::wstring_view format) {
    constexpr Category categories[] = {CategoryOf<Args>()..., Category::Unsupported};
    constexpr std::size_t count = sizeof...(Args);
    std::size_t used = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != L'%') continue;
        Conversion conversion;
        if (!ParseConversion(format, i, conversion)) FormatError("unknown conversion in format");
        i = conversion.end - 1;
        if (conversion.type == L'%') continue;
        if (used >= count) FormatError("format has more conversions than arguments");
        if (!Accepts(conversion, categories[used])) FormatError("argument type does not match its conversion");
        ++used;
    }
    if (used != count) FormatError("format has fewer conversions than arguments");
}

}  // namespace format_detail

// A format text checked at compile time against the argument types Args.
template <class... Args>
class BasicFormatText {
public:
    template <std::size_t N>
    consteval BasicFormatText(const wchar_t (&text)[N]) : text_(text, N - 1) {  // NOLINT: implicit by design
        format_detail::CheckFormat<Args...>(text_);
    }
    constexpr std::wstring_view View() const { return text_; }

private:
    std::wstring_view text_;
};

template <class... Args>
using FormatText = BasicFormatText<std::type_identity_t<Args>...>;

// One argument, as the run-time part of the formatter sees it.
class FormatArgument {
public:
    using Category = format_detail::Category;

    template <class T>
        requires(format_detail::CategoryOf<T>() != Category::Unsupported)
    FormatArgument(const T& value) {  // NOLINT: implicit by design
        constexpr Category category = format_detail::CategoryOf<T>();
        category_ = category;
        if constexpr (category == Category::String) {
            if constexpr (std::is_pointer_v<T>) {
                text_ = value != nullptr ? std::wstring_view(value) : std::wstring_view(L"(null)");
            } else {
                text_ = std::wstring_view(value);
            }
        } else if constexpr (category == Category::Floating) {
            floating_ = static_cast<double>(value);
        } else if constexpr (category == Category::Char) {
            bits_ = static_cast<std::uint64_t>(value);
        } else if constexpr (std::is_signed_v<T>) {
            bits_ = static_cast<std::uint64_t>(static_cast<std::int64_t>(value));  // sign-extended
        } else {
            bits_ = static_cast<std::uint64_t>(value);
        }
    }

    Category category() const { return category_; }
    std::uint64_t bits() const { return bits_; }
    double floating() const { return floating_; }
    std::wstring_view text() const { return text_; }

private:
    Category category_ = Category::Unsupported;
    std::uint64_t bits_ = 0;
    double floating_ = 0.0;
    std::wstring_view text_;
};

// Formats with arguments already checked against the format (or not: a
// mismatch fails an assertion in debug builds and is written as "<?>" otherwise).
std::wstring FormatArguments(std::wstring_view format, std::span<const FormatArgument> arguments);

template <class... Args>
std::wstring Format(FormatText<Args...> format, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
        return FormatArguments(format.View(), {});
    } else {
        const FormatArgument arguments[] = {FormatArgument(args)...};
        return FormatArguments(format.View(), arguments);
    }
}

}  // namespace kairovel
