// The log file device: its byte layout, wrap-around and recovery, in one process.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "log/file_logger_fixture.h"
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

class FileLoggerTest : public testing::FileLoggerFixture {};

TEST_F(FileLoggerTest, ANewFileHoldsTheHeaderTheStartLineAndTheMarker) {
    FileLogger device(path.wstring(), 10000);
    ASSERT_TRUE(device.IsOpen());
    const std::string bytes = Bytes();
    EXPECT_EQ(bytes.size(), 135u);
    EXPECT_EQ(bytes, HeaderOf(124, 10000) + kStartLine + kEndMarker);
    EXPECT_EQ(bytes.substr(0, 80),
              "Log file; last written at 124 max size 10000                                 \r\n" + std::string(1, '\0'));

    // The next line overwrites the marker; a message above the threshold touches nothing.
    Log(&device, LevelError, L"Service was stopped because %s. Error code was %d", L"Error from CreateEvent", 8);
    const std::string line = SampleLine("(Error)", "Service was stopped because Error from CreateEvent. Error code was 8");
    const auto position = static_cast<std::uint32_t>(124 + line.size());
    EXPECT_EQ(Bytes(), HeaderOf(position, 10000) + kStartLine + line + kEndMarker);
    Log(&device, LevelTrace, L"not at threshold 2");
    EXPECT_EQ(Bytes(), HeaderOf(position, 10000) + kStartLine + line + kEndMarker);

    device.SetThreshold(LevelTrace);
    Log(&device, LevelTrace, L"now it is");
    Log(&device, LevelInfo, L"slewing");
    EXPECT_EQ(Bytes(), HeaderOf(position + 44 + 42, 10000) + kStartLine + line + SampleLine("(Trace)", "now it is") +
                           SampleLine("(Info )", "slewing") + kEndMarker);
}

TEST_F(FileLoggerTest, ALinePassingTheSizeIsTheLastAndTheMarkerGoesToTheStart) {
    FileLogger device(path.wstring(), 200);
    Log(&device, LevelOk, L"abc");    // 80 + 44 + 38 = 162
    Log(&device, LevelOk, L"defgh");  // 162 + 40 = 202: passes 200
    const std::string abc = SampleLine("(Ok   )", "abc");
    const std::string defgh = SampleLine("(Ok   )", "defgh");
    const std::string wrapped = HeaderOf(80, 200) + kEndMarker + kStartLine.substr(11) + abc + defgh;
    EXPECT_EQ(Bytes(), wrapped);

    Log(&device, LevelOk, L"x");  // 36 bytes at 80, over the marker
    const std::string x = SampleLine("(Ok   )", "x");
    const std::string after = HeaderOf(116, 200) + x + kEndMarker + wrapped.substr(127);
    EXPECT_EQ(Bytes(), after);
    EXPECT_EQ(Bytes().size(), 202u);
}

// A line that starts right after the header stays whole however long it is
// (the marker at 80 would overwrite it); the line after it starts the next pass.
TEST_F(FileLoggerTest, ALineLongerThanTheWholeSizeIsKept) {
    FileLogger device(path.wstring(), 100);
    EXPECT_EQ(Bytes(), HeaderOf(124, 100) + kStartLine + kEndMarker);  // 124 passes 100, but it stays

    Log(&device, LevelOk, L"%s", std::wstring(300, L'L'));  // from 124 to 459: wraps
    const std::string first = SampleLine("(Ok   )", std::string(300, 'L'));
    const std::string wrapped = HeaderOf(80, 100) + kEndMarker + kStartLine.substr(11) + first;
    EXPECT_EQ(Bytes(), wrapped);

    Log(&device, LevelOk, L"%s", std::wstring(300, L'M'));  // from 80 to 415: stays
    const std::string second = SampleLine("(Ok   )", std::string(300, 'M'));
    EXPECT_EQ(Bytes(), HeaderOf(415, 100) + second + kEndMarker + wrapped.substr(426));
}

TEST_F(FileLoggerTest, ReopeningResumesAtTheStoredPositionWithTheStoredSize) {
    {
        FileLogger device(path.wstring(), 200);
        Log(&device, LevelOk, L"abc");
        Log(&device, LevelOk, L"defgh");
        Log(&device, LevelOk, L"x");
    }
    const std::string before = Bytes();
    ASSERT_EQ(before.substr(0, 80), HeaderOf(116, 200));

    FileLogger device(path.wstring(), 65536);  // the switch now asks for another size
    EXPECT_EQ(device.maxSize(), 200u);
    EXPECT_EQ(Bytes(), HeaderOf(160, 200) + before.substr(80, 36) + kStartLine + kEndMarker + before.substr(171));
}

// The old file: a header line of the given text and 300 bytes of older lines.
std::string OldFile(const std::string& headerText) {
    std::string header = headerText;
    header.resize(77, ' ');
    return header + "\r\n" + '\0' + std::string(300, '#');
}

TEST_F(FileLoggerTest, AHeaderThatCannotBeTrustedStartsAfreshAfterIt) {
    struct Case {
        std::string file;
        std::uint32_t position;  // where the start line goes
        std::uint32_t maxSize;   // what the header says afterwards
    };
    const std::string garbage = std::string("\x7F" "ELF\x02\x01\x01", 7) + std::string(73, '\xA5');
    const Case cases[] = {
        {OldFile("Log file; last written at 200 max size 4096"), 200, 4096},  // trusted
        {OldFile("Log file; last written at 380 max size 4096"), 380, 4096},  // at the very end
        {OldFile("Log file; last written at 200"), 200, 5000},                // size missing: the caller's
        {OldFile("Log file; last written at 200 max size -7"), 200, 5000},    // a size that makes no sense
        {OldFile("Log file;   last written at\t200 max size 4096"), 200, 4096},  // blanks as scanf takes them
        {OldFile("Log file; last written at -5 max size 4096"), 80, 4096},       // negative: too large
        {OldFile("Log file; last written at 5000 max size 4096"), 80, 4096},     // beyond the end
        {OldFile("Log file; last written at 79 max size 4096"), 80, 4096},       // inside the header
        {OldFile("Log file; last written at 0 max size 4096"), 80, 4096},
        {OldFile("Log file; last written at 99999999999 max size 4096"), 80, 5000},  // does not fit: not read
        {OldFile("Log file: last written at 200 max size 4096"), 80, 5000},  // not the header's text
        {garbage + std::string(300, '#'), 80, 5000},
        {"Log file; ", 80, 5000},  // shorter than a header
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.substr(0, 60));
        WriteFileBytes(path, c.file);
        {
            FileLogger device(path.wstring(), 5000);
            EXPECT_EQ(device.maxSize(), c.maxSize);
        }
        const std::string bytes = Bytes();
        const std::size_t end = c.position + kStartLine.size();
        std::string expected = HeaderOf(static_cast<std::uint32_t>(end), c.maxSize);
        if (c.file.size() > 80) expected += c.file.substr(80, c.position - 80);
        expected += kStartLine + kEndMarker;
        if (c.file.size() > end + 11) expected += c.file.substr(end + 11);  // older lines stay
        EXPECT_EQ(bytes, expected);
        if (c.position == 80) {  // started afresh: the part up to the marker is all new
            EXPECT_TRUE(ReadLogFile(bytes).wellFormed) << ReadLogFile(bytes).problem;
        }
    }
}

TEST_F(FileLoggerTest, AFileThatCannotBeOpenedLeavesTheDeviceSilent) {
    std::filesystem::create_directory(path);  // a folder where the file should be
    {
        FileLogger device(path.wstring(), 10000);
        EXPECT_FALSE(device.IsOpen());
        Log(&device, LevelError, L"goes nowhere");
    }
    EXPECT_TRUE(std::filesystem::is_directory(path));
    EXPECT_TRUE(std::filesystem::is_empty(path));

    const auto missingFolder = dir / "no" / "such" / "k.log";
    FileLogger device(missingFolder.wstring(), 10000);
    EXPECT_FALSE(device.IsOpen());
    Log(&device, LevelError, L"goes nowhere");
    EXPECT_FALSE(std::filesystem::exists(dir / "no"));
}

// Lines of several threads at once: each line whole, none lost, the header always right.
TEST_F(FileLoggerTest, LinesOfManyThreadsNeverMix) {
    constexpr int kThreads = 4;
    constexpr int kLinesEach = 150;
    for (const std::uint32_t maxSize : {1u << 20, 3000u}) {
        SCOPED_TRACE(maxSize);
        std::filesystem::remove(path);
        {
            FileLogger device(path.wstring(), maxSize);
            std::vector<std::thread> threads;
            for (int t = 0; t < kThreads; ++t) {
                threads.emplace_back([&device, t] {
                    for (int i = 0; i < kLinesEach; ++i) Log(&device, LevelOk, L"thread %d line %03d", t, i);
                });
            }
            for (auto& thread : threads) thread.join();
        }
        const auto content = ReadLogFile(Bytes());
        ASSERT_TRUE(content.wellFormed) << content.problem;
        if (maxSize == 3000u) {
            EXPECT_LE(Bytes().size(), 3000u + 100u);  // at most one line and its marker beyond
            continue;
        }
        ASSERT_EQ(content.messages.size(), 1u + kThreads * kLinesEach);
        std::vector<int> next(kThreads, 0);
        for (std::size_t k = 1; k < content.messages.size(); ++k) {
            int t = -1;
            int i = -1;
            ASSERT_EQ(std::sscanf(content.messages[k].c_str(), "thread %d line %d", &t, &i), 2);
            ASSERT_GE(t, 0);
            ASSERT_LT(t, kThreads);
            EXPECT_EQ(i, next[static_cast<std::size_t>(t)]++);  // each thread's lines in its order
        }
    }
}

}  // namespace
}  // namespace kairovel
