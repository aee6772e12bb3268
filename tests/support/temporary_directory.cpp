#include "support/temporary_directory.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace kairovel::testing {

namespace {

// Sets (or, with value null, removes) a variable of the process's environment.
void SetVariable(const std::string& name, const char* value) {
#ifdef _WIN32
    ::_putenv_s(name.c_str(), value != nullptr ? value : "");  // an empty value removes it
#else
    if (value != nullptr) {
        ::setenv(name.c_str(), value, 1);
    } else {
        ::unsetenv(name.c_str());
    }
#endif
}

}  // namespace

TemporaryDirectory::TemporaryDirectory() {
    // A name no other test picks: created exclusively, so a taken one is tried again.
    std::random_device random;
    constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = "kairovel-test-";
        for (int i = 0; i < 8; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
        const std::filesystem::path candidate = std::filesystem::temp_directory_path() / name;
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error)) {
            std::filesystem::permissions(candidate, std::filesystem::perms::owner_all, error);
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("no temporary folder could be made");
}

TemporaryDirectory::~TemporaryDirectory() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ignored);
    std::filesystem::remove_all(path_, ignored);
}

ScopedEnvironment::ScopedEnvironment(std::string name, const std::string& value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) {
        hadValue_ = true;
        oldValue_ = old;
    }
    SetVariable(name_, value.c_str());
}

ScopedEnvironment::~ScopedEnvironment() {
    SetVariable(name_, hadValue_ ? oldValue_.c_str() : nullptr);
}

std::string ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace kairovel::testing
