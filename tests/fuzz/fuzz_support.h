// What the fuzz targets share: a log device that formats every message and
// keeps none, and a scratch folder on tmpfs for the targets that need files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "log/logger.h"
#include "support/scripted_url_fetch.h"
#include "support/temporary_directory.h"

namespace kairovel::fuzz {

// Every message is formatted (the formatter is part of what is tried) and dropped.
class DiscardingLogger final : public Logger {
public:
    DiscardingLogger() { SetThreshold(LevelTrace); }
    void Write(LogLevel, const std::wstring& message) override { written_ += message.size(); }

private:
    std::size_t written_ = 0;
};

// A fuzz input as the bytes of a file.
inline std::string Bytes(const std::uint8_t* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// Makes a DiscardingLogger the current device, once per process.
void UseDiscardingLogger();

// Puts a testing::ScriptedUrlFetch in the place of the process's URL fetch,
// once, and gives it for the target to say what it serves.
testing::ScriptedUrlFetch& UseScriptedUrlFetch();

// A folder of this process's own on tmpfs (/dev/shm, else the temporary
// folder), made once and removed when the process ends.
const std::filesystem::path& ScratchFolder();

// For targets whose input may name files to include: for its lifetime,
// relative names are looked up in the scratch folder (libFuzzer's own files,
// the corpus and the crash reports, stay where they were named), and the
// standard input reads as empty instead of waiting for a terminal.
class IsolatedIncludes {
public:
    IsolatedIncludes();
    ~IsolatedIncludes();
    IsolatedIncludes(const IsolatedIncludes&) = delete;
    IsolatedIncludes& operator=(const IsolatedIncludes&) = delete;

private:
    int previous_;
};

}  // namespace kairovel::fuzz

// The libFuzzer entry point of each target.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
