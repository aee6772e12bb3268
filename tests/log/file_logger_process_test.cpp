// The log file device beside other processes: a second writer, a full disk, a
// read-only file (Linux: a writer program, mount namespaces, capabilities).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "log/file_logger_fixture.h"
#include "support/process.h"
#include "support/temporary_directory.h"

namespace kairovel {
namespace {

using testing::HeaderOf;
using testing::kEndMarker;
using testing::ReadFileBytes;
using testing::ReadLogFile;
using testing::SampleLine;
using testing::TemporaryDirectory;
using testing::WriteFileBytes;
using testing::kStartLine;

class FileLoggerOnLinux : public testing::FileLoggerFixture {};

TEST_F(FileLoggerOnLinux, ASecondWriterIsRefusedWhileReadersAreWelcome) {
    FileLogger first(path.wstring(), 10000);
    {
        FileLogger second(path.wstring(), 10000);
        EXPECT_FALSE(second.IsOpen());
        Log(&second, LevelError, L"from the second device");
    }
    EXPECT_EQ(Bytes(), HeaderOf(124, 10000) + kStartLine + kEndMarker);  // a reader, while it is open

    // Another process is refused the same way.
    const auto run = testing::RunProcess({LOG_FILE_WRITER, path.string(), "3", "from another process"});
    EXPECT_EQ(run.exitCode, 0) << run.standardError;
    EXPECT_EQ(Bytes(), HeaderOf(124, 10000) + kStartLine + kEndMarker);
    Log(&first, LevelOk, L"still writing");
    EXPECT_EQ(ReadLogFile(Bytes()).messages, (std::vector<std::string>{"--start--", "still writing"}));
}

// Runs a shell script as root in a mount namespace of its own, where it can
// mount a small file system; false (the test is skipped) elsewhere.
bool CanMount() { return ::geteuid() == 0 && !testing::FindProgram("unshare").empty(); }

TEST_F(FileLoggerOnLinux, AFullDiskNeverLeavesAHeaderThatLies) {
    if (!CanMount()) GTEST_SKIP() << "needs root to mount a small file system";
    const auto disk = dir / "disk";
    std::filesystem::create_directory(disk);
    const auto copy = dir / "copy.log";
    // 16 KB of room, 8 KB taken by a filler: the log file gets two pages. Then
    // the filler goes and a second run writes a few more lines.
    const std::string script =
        "set -e; mount -t tmpfs -o size=16k tmpfs \"$1\"; "
        "dd if=/dev/zero of=\"$1/filler\" bs=4096 count=2 2>/dev/null; "
        "\"$2\" \"$1/k.log,64\" 400 'filling the disk, line'; "
        "cp \"$1/k.log\" \"$3.full\"; rm \"$1/filler\"; "
        "\"$2\" \"$1/k.log,64\" 3 'after room was made, line'; "
        "cp \"$1/k.log\" \"$3\"";
    const auto run = testing::RunProcess(
        {"unshare", "-m", "sh", "-c", script, "sh", disk.string(), LOG_FILE_WRITER, copy.string()});
    ASSERT_EQ(run.exitCode, 0) << run.standardError;

    const std::string full = ReadFileBytes(copy.string() + ".full");
    const auto whenFull = ReadLogFile(full);
    ASSERT_TRUE(whenFull.wellFormed) << whenFull.problem;
    EXPECT_LE(full.size(), 8192u);
    EXPECT_EQ(full.size(), whenFull.position + kEndMarker.size());  // nothing of a lost line is left
    ASSERT_GT(whenFull.messages.size(), 50u);
    ASSERT_LT(whenFull.messages.size(), 400u);
    for (std::size_t k = 1; k < whenFull.messages.size(); ++k) {
        EXPECT_EQ(whenFull.messages[k], "filling the disk, line " + std::to_string(k - 1));
    }

    const std::string bytes = ReadFileBytes(copy);
    const auto content = ReadLogFile(bytes);
    ASSERT_TRUE(content.wellFormed) << content.problem;
    EXPECT_EQ(bytes.size(), content.position + kEndMarker.size());
    std::vector<std::string> expected = whenFull.messages;
    expected.push_back("--start--");
    for (int i = 0; i < 3; ++i) expected.push_back("after room was made, line " + std::to_string(i));
    EXPECT_EQ(content.messages, expected);
}

TEST_F(FileLoggerOnLinux, AReadOnlyFileIsLeftAlone) {
    {
        FileLogger device(path.wstring(), 10000);
    }
    const std::string before = Bytes();
    std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                           std::filesystem::perms::others_read);
    std::vector<std::string> argv = {LOG_FILE_WRITER, path.string(), "3"};
    if (::geteuid() == 0) {  // root writes read-only files unless it gives up overriding permissions
        argv.insert(argv.begin(), {"setpriv", "--inh-caps=-dac_override,-dac_read_search",
                                   "--bounding-set=-dac_override,-dac_read_search"});
    }
    const auto run = testing::RunProcess(argv);
    EXPECT_EQ(run.exitCode, 0) << run.standardError;
    EXPECT_EQ(Bytes(), before);
}

TEST_F(FileLoggerOnLinux, AFileCutShortWhileOpenRestartsAfterTheHeader) {
    FileLogger device(path.wstring(), 10000);
    for (int i = 0; i < 5; ++i) Log(&device, LevelOk, L"line %d", i);
    std::filesystem::resize_file(path, 50);  // someone else cuts it
    Log(&device, LevelOk, L"after the cut");
    const std::string line = SampleLine("(Ok   )", "after the cut");
    EXPECT_EQ(Bytes(), HeaderOf(static_cast<std::uint32_t>(80 + line.size()), 10000) + line + kEndMarker);
}

TEST_F(FileLoggerOnLinux, MessagesAreWrittenAsTheNarrowConversionGivesThem) {
    FileLogger device(path.wstring(), 65536);
    Log(&device, LevelError, L"%s", std::wstring(L"caf\u00e9 \u4e2d"));  // UTF-8, the NUL after all bytes
    Log(&device, LevelError, L"%s", std::wstring(L"lone ") + static_cast<wchar_t>(0xD800) + L" surrogate");
    Log(&device, LevelError, L"%s", std::wstring(L"byte ") + static_cast<wchar_t>(0xDCE9));  // an escaped byte
    Log(&device, LevelError, L"%s", std::wstring(L"before\0after", 12));
    Log(&device, LevelError, L"%s", std::wstring(L"Illegal argument /x=%d%s 100%"));
    const std::wstring longText(5000, L'z');
    Log(&device, LevelError, L"[%s]", longText);

    const auto content = ReadLogFile(Bytes());
    ASSERT_TRUE(content.wellFormed) << content.problem;
    const std::vector<std::string> expected = {
        "--start--",
        "caf\xC3\xA9 \xE4\xB8\xAD",
        "lone ? surrogate",
        "byte \xE9",
        "before",
        "Illegal argument /x=%d%s 100%",
        "[" + std::string(5000, 'z') + "]",
    };
    EXPECT_EQ(content.messages, expected);
}

}  // namespace
}  // namespace kairovel
