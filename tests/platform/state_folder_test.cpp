// The stand-ins' state folder and files as a careful attacker meets them: a
// folder others may write to or own, and links planted where a state file goes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/last_error.h"
#include "platform/parameter_store.h"
#include "platform/posix/sqlite_parameter_store.h"
#include "platform/posix/state_folder.h"
#include "platform/sim/simulated_clock.h"
#include "support/process.h"
#include "support/temporary_directory.h"

namespace kairovel::platform {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using kairovel::testing::ReadFileBytes;
using kairovel::testing::ScopedEnvironment;
using kairovel::testing::TemporaryDirectory;
using kairovel::testing::WriteFileBytes;

constexpr uid_t kNobody = 65534;

// Creates the parameter key, or finds it, and writes a value in it.
LSTATUS CreateParameterKey(SqliteParameterStore& store) {
    const StoreValue value{L"IsInstalled", REG_BINARY, {}};
    std::size_t failed = 0;
    return store.WriteValues(StoreKey::Parameters, IfMissing::Create, {&value, 1}, failed);
}

// Through a store of its own, whose connection is new.
LSTATUS CreateParameterKey() {
    SqliteParameterStore store;
    return CreateParameterKey(store);
}

// What OpenStateFolder says of folder, for the calling user.
std::string FolderProblem(const fs::path& folder, bool create = false) {
    fs::path resolved;
    std::string problem;
    const std::uint32_t status = OpenStateFolder(folder, create, resolved, problem);
    return status == ERROR_SUCCESS ? "trusted" : problem.empty() ? "error " + std::to_string(status) : problem;
}

class StateFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "giving files to another user needs root";
    }

    TemporaryDirectory outside_;  // where an attacker's links point to
    TemporaryDirectory root_;
    ScopedEnvironment useRoot_{"KAIROVEL_ROOT", root_.path().string()};
};

TEST_F(StateFolderTest, PlantedLinksNeverRedirectAWrite) {
    const fs::path victim = outside_ / "victim";
    WriteFileBytes(victim, "precious");
    const fs::path state = root_ / "simulated-clock.state";
    // The temporary name a change used to write through, guessable from the PID.
    fs::create_symlink(victim, state.string() + ".tmp." + std::to_string(::getpid()));
    SimulatedClock clock(state);
    ASSERT_TRUE(clock.SetSystemTimeAdjustment(99'950, false)) << GetLastError();
    EXPECT_EQ(ReadFileBytes(victim), "precious");
    EXPECT_FALSE(fs::is_symlink(state));

    // A link in the place of the lock or of the state itself is refused, not followed.
    fs::remove(state.string() + ".lock");
    fs::create_symlink(victim, state.string() + ".lock");
    EXPECT_FALSE(clock.SetSystemTimeAdjustment(99'990, false));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    fs::remove(state.string() + ".lock");
    fs::remove(state);
    fs::create_symlink(victim, state);
    EXPECT_THAT(clock.StateProblem(), HasSubstr("simulated-clock.state is refused as state: it is a link"));

    // The registry database and the files SQLite keeps beside it, under a new
    // connection and under one kept open since before the link was planted.
    SqliteParameterStore kept;
    ASSERT_EQ(CreateParameterKey(kept), ERROR_SUCCESS);
    const fs::path empty = outside_ / "empty";
    WriteFileBytes(empty, "");
    fs::rename(root_ / "registry.sqlite-wal", outside_ / "wal");
    fs::create_symlink(empty, root_ / "registry.sqlite-wal");
    EXPECT_EQ(CreateParameterKey(kept), ERROR_ACCESS_DENIED);
    EXPECT_EQ(CreateParameterKey(), ERROR_ACCESS_DENIED);
    fs::remove(root_ / "registry.sqlite-wal");
    ASSERT_EQ(CreateParameterKey(kept), ERROR_SUCCESS);
    fs::rename(root_ / "registry.sqlite", outside_ / "registry.sqlite");
    fs::create_symlink(empty, root_ / "registry.sqlite");
    EXPECT_EQ(CreateParameterKey(kept), ERROR_ACCESS_DENIED);
    EXPECT_EQ(CreateParameterKey(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadFileBytes(empty), "");
    EXPECT_EQ(ReadFileBytes(victim), "precious");
}

TEST_F(StateFolderTest, AFolderOrFileOthersControlIsRefusedWithItsReason) {
    // Others may write to it: they could swap the registry and choose the time sources.
    fs::permissions(root_.path(), fs::perms(0777));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(CreateParameterKey(), ERROR_ACCESS_DENIED);
    EXPECT_THAT(::testing::internal::GetCapturedStderr(),
                HasSubstr(root_.path().string() + " is refused as state: others may write to it (mode 0777)"));
    fs::permissions(root_.path(), fs::perms(0775));
    EXPECT_THAT(FolderProblem(root_.path()), HasSubstr("others may write to it (mode 0775)"));
    fs::permissions(root_.path(), fs::perms(0755));

    // Owned by another user, however closed.
    ASSERT_EQ(::chown(root_.path().c_str(), kNobody, 0), 0);
    EXPECT_EQ(FolderProblem(root_.path()),
              root_.path().string() + " is refused as state: its owner (uid 65534) is neither root nor the caller");
    ASSERT_EQ(::chown(root_.path().c_str(), 0, 0), 0);

    // A folder above it that another user may rename from under it; a sticky one (as /tmp) is fine.
    const fs::path above = root_ / "above";
    fs::create_directory(above);
    fs::permissions(above, fs::perms(0777));
    EXPECT_THAT(FolderProblem(above / "state", true), HasSubstr(above.string() + " is refused as state: others may"));
    fs::permissions(above, fs::perms(01777));
    EXPECT_EQ(FolderProblem(above / "state", true), "trusted");

    // A file in a trusted folder that others may write, or that another user owns.
    ASSERT_EQ(CreateParameterKey(), ERROR_SUCCESS);
    fs::permissions(root_ / "registry.sqlite", fs::perms(0666));
    EXPECT_EQ(CreateParameterKey(), ERROR_ACCESS_DENIED);
    fs::permissions(root_ / "registry.sqlite", fs::perms(0644));
    ASSERT_EQ(::chown((root_ / "registry.sqlite").c_str(), kNobody, 0), 0);
    EXPECT_EQ(CreateParameterKey(), ERROR_ACCESS_DENIED);
}

TEST_F(StateFolderTest, TrustedFoldersAreUsedThroughLinksAndMadeWhenMissing) {
    // A missing folder is made 0755, whatever the umask.
    const mode_t umask = ::umask(077);
    const fs::path made = root_ / "var" / "lib" / "kairovel";
    {
        const ScopedEnvironment useMade("KAIROVEL_ROOT", made.string());
        EXPECT_EQ(CreateParameterKey(), ERROR_SUCCESS);
    }
    ::umask(umask);
    struct stat status {};
    ASSERT_EQ(::stat(made.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0755u);
    EXPECT_EQ(status.st_uid, 0u);

    // A linked root is judged by its target.
    fs::create_directory_symlink(made, root_ / "link");
    EXPECT_EQ(FolderProblem(root_ / "link"), "trusted");
    fs::permissions(made, fs::perms(0757));
    EXPECT_THAT(FolderProblem(root_ / "link"), HasSubstr(made.string() + " is refused as state"));
    fs::permissions(made, fs::perms(0755));

    // Another caller trusts root's folder and its own, not a third user's.
    const fs::path own = root_ / "nobody";
    fs::create_directory(own);
    ASSERT_EQ(::chown(own.c_str(), kNobody, kNobody), 0);
    fs::permissions(root_.path(), fs::perms(0755));
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setresuid(kNobody, kNobody, kNobody) != 0) _exit(2);
        const bool trustsRoots = FolderProblem(made) == "trusted";
        const bool trustsOwn = FolderProblem(own) == "trusted";
        _exit(trustsRoots && trustsOwn ? 0 : 1);
    }
    EXPECT_EQ(kairovel::testing::WaitForChild(child), 0);
    EXPECT_THAT(FolderProblem(own), HasSubstr("its owner (uid 65534) is neither root nor the caller"));
}

// A user who watches the state folder and opens the registry the moment it
// appears could hold SQLite's locks and block every installation: the
// database is root's alone from its first instant.
TEST_F(StateFolderTest, NoUserCanOpenTheRegistryAsItIsMade) {
    fs::permissions(root_.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec);
    const fs::path database = root_ / "registry.sqlite";
    int opened = 0;
    for (int attempt = 0; attempt < 10; ++attempt) {
        fs::remove(database);
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t watcher = ::fork();
        ASSERT_GE(watcher, 0);
        if (watcher == 0) {
            // As nobody: wait for the file to be made, then try to open it until it has been made for a while.
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(3);
            const int events = ::inotify_init1(IN_CLOEXEC);
            if (events < 0 || ::inotify_add_watch(events, root_.path().c_str(), IN_CREATE) < 0) ::_exit(3);
            [[maybe_unused]] const ssize_t told = ::write(ready[1], "r", 1);
            char buffer[4096];
            if (::read(events, buffer, sizeof buffer) <= 0) ::_exit(3);
            for (int tries = 0; tries < 20000; ++tries) {
                if (::open(database.c_str(), O_RDONLY | O_CLOEXEC) >= 0) ::_exit(1);
            }
            ::_exit(0);
        }
        ::close(ready[1]);
        char byte = 0;
        ASSERT_EQ(::read(ready[0], &byte, 1), 1);
        ::close(ready[0]);
        ASSERT_EQ(CreateParameterKey(), ERROR_SUCCESS);
        int status = 0;
        ASSERT_EQ(::waitpid(watcher, &status, 0), watcher);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 3);
        opened += WEXITSTATUS(status);
    }
    EXPECT_EQ(opened, 0);
}

}  // namespace
}  // namespace kairovel::platform
