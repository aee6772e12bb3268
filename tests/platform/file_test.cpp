#include <gtest/gtest.h>

#include <string>

#include "platform/file.h"
#include "platform/last_error.h"
#include "support/temporary_directory.h"
#include "support/wine.h"

namespace kairovel::platform {
namespace {

using testing::TemporaryDirectory;

constexpr std::uint32_t kReadWrite = GENERIC_READ | GENERIC_WRITE;

HANDLE Open(const std::filesystem::path& path, std::uint32_t access, std::uint32_t share,
            std::uint32_t disposition = OPEN_ALWAYS) {
    return Files().CreateFileW(path.wstring(), access, share, disposition, FILE_ATTRIBUTE_NORMAL);
}

bool WriteText(HANDLE file, const std::string& text) {
    std::uint32_t written = 0;
    return Files().WriteFile(file, text.data(), static_cast<std::uint32_t>(text.size()), written) &&
           written == text.size();
}

std::string ReadText(HANDLE file, std::uint32_t count) {
    std::string text(count, '\0');
    std::uint32_t read = 0;
    if (!Files().ReadFile(file, text.data(), count, read)) return "<read failed>";
    text.resize(read);
    return text;
}

TEST(Files, OpenAlwaysCreatesOrOpensAndSaysWhich) {
    TemporaryDirectory dir;
    HANDLE file = Open(dir / "a.log", kReadWrite, FILE_SHARE_READ);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_TRUE(WriteText(file, "0123456789"));
    EXPECT_TRUE(Files().CloseHandle(file));

    file = Open(dir / "a.log", kReadWrite, FILE_SHARE_READ);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    std::uint32_t high = 7;
    EXPECT_EQ(Files().GetFileSize(file, &high), 10u);
    EXPECT_EQ(high, 0u);
    EXPECT_EQ(ReadText(file, 4), "0123");
    EXPECT_EQ(ReadText(file, 100), "456789");  // fewer only at the end
    EXPECT_TRUE(Files().CloseHandle(file));

    EXPECT_EQ(Open(dir / "missing", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Open(dir / "a.log", GENERIC_READ, FILE_SHARE_READ, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_EQ(Open(dir.path(), kReadWrite, FILE_SHARE_READ), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Open(dir.path(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);  // a folder is not a file, even for reading
}

TEST(Files, WriterSharingOnlyReadingRefusesOtherWritersAndLetsReadersIn) {
    TemporaryDirectory dir;
    const auto path = dir / "shared.log";
    const HANDLE writer = Open(path, kReadWrite, FILE_SHARE_READ);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);

    EXPECT_EQ(Open(path, kReadWrite, FILE_SHARE_READ), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(Open(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    // A reader must leave writing to others, since the file is being written.
    EXPECT_EQ(Open(path, GENERIC_READ, FILE_SHARE_READ), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);

    const HANDLE reader = Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(WriteText(writer, "seen by the reader"));
    EXPECT_EQ(ReadText(reader, 64), "seen by the reader");
    std::uint32_t written = 0;
    EXPECT_FALSE(Files().WriteFile(reader, "x", 1, written));  // the reader has no write access
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    // Once the writer has gone, the next writer gets in: the reader left shares writing.
    EXPECT_TRUE(Files().CloseHandle(writer));
    const HANDLE next = Open(path, kReadWrite, FILE_SHARE_READ);
    EXPECT_NE(next, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Files().CloseHandle(next));
    EXPECT_TRUE(Files().CloseHandle(reader));

    // A reader that denies writing keeps writers out for as long as it is open.
    const HANDLE strictReader = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    ASSERT_NE(strictReader, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(path, kReadWrite, FILE_SHARE_READ), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(Files().CloseHandle(strictReader));
}

TEST(Files, PointerEndOfFileAndTheirLimits) {
    TemporaryDirectory dir;
    const HANDLE file = Open(dir / "p.bin", kReadWrite, FILE_SHARE_READ);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(WriteText(file, "abcdefghij"));

    EXPECT_EQ(Files().SetFilePointer(file, -4, nullptr, FILE_END), 6u);
    EXPECT_EQ(Files().SetFilePointer(file, 1, nullptr, FILE_CURRENT), 7u);
    EXPECT_EQ(Files().SetFilePointer(file, -8, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
    EXPECT_EQ(ReadText(file, 2), "hi");  // the failed move left the pointer where it was

    EXPECT_EQ(Files().SetFilePointer(file, 4, nullptr, FILE_BEGIN), 4u);
    EXPECT_TRUE(Files().SetEndOfFile(file));
    EXPECT_EQ(Files().GetFileSize(file, nullptr), 4u);
    EXPECT_TRUE(Files().FlushFileBuffers(file));
    EXPECT_TRUE(Files().CloseHandle(file));
    EXPECT_EQ(testing::ReadFileBytes(dir / "p.bin"), "abcd");
}

TEST(Files, PositionsBeyond32BitsNeedTheHighHalf) {
    if (testing::RunningUnderWine()) {
        GTEST_SKIP() << "Wine 8's SetFilePointer moves beyond 4 GB without the high half instead of failing";
    }
    TemporaryDirectory dir;
    const HANDLE file = Open(dir / "p.bin", kReadWrite, FILE_SHARE_READ);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Files().SetFilePointer(file, 0x7FFFFFFF, nullptr, FILE_BEGIN), 0x7FFFFFFFu);
    EXPECT_EQ(Files().SetFilePointer(file, 0x7FFFFFFF, nullptr, FILE_CURRENT), 0xFFFFFFFEu);
    EXPECT_EQ(Files().SetFilePointer(file, 2, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    std::int32_t high = 1;
    EXPECT_EQ(Files().SetFilePointer(file, 5, &high, FILE_BEGIN), 5u);
    EXPECT_EQ(high, 1);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_TRUE(Files().CloseHandle(file));
}

}  // namespace
}  // namespace kairovel::platform
