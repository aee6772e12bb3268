// The logger: levels, the abstract log device, Log and RaiseError.
//
// Every message the program reports goes through Log, which drops it at once
// when its level is above the device's threshold, and otherwise formats it and
// hands the finished text to the device. Errors are raised as their finished
// message text (a std::wstring, thrown by value and caught by reference) and
// logged verbatim by whoever catches them.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "log/format.h"

namespace kairovel {

using LogLevel = int;
inline constexpr LogLevel LevelError = 0;
inline constexpr LogLevel LevelInfo = 1;
inline constexpr LogLevel LevelOk = 2;
inline constexpr LogLevel LevelTrace = 3;

// The seven-character word the log file writes in front of a message of each level.
std::wstring_view LevelWord(LogLevel level);

// The abstract log device.
class Logger {
public:
    static constexpr std::int32_t kBufferCharacters = 200;  // wide characters of a formatted message
    static constexpr std::int32_t kDefaultThreshold = LevelOk;

    Logger() = default;
    virtual ~Logger() = default;
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    // Delivers one finished message; level is 0 to 3.
    virtual void Write(LogLevel level, const std::wstring& message) = 0;

    void SetThreshold(LogLevel level) { threshold_.store(level, std::memory_order_relaxed); }
    std::int32_t threshold() const { return threshold_.load(std::memory_order_relaxed); }
    // Formatting grows past this size when a message needs it; it is kept as the device's nominal size.
    std::int32_t bufferSize() const { return bufferSize_; }

private:
    const std::int32_t bufferSize_ = kBufferCharacters;
    std::atomic<std::int32_t> threshold_{kDefaultThreshold};
};

// The process-wide device in use; null until the first one is opened.
Logger* CurrentLogger();
// Makes device the current one and deletes the one it replaces first. Called
// only while no other thread of the program runs.
void ReplaceCurrentLogger(std::unique_ptr<Logger> device);
// Deletes the current device (leaving none).
void CloseCurrentLogger();

template <class... Args>
void Log(Logger* logger, LogLevel level, FormatText<Args...> format, const Args&... args) {
    // The threshold test comes first: a suppressed message costs one comparison.
    if (logger == nullptr || level > logger->threshold()) return;
    logger->Write(level, Format(format, args...));
}

template <class... Args>
[[noreturn]] void RaiseError(FormatText<Args...> format, const Args&... args) {
    throw std::wstring(Format(format, args...));
}

// Runs step and logs the text of an error it raises at the error level on the
// current device, for a sequence whose later steps run whatever an earlier one raised.
template <class Step>
void LoggingErrors(Step step) {
    try {
        step();
    } catch (const std::wstring& text) {
        Log(CurrentLogger(), LevelError, L"%s", text);
    }
}

}  // namespace kairovel
