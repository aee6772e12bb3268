#include "config/argument_source.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace kairovel {
namespace {

std::vector<std::wstring> Entries(const ArgumentSource& source) {
    std::vector<std::wstring> out;
    for (std::uint32_t i = 0; i < source.count(); ++i) out.push_back(source.Entry(i));
    return out;
}

std::vector<std::wstring> FileArguments(const std::string& bytes) {
    std::istringstream stream(bytes);
    return Entries(ArgumentSource::FromStream(stream));
}

using Words = std::vector<std::wstring>;

TEST(CommandLineSplitting, OnlyBlanksAndTabsSeparate) {
    EXPECT_EQ(Entries(ArgumentSource::FromCommandLine(L"kairovel  /install\t/trace=debug   ")),
              (Words{L"kairovel", L"/install", L"/trace=debug"}));
    // Quotation marks neither group nor disappear.
    EXPECT_EQ(Entries(ArgumentSource::FromCommandLine(L"k \"/log=a b,1000\"")),
              (Words{L"k", L"\"/log=a", L"b,1000\""}));
    // A leading blank gives an empty entry 0, and the program becomes the first argument.
    EXPECT_EQ(Entries(ArgumentSource::FromCommandLine(L" k /x")), (Words{L"", L"k", L"/x"}));
    EXPECT_EQ(Entries(ArgumentSource::FromCommandLine(L"")), (Words{L""}));
    // Quotation marks group only a program path at the very start.
    EXPECT_EQ(Entries(ArgumentSource::FromCommandLine(L"\"/opt/my dir/k\"  /install \"a b\"")),
              (Words{L"/opt/my dir/k", L"/install", L"\"a", L"b\""}));
    EXPECT_EQ(Entries(ArgumentSource::FromCommandLine(L"\"/opt/my dir/k\"")), (Words{L"/opt/my dir/k"}));
    EXPECT_EQ(Entries(ArgumentSource::FromCommandLine(L"\"/opt/unclosed /x")), (Words{L"/opt/unclosed /x"}));
    // More than 50 words: every one is kept.
    std::wstring many = L"k";
    for (int i = 0; i < 60; ++i) many += L" /domain=d" + std::to_wstring(i);
    EXPECT_EQ(ArgumentSource::FromCommandLine(many).count(), 61u);
}

TEST(ArgumentCursor, WalksFromTheSecondEntry) {
    const wchar_t* texts[] = {L"Kairovel", L"/a", L"/b"};
    ArgumentSource source = ArgumentSource::FromArray(3, texts);
    std::vector<std::wstring> seen;
    for (source.Rewind(); !source.AtEnd(); source.Advance()) seen.push_back(source.CurrentArgument());
    EXPECT_EQ(seen, (Words{L"/a", L"/b"}));
    source.Advance();  // at the end it stays there
    EXPECT_TRUE(source.AtEnd());
    EXPECT_TRUE(ArgumentSource::FromArray(1, texts).AtEnd());
    EXPECT_TRUE(ArgumentSource::FromArray(0, texts).AtEnd());
}

TEST(ArgumentCursor, PrefixKeywordAndValue) {
    const wchar_t* texts[] = {L"", L"-Status=a:b", L"x=1", L"/=v", L"/trace"};
    ArgumentSource source = ArgumentSource::FromArray(5, texts);
    source.Rewind();
    EXPECT_TRUE(source.HasPrefix());
    EXPECT_TRUE(source.MatchesKeyword(L"status"));
    EXPECT_TRUE(source.MatchesKeyword(L"STAT"));
    EXPECT_FALSE(source.MatchesKeyword(L"statusx"));
    EXPECT_TRUE(source.HasValue());
    EXPECT_EQ(source.ArgumentValue(), L"a:b");
    source.Advance();
    EXPECT_FALSE(source.HasPrefix());
    source.Advance();
    EXPECT_TRUE(source.HasValue());
    EXPECT_EQ(source.ArgumentValue(), L"v");
    source.Advance();
    EXPECT_FALSE(source.HasValue());
    EXPECT_EQ(source.ArgumentValue(), L"");
}

TEST(ParameterFileLines, OneArgumentPerLineWithCommentsAndWhiteSpace) {
    EXPECT_EQ(FileArguments("  /trace=debug   # more detail\n"
                            "# only a comment\n"
                            "   \t \n"
                            "\n"
                            "/log=C:\\logs\\my log.txt,200000\n"
                            "\t/period=1:00:00\v\f\n"),
              (Words{L"", L"/trace=debug", L"/log=C:\\logs\\my log.txt,200000", L"/period=1:00:00"}));
}

TEST(ParameterFileLines, AnyLineEndAndNoFinalLineFeed) {
    const Words expected{L"", L"/a", L"/b", L"/c"};
    EXPECT_EQ(FileArguments("/a\r\n/b\r\n/c\r\n"), expected);
    EXPECT_EQ(FileArguments("/a\r/b\r/c\r"), expected);
    EXPECT_EQ(FileArguments("/a\n/b\n/c"), expected);
    EXPECT_EQ(FileArguments("/a\r\n\r\n/b\n\r/c"), expected);
    EXPECT_EQ(FileArguments(""), (Words{L""}));
}

TEST(ParameterFileLines, ALineOfMoreThan99BytesEndsTheFileAfterIts99) {
    const std::string exact(99, 'x');
    EXPECT_EQ(FileArguments("/" + exact.substr(1) + "\n/next\n"), (Words{L"", L"/" + std::wstring(98, L'x'), L"/next"}));
    const std::string long120 = "/" + std::string(119, 'y');
    EXPECT_EQ(FileArguments(long120 + "\n/never\n"), (Words{L"", L"/" + std::wstring(98, L'y')}));
    // 99 bytes and a carriage return: still a whole line.
    EXPECT_EQ(FileArguments("/" + exact.substr(1) + "\r\n/next"), (Words{L"", L"/" + std::wstring(98, L'x'), L"/next"}));
}

TEST(ParameterFileLines, AtMost49ArgumentsAreRead) {
    std::string sixty;
    for (int i = 1; i <= 60; ++i) sixty += "/domain=d" + std::to_string(i) + "\n# comment lines do not count\n";
    const Words arguments = FileArguments(sixty);
    ASSERT_EQ(arguments.size(), 50u);
    EXPECT_EQ(arguments[1], L"/domain=d1");
    EXPECT_EQ(arguments[49], L"/domain=d49");
}

TEST(ParameterFileLines, NulBytesEndTheLineAndOtherBytesSurvive) {
    EXPECT_EQ(FileArguments(std::string("/trace=debug\0/foo\n/b\n", 21)), (Words{L"", L"/trace=debug", L"/b"}));
    EXPECT_EQ(FileArguments(std::string("\0/hidden\n/b\n", 11)), (Words{L"", L"/b"}));
    // UTF-8 decodes; a Latin-1 byte that is not UTF-8 is kept as an escape that turns back into the byte.
    const Words decoded = FileArguments("/domain=caf\xC3\xA9\n/domain=caf\xE9\n");
    ASSERT_EQ(decoded.size(), 3u);
    EXPECT_EQ(decoded[1], L"/domain=caf\u00e9");
    EXPECT_EQ(decoded[2], std::wstring(L"/domain=caf") + static_cast<wchar_t>(0xDCE9));
}

TEST(UrlBodyLines, EveryLineEndGivesTheSameArguments) {
    const Words expected{L"", L"/trace=debug", L"/period=1", L"/log=a b,1000"};
    for (const wchar_t* body : {L"/trace=debug\r\n/period=1\r\n/log=a b,1000\r\n", L"/trace=debug\n/period=1\n/log=a b,1000",
                                L"/trace=debug\r/period=1\r/log=a b,1000\r", L"# header\n\n  /trace=debug # x\n/period=1\n/log=a b,1000\n"}) {
        EXPECT_EQ(Entries(ArgumentSource::FromText(body)), expected) << body;
    }
    EXPECT_EQ(Entries(ArgumentSource::FromText(L"")), (Words{L""}));
    std::wstring sixty;
    for (int i = 0; i < 60; ++i) sixty += L"/x" + std::to_wstring(i) + L"\r\n";
    EXPECT_EQ(ArgumentSource::FromText(sixty).count(), 50u);
    // URL lines have no length limit.
    const std::wstring longLine = L"/log=" + std::wstring(300, L'z');
    EXPECT_EQ(ArgumentSource::FromText(longLine).Entry(1), longLine);
}

}  // namespace
}  // namespace kairovel
