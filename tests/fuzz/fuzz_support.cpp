#include "fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <system_error>

namespace kairovel::fuzz {
namespace {

// Never destroyed, so that the removal at exit can still name it.
const std::filesystem::path* scratchFolder = nullptr;

void RemoveScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(*scratchFolder, ignored);
}

}  // namespace

void UseDiscardingLogger() {
    static const bool installed = [] {
        ReplaceCurrentLogger(std::make_unique<DiscardingLogger>());
        return true;
    }();
    (void)installed;
}

const std::filesystem::path& ScratchFolder() {
    if (scratchFolder == nullptr) {
        std::error_code error;
        const std::filesystem::path shared = "/dev/shm";
        const std::filesystem::path base =
            std::filesystem::is_directory(shared, error) ? shared : std::filesystem::temp_directory_path();
        std::string pattern = (base / "kairovel-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        scratchFolder = new std::filesystem::path(pattern);
        std::atexit(RemoveScratchFolder);
    }
    return *scratchFolder;
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
