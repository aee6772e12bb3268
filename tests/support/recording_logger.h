// A log device that keeps every message, for tests; it becomes the current
// device for its lifetime. Threads may log to it together.
#pragma once

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "log/logger.h"

namespace kairovel::testing {

class RecordingDevice final : public Logger {
public:
    struct Line {
        LogLevel level;
        std::wstring text;
    };

    void Write(LogLevel level, const std::wstring& message) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back({level, message});
    }

    std::vector<Line> Lines() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    void Clear() {
        const std::lock_guard<std::mutex> lock(mutex_);
        lines_.clear();
    }

private:
    std::mutex mutex_;
    std::vector<Line> lines_;
};

// Installs a RecordingDevice (at the trace level) as the current logger; closes it at the end.
class ScopedRecordingLogger {
public:
    ScopedRecordingLogger() {
        auto device = std::make_unique<RecordingDevice>();
        device->SetThreshold(LevelTrace);
        device_ = device.get();
        ReplaceCurrentLogger(std::move(device));
    }
    ~ScopedRecordingLogger() { CloseCurrentLogger(); }
    ScopedRecordingLogger(const ScopedRecordingLogger&) = delete;
    ScopedRecordingLogger& operator=(const ScopedRecordingLogger&) = delete;

    std::vector<RecordingDevice::Line> Lines() { return device_->Lines(); }
    // The texts of every line, in order.
    std::vector<std::wstring> Texts() {
        std::vector<std::wstring> out;
        for (const auto& line : device_->Lines()) out.push_back(line.text);
        return out;
    }
    // The texts of the lines of one level.
    std::vector<std::wstring> Texts(LogLevel level) {
        std::vector<std::wstring> out;
        for (const auto& line : device_->Lines()) {
            if (line.level == level) out.push_back(line.text);
        }
        return out;
    }

    // Forgets the lines logged so far.
    void Clear() { device_->Clear(); }

private:
    RecordingDevice* device_;
};

}  // namespace kairovel::testing
