// The log file facility, on Linux and under Wine: reading and writing at
// offsets, the one writer, and a folder that is no log file.
#include "platform/log_file.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/last_error.h"
#include "support/temporary_directory.h"

namespace kairovel::platform {
namespace {

using testing::TemporaryDirectory;

bool WriteText(LogFile& file, std::uint64_t offset, const std::string& text) {
    std::uint32_t written = 0;
    return file.WriteAt(offset, text.data(), static_cast<std::uint32_t>(text.size()), written) &&
           written == text.size();
}

std::string ReadText(LogFile& file, std::uint64_t offset, std::uint32_t count) {
    std::string text(count, '\0');
    std::uint32_t read = 0;
    if (!file.ReadAt(offset, text.data(), count, read)) return "<read failed>";
    text.resize(read);
    return text;
}

TEST(LogFiles, OpenCreatesOrOpensAndEveryCallWorksAtItsOffset) {
    TemporaryDirectory dir;
    const std::wstring path = (dir / "a.log").wstring();
    auto file = LogFiles().Open(path);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(WriteText(*file, 0, "0123456789"));
    file.reset();

    file = LogFiles().Open(path);
    ASSERT_NE(file, nullptr);
    std::uint64_t size = 0;
    EXPECT_TRUE(file->Size(size));
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(ReadText(*file, 2, 4), "2345");
    EXPECT_EQ(ReadText(*file, 6, 100), "6789");  // fewer only at the end
    EXPECT_EQ(ReadText(*file, 10, 4), "");
    EXPECT_TRUE(WriteText(*file, 1, "BC"));
    EXPECT_TRUE(file->Truncate(4));
    EXPECT_TRUE(file->Flush());
    file.reset();
    EXPECT_EQ(testing::ReadFileBytes(dir / "a.log"), "0BC3");
}

TEST(LogFiles, OneWriterAtATimeWhileReadersAreWelcome) {
    TemporaryDirectory dir;
    const std::wstring path = (dir / "shared.log").wstring();
    auto writer = LogFiles().Open(path);
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(LogFiles().Open(path), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(WriteText(*writer, 0, "seen by a reader"));
    EXPECT_EQ(testing::ReadFileBytes(dir / "shared.log"), "seen by a reader");
    writer.reset();
    EXPECT_NE(LogFiles().Open(path), nullptr);  // once the writer has gone, the next gets in

    EXPECT_EQ(LogFiles().Open(dir.path().wstring()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);  // a folder is no log file
}

}  // namespace
}  // namespace kairovel::platform
