#include <filesystem>
#include <string>

#include "configuration_fixture.h"
#include "support/temporary_directory.h"

namespace kairovel::testing {
namespace {

// A Latin-1 file name as the system names files: its bytes on Linux, its
// characters on Windows, whose narrow names would go through the code page.
std::filesystem::path LatinOneName(const std::string& bytes) {
#ifdef _WIN32
    std::wstring characters;
    for (const char byte : bytes) characters += static_cast<wchar_t>(static_cast<unsigned char>(byte));
    return characters;
#else
    return bytes;
#endif
}

// Runs each test inside a folder of its own, so that short relative names work.
class IncludeFileTest : public ConfigurationTest {
protected:
    void SetUp() override {
        ConfigurationTest::SetUp();
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(folder_.path());
    }
    void TearDown() override {
        std::filesystem::current_path(previous_);
        ConfigurationTest::TearDown();
    }
    void Write(const std::string& name, const std::string& bytes) { WriteFileBytes(folder_ / name, bytes); }
    std::wstring FullPath(const std::string& name) const { return (folder_ / name).wstring(); }

    TemporaryDirectory folder_;
    std::filesystem::path previous_;
};

TEST_F(IncludeFileTest, NestedFilesContinueTheConfiguration) {
    std::filesystem::create_directory(folder_ / "sub");
    Write("a.txt", "/trace=debug\n/file=sub/b.txt\n/period=0:30\n");
    Write("sub/b.txt", "/domain=corp\n/period=2\n");
    Write("c.txt", "/ntp_machine=pool\n");
    Parse({L"/file=./sub/../a.txt", L"/file=c.txt"});
    EXPECT_EQ(Config().Trace, 3);
    EXPECT_EQ(Config().Period, 1800u);  // the outer file's later line wins
    ASSERT_EQ(Config().NumberOfTimeSources, 2u);
    EXPECT_EQ(Config().SourceName[0], L"D,corp");
    EXPECT_EQ(Config().SourceName[1], L"N,pool");
    // The first file seen, as a full path.
    EXPECT_EQ(Config().ConfigurationFile, FullPath("a.txt"));
    EXPECT_EQ(IncludeFileDepth(), 0u);
}

TEST_F(IncludeFileTest, FilesThatCannotBeRead) {
    EXPECT_EQ(ParseError({L"/file=nothere.txt"}), L"Parameter file nothere.txt not found");
    EXPECT_TRUE(Config().ConfigurationFile.empty());
    std::filesystem::create_directory(folder_ / "folder");
    EXPECT_EQ(ParseError({L"/file=folder"}), L"Parameter file folder not found");
    // A name longer than 39 bytes in the narrow code page is not opened.
    const std::string name39 = std::string(35, 'n') + ".txt";
    const std::string name40 = std::string(36, 'n') + ".txt";
    Write(name39, "/trace\n");
    Write(name40, "/trace\n");
    Parse({L"/file=" + std::wstring(name39.begin(), name39.end())});
    EXPECT_EQ(Config().Trace, 3);
    const std::wstring wide40(name40.begin(), name40.end());
    EXPECT_EQ(ParseError({L"/file=" + wide40}), L"Parameter file " + wide40 + L" not found");
    // Characters count in bytes: 19 two-byte letters and ".txt" make 42 bytes.
    EXPECT_EQ(ParseError({L"/file=" + std::wstring(19, L'\u00e9') + L".txt"}),
              L"Parameter file " + std::wstring(19, L'\u00e9') + L".txt not found");
}

TEST_F(IncludeFileTest, ALatinOneNameInAFileStillOpensItsFile) {
    WriteFileBytes(folder_.path() / LatinOneName("caf\xE9.txt"), "/domain=latin\n");
    Write("outer.txt", "/file=caf\xE9.txt\n");
    Parse({L"/file=outer.txt"});
    ASSERT_EQ(Config().NumberOfTimeSources, 1u);
    EXPECT_EQ(Config().SourceName[0], L"D,latin");
}

// Greek letters have no place in Windows' Western code page: the file opens
// by its wide name all the same.
TEST_F(IncludeFileTest, ANameTheCodePageCannotHoldStillOpens) {
    WriteFileBytes(folder_.path() / std::filesystem::path(u8"\u03b1\u03b2.txt"), "/domain=greek\n");
    Parse({L"/file=\u03b1\u03b2.txt"});
    ASSERT_EQ(Config().NumberOfTimeSources, 1u);
    EXPECT_EQ(Config().SourceName[0], L"D,greek");
    EXPECT_TRUE(Config().ConfigurationFile.ends_with(L"\u03b1\u03b2.txt")) << Config().ConfigurationFile.size();
}

TEST_F(IncludeFileTest, FiveNestedFilesAreAllowedAndTheSixthIsRefused) {
    for (int i = 1; i <= 6; ++i) {
        Write("f" + std::to_string(i), "/domain=d" + std::to_string(i) + "\n/file=f" + std::to_string(i + 1) + "\n");
    }
    Write("f5", "/domain=d5\n");
    Parse({L"/file=f1"});
    EXPECT_EQ(Config().NumberOfTimeSources, 5u);

    Write("f5", "/domain=d5\n/file=f6\n");
    Write("f6", "/domain=d6\n");
    EXPECT_EQ(ParseError({L"/file=f1"}), L"Include file depth of 6 exceeds permitted maximum.");
    EXPECT_EQ(IncludeFileDepth(), 0u);
}

TEST_F(IncludeFileTest, AFileThatIncludesItself) {
    Write("self.txt", "/trace=error\n/file=self.txt\n");
    EXPECT_EQ(ParseError({L"/file=self.txt"}), L"Include file depth of 6 exceeds permitted maximum.");
    EXPECT_EQ(Config().Trace, 0);
    EXPECT_EQ(Config().ConfigurationFile, FullPath("self.txt"));
    EXPECT_EQ(IncludeFileDepth(), 0u);
}

TEST_F(IncludeFileTest, AnErrorInAFileEndsEveryParse) {
    Write("inner.txt", "/period=1\n/domain=first\nstatus\n/domain=never\n");
    Write("outer.txt", "/file=inner.txt\n/domain=never\n");
    EXPECT_EQ(ParseError({L"/file=outer.txt", L"/domain=never"}),
              L"Argument status in command line does not start with / or -");
    EXPECT_EQ(Config().Period, 3600u);
    ASSERT_EQ(Config().NumberOfTimeSources, 1u);
    EXPECT_EQ(Config().SourceName[0], L"D,first");

    Write("bad.txt", "/select=many\n");
    EXPECT_EQ(ParseError({L"/file=bad.txt"}),
              L"Argument /select=many in command line must be followed by numbers for #sources and #periods");
    Write("percent.txt", "/adjust=%s%d\n");
    EXPECT_EQ(ParseError({L"/file=percent.txt"}),
              L"Illegal switch %s%d in adjust argument; permitted ones are true, false, yes and no.");
}

TEST_F(IncludeFileTest, SixtyLinesGiveTheFirst49Arguments) {
    std::string sixty;
    for (int i = 1; i <= 60; ++i) sixty += "/period=" + std::to_string(i) + "\n";
    Write("sixty.txt", sixty);
    Parse({L"/file=sixty.txt"});
    EXPECT_EQ(Config().Period, 49u * 3600u);
}

TEST_F(IncludeFileTest, ALongLineEndsItsFileButNotTheParse) {
    Write("long.txt", "/domain=" + std::string(112, 'a') + "\n/domain=never\n");
    Parse({L"/file=long.txt", L"/domain=after"});
    ASSERT_EQ(Config().NumberOfTimeSources, 2u);
    EXPECT_EQ(Config().SourceName[0], L"D," + std::wstring(91, L'a'));
    EXPECT_EQ(Config().SourceName[1], L"D,after");
}

}  // namespace
}  // namespace kairovel::testing
