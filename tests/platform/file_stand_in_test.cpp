// Files through the Linux stand-in: handle numbers that are never reused, and
// the error codes of Linux devices (/dev/full, /proc/self/mem).
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace kairovel::platform
