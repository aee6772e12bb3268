#include "fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "platform/facility.h"

namespace kairovel::fuzz {

void UseDiscardingLogger() {
    static const bool installed = [] {
        ReplaceCurrentLogger(std::make_unique<DiscardingLogger>());
        return true;
    }();
    (void)installed;
}

testing::ScriptedUrlFetch& UseScriptedUrlFetch() {
    static testing::ScriptedUrlFetch fetch;
    static const platform::ScopedFacility<platform::UrlFetchFacility> use(fetch);
    return fetch;
}

const std::filesystem::path& ScratchFolder() {
    // On tmpfs where the machine has it: some targets write a file every run.
    static const testing::TemporaryDirectory folder = [] {
        std::error_code error;
        if (!std::filesystem::is_directory("/dev/shm", error)) return testing::TemporaryDirectory();
        const testing::ScopedEnvironment onTmpfs("TMPDIR", "/dev/shm");
        return testing::TemporaryDirectory();
    }();
    return folder.path();
}

IsolatedIncludes::IsolatedIncludes() : previous_(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    static const bool stdinEmptied = [] {
        const int nothing = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ::dup2(nothing, STDIN_FILENO);
        ::close(nothing);
        return true;
    }();
    (void)stdinEmptied;
    if (previous_ < 0 || ::chdir(ScratchFolder().c_str()) != 0) throw std::runtime_error("cannot enter the scratch folder");
}

IsolatedIncludes::~IsolatedIncludes() {
    if (::fchdir(previous_) != 0) std::abort();
    ::close(previous_);
}

}  // namespace kairovel::fuzz
