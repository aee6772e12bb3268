// Files through the Linux stand-in: handle numbers that are never reused,
// the error codes of Linux devices (/dev/full, /proc/self/mem), and where
// root may write.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/file.h"
#include "platform/last_error.h"
#include "support/temporary_directory.h"

namespace kairovel::platform {
namespace {

using testing::TemporaryDirectory;

constexpr std::uint32_t kReadWrite = GENERIC_READ | GENERIC_WRITE;

HANDLE Open(const std::filesystem::path& path, std::uint32_t access, std::uint32_t share,
            std::uint32_t disposition = OPEN_ALWAYS) {
    return Files().CreateFileW(path.wstring(), access, share, disposition, FILE_ATTRIBUTE_NORMAL);
}

TEST(Files, HandlesThatAreNotOpenAreRefused) {
    TemporaryDirectory dir;
    const HANDLE file = Open(dir / "h.bin", kReadWrite, FILE_SHARE_READ);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(Files().CloseHandle(file));
    for (const HANDLE stale : {file, INVALID_HANDLE_VALUE, HANDLE{nullptr}}) {
        std::uint32_t count = 0;
        char byte = 0;
        EXPECT_FALSE(Files().WriteFile(stale, "x", 1, count));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(Files().ReadFile(stale, &byte, 1, count));
        EXPECT_EQ(Files().GetFileSize(stale, nullptr), INVALID_FILE_SIZE);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(Files().CloseHandle(stale));
    }
}

TEST(Files, AFullDiskFailsTheWriteWithDiskFull) {
    const HANDLE full = Files().CreateFileW(L"/dev/full", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    ASSERT_NE(full, INVALID_HANDLE_VALUE);
    std::uint32_t written = 99;
    EXPECT_FALSE(Files().WriteFile(full, "line", 4, written));
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(Files().CloseHandle(full));
}

TEST(Files, ADeviceErrorOnReadingIsNoWriteFault) {
    // Reading this process's memory at address 0, which is never mapped, fails with EIO.
    const HANDLE memory = Files().CreateFileW(L"/proc/self/mem", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    ASSERT_NE(memory, INVALID_HANDLE_VALUE);
    char byte = 0;
    std::uint32_t read = 99;
    EXPECT_FALSE(Files().ReadFile(memory, &byte, 1, read));
    EXPECT_EQ(GetLastError(), ERROR_IO_DEVICE);
    EXPECT_EQ(read, 0u);
    EXPECT_TRUE(Files().CloseHandle(memory));
}

// Root writes (its log file) nowhere another user could send the writes or
// hold them up: not through a link, not into another user's file, not into a
// folder others may write without the sticky bit; and what it makes is its own.
TEST(Files, RootWritesNoFileAnotherUserCouldRedirect) {
    if (::geteuid() != 0) GTEST_SKIP() << "root's rules";
    TemporaryDirectory dir;
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all | std::filesystem::perms::others_exec);
    testing::WriteFileBytes(dir / "root's", "kept");
    std::filesystem::create_symlink(dir / "root's", dir / "planted.log");
    std::filesystem::create_directory(dir / "open");
    std::filesystem::permissions(dir / "open", std::filesystem::perms::all);
    std::filesystem::create_directory(dir / "sticky");
    std::filesystem::permissions(dir / "sticky", std::filesystem::perms::all | std::filesystem::perms::sticky_bit);
    testing::WriteFileBytes(dir / "sticky" / "theirs.log", "");
    ASSERT_EQ(::chown((dir / "sticky" / "theirs.log").c_str(), 65534, 65534), 0);

    ::testing::internal::CaptureStderr();
    for (const char* refused : {"planted.log", "open/new.log", "sticky/theirs.log"}) {
        EXPECT_EQ(Open(dir / refused, kReadWrite, FILE_SHARE_READ), INVALID_HANDLE_VALUE) << refused;
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << refused;
    }
    EXPECT_THAT(::testing::internal::GetCapturedStderr(),
                ::testing::HasSubstr((dir / "planted.log").string() + " is refused as a file root writes: it is a link"));
    EXPECT_EQ(testing::ReadFileBytes(dir / "root's"), "kept");

    const HANDLE own = Open(dir / "sticky" / "root's.log", kReadWrite, FILE_SHARE_READ);
    ASSERT_NE(own, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Files().CloseHandle(own));
    struct stat status {};
    ASSERT_EQ(::stat((dir / "sticky" / "root's.log").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace kairovel::platform
