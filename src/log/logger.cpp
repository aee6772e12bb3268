#include "log/logger.h"

namespace kairovel {
namespace {

std::atomic<Logger*> currentLogger{nullptr};

}  // namespace

std::wstring_view LevelWord(LogLevel level) {
    switch (level) {
        case LevelError:
            return L"(Error)";
        case LevelInfo:
            return L"(Info )";
        case LevelOk:
            return L"(Ok   )";
        default:
            return L"(Trace)";
    }
}

Logger* CurrentLogger() { return currentLogger.load(std::memory_order_acquire); }

void ReplaceCurrentLogger(std::unique_ptr<Logger> device) {
    delete currentLogger.exchange(nullptr, std::memory_order_acq_rel);
    currentLogger.store(device.release(), std::memory_order_release);
}

void CloseCurrentLogger() { ReplaceCurrentLogger(nullptr); }

}  // namespace kairovel
