// The log file on Linux: the error codes of Linux devices (/dev/full,
// /proc/self/mem), and where root may write.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/last_error.h"
#include "platform/log_file.h"
#include "support/temporary_directory.h"

namespace kairovel::platform {
namespace {

using testing::TemporaryDirectory;

std::unique_ptr<LogFile> Open(const std::filesystem::path& path) { return LogFiles().Open(path.wstring()); }

TEST(LogFiles, AFullDiskFailsTheWriteWithDiskFull) {
    const auto full = Open("/dev/full");
    ASSERT_NE(full, nullptr);
    std::uint32_t written = 99;
    EXPECT_FALSE(full->WriteAt(0, "line", 4, written));
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
    EXPECT_EQ(written, 0u);
}

TEST(LogFiles, ADeviceErrorOnReadingIsNoWriteFault) {
    // Reading this process's memory at address 0, which is never mapped, fails with EIO.
    const auto memory = Open("/proc/self/mem");
    ASSERT_NE(memory, nullptr);
    char byte = 0;
    std::uint32_t read = 99;
    EXPECT_FALSE(memory->ReadAt(0, &byte, 1, read));
    EXPECT_EQ(GetLastError(), ERROR_IO_DEVICE);
    EXPECT_EQ(read, 0u);
}

// Root writes (its log file) nowhere another user could send the writes or
// hold them up: not through a link, not into another user's file, not into a
// folder others may write without the sticky bit; and what it makes is its own.
TEST(LogFiles, RootWritesNoFileAnotherUserCouldRedirect) {
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
        EXPECT_EQ(Open(dir / refused), nullptr) << refused;
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << refused;
    }
    EXPECT_THAT(::testing::internal::GetCapturedStderr(),
                ::testing::HasSubstr((dir / "planted.log").string() + " is refused as a file root writes: it is a link"));
    EXPECT_EQ(testing::ReadFileBytes(dir / "root's"), "kept");

    EXPECT_NE(Open(dir / "sticky" / "root's.log"), nullptr);
    struct stat status {};
    ASSERT_EQ(::stat((dir / "sticky" / "root's.log").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}

// The file root opened is the file it checked: a user who makes and removes
// a file of theirs in a loop where root's log goes never gets root's writes;
// a second name (a hard link) is refused; and a log that others could open is
// replaced by a copy of root's alone, so that no descriptor of theirs sees
// what root writes next.
TEST(LogFiles, RootWritesTheFileItCheckedAndNoOneElseHoldsIt) {
    if (::geteuid() != 0) GTEST_SKIP() << "root's rules";
    TemporaryDirectory dir;
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all | std::filesystem::perms::others_exec);
    const std::filesystem::path sticky = dir / "sticky";
    std::filesystem::create_directory(sticky);
    std::filesystem::permissions(sticky, std::filesystem::perms::all | std::filesystem::perms::sticky_bit);
    const std::filesystem::path log = sticky / "root.log";

    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t user = ::fork();
    ASSERT_GE(user, 0);
    if (user == 0) {
        // As nobody: one's own file in the log's place, again and again; exits 1 when root wrote into one.
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
        [[maybe_unused]] const ssize_t told = ::write(ready[1], "r", 1);
        std::vector<int> kept;
        for (;;) {
            const int own = ::open(log.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (own < 0) continue;
            // There for a moment, as root checks the path and opens it.
            const auto end = std::chrono::steady_clock::now() + std::chrono::microseconds(20);
            while (std::chrono::steady_clock::now() < end) {
            }
            ::unlink(log.c_str());
            kept.push_back(own);
            if (kept.size() < 4) continue;
            ::usleep(1000);  // time for root's writes, had root opened one
            for (const int descriptor : kept) {
                struct stat status {};
                if (::fstat(descriptor, &status) == 0 && status.st_size > 0) ::_exit(1);
                ::close(descriptor);
            }
            kept.clear();
        }
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    ::testing::internal::CaptureStderr();
    for (int round = 0; round < 2000; ++round) {
        const auto file = Open(log);
        if (file == nullptr) continue;
        std::uint32_t written = 0;
        EXPECT_TRUE(file->WriteAt(0, "root's", 6, written));
        std::filesystem::remove(log);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // its last look at what it kept
    ::kill(user, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(user, &status, 0), user);
    EXPECT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "root wrote into the user's file";
    ::testing::internal::GetCapturedStderr();

    testing::WriteFileBytes(dir / "elsewhere", "precious");
    ASSERT_EQ(::link((dir / "elsewhere").c_str(), (dir / "second-name.log").c_str()), 0);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Open(dir / "second-name.log"), nullptr);
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), ::testing::HasSubstr("second-name.log is refused as a file "
                                                                               "root writes: it has 2 names (hard links)"));
    EXPECT_EQ(testing::ReadFileBytes(dir / "elsewhere"), "precious");

    const std::filesystem::path readable = dir / "readable.log";
    testing::WriteFileBytes(readable, "old lines");
    std::filesystem::permissions(readable, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                               std::filesystem::perms::others_read);
    const int theirs = ::open(readable.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(theirs, 0);
    auto file = Open(readable);
    ASSERT_NE(file, nullptr);
    std::uint32_t written = 0;
    EXPECT_TRUE(file->WriteAt(9, ", new", 5, written));
    file.reset();
    EXPECT_EQ(testing::ReadFileBytes(readable), "old lines, new");
    struct stat opened {};
    ASSERT_EQ(::fstat(theirs, &opened), 0);
    EXPECT_EQ(opened.st_size, 9);  // what they hold is the old file
    ::close(theirs);
    EXPECT_EQ(std::filesystem::status(readable).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

}  // namespace
}  // namespace kairovel::platform
