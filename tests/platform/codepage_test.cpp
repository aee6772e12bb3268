#include <gtest/gtest.h>

#include "platform/codepage.h"

namespace kairovel::platform {
namespace {

TEST(CodePage, Utf8BothWays) {
    EXPECT_EQ(AnsiToWide("plain /log=a b,1000"), L"plain /log=a b,1000");
    EXPECT_EQ(AnsiToWide("caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80"), L"caf\u00e9 \u4e2d \U0001F600");
    EXPECT_EQ(WideToAnsi(L"caf\u00e9 \u4e2d \U0001F600"), "caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80");
    EXPECT_EQ(AnsiToWide(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
}

TEST(CodePage, BytesThatAreNotUtf8SurviveTheRoundTrip) {
    // Latin-1 "café", an overlong '/', a lone continuation byte, a cut-short sequence.
    for (const std::string bytes : {"caf\xE9", "\xC0\xAF", "\x80x", "ab\xE4\xB8", "\xED\xA0\x80", "\xF5\x80\x80\x80"}) {
        const std::wstring wide = AnsiToWide(bytes);
        EXPECT_EQ(WideToAnsi(wide), bytes);
    }
    EXPECT_EQ(AnsiToWide("caf\xE9").size(), 4u);
}

TEST(CodePage, WhatNoCodePageHoldsBecomesAQuestionMark) {
    EXPECT_EQ(WideToAnsi(std::wstring(1, static_cast<wchar_t>(0xD800))), "?");
    EXPECT_EQ(WideToAnsi(std::wstring(1, static_cast<wchar_t>(0x110000))), "?");
}

}  // namespace
}  // namespace kairovel::platform
