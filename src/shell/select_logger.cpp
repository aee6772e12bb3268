#include "shell/select_logger.h"

#include <algorithm>
#include <memory>

#include "config/configuration.h"
#include "config/text_case.h"
#include "log/console_logger.h"
#include "log/event_logger.h"
#include "log/file_logger.h"
#include "log/logger.h"
#include "log/program_identity.h"
#include "timebase/numeric.h"

namespace kairovel {
namespace {

constexpr std::uint64_t kBytesPerKilobyte = 1024;

std::unique_ptr<Logger> MakeDevice(std::wstring_view text, LogFileChoice& file) {
    if (EqualsIgnoringCase(text, L"Console")) return std::make_unique<ConsoleLogger>();
    if (EqualsIgnoringCase(text, L"EventLog")) {
        return std::make_unique<EventLogger>(std::wstring(ServiceName), EventLogger::kMessageEventId);
    }
    file = ParseLogFileText(text);
    return std::make_unique<FileLogger>(file.fileName, file.maxSize);
}

}  // namespace

LogFileChoice ParseLogFileText(std::wstring_view text) {
    LogFileChoice choice;
    choice.fileName = kDefaultLogFileName;
    std::int64_t kilobytes = 0;
    const std::size_t comma = text.find(L',');
    if (comma == std::wstring_view::npos) {
        choice.fileName = text;
    } else {
        if (comma > 0) choice.fileName = text.substr(0, comma);
        choice.sizeText = text.substr(comma + 1);
        kilobytes = LeadingDecimalNumber(choice.sizeText);
    }
    if (kilobytes < 0) {
        choice.sizeRefused = true;
        choice.maxSize = kDefaultLogFileBytes;
    } else if (kilobytes == 0) {
        choice.maxSize = kDefaultLogFileBytes;
    } else if (static_cast<std::uint64_t>(kilobytes) * kBytesPerKilobyte > FileLogger::kLargestMaxSize) {
        choice.sizeRefused = true;
        choice.maxSize = FileLogger::kLargestMaxSize;
    } else {
        choice.maxSize = static_cast<std::uint32_t>(static_cast<std::uint64_t>(kilobytes) * kBytesPerKilobyte);
    }
    return choice;
}

void SelectLogger(std::wstring_view defaultDevice) {
    // The old device goes first: a log file it holds must be free for the new one.
    CloseCurrentLogger();
    const Configuration& configuration = TheConfiguration();
    const std::wstring_view text = configuration.LogDevice.empty() ? defaultDevice : configuration.LogDevice;
    LogFileChoice file;
    ReplaceCurrentLogger(MakeDevice(text, file));
    CurrentLogger()->SetThreshold(configuration.Trace);
    if (file.sizeRefused) {
        // Only a file device refuses a size; an existing file wraps at the size its header gives.
        const auto& device = static_cast<const FileLogger&>(*CurrentLogger());
        Log(CurrentLogger(), LevelError, L"Log file size \"%s\" is out of range; the file wraps at %u bytes",
            file.sizeText, device.maxSize());
    }
}

}  // namespace kairovel
