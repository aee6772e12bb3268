#include "log/file_logger.h"

#include <algorithm>

#include "log/log_file_layout.h"
#include "platform/clock.h"
#include "platform/codepage.h"

namespace kairovel {
namespace {

using log_file::kHeaderBytes;

// The highest offset a line may end at: positions stay positive in the header's %d.
constexpr std::uint64_t kLargestPosition = 0x7FFFFFFF;

}  // namespace

FileLogger::FileLogger(const std::wstring& fileName, std::uint32_t maxSize)
    : file_(platform::LogFiles().Open(fileName)), maxSize_(std::min(maxSize, kLargestMaxSize)) {
    if (!IsOpen()) return;  // silent from now on

    std::uint64_t size = 0;
    if (!file_->Size(size)) {
        file_.reset();
        return;
    }
    if (size == 0) {
        position_ = kHeaderBytes;
        WriteHeader(position_);
    } else {
        TakePositionFromHeader(size);
    }
    Log(this, LevelOk, L"--start--");
}

void FileLogger::TakePositionFromHeader(std::uint64_t fileSize) {
    std::string bytes(kHeaderBytes, '\0');
    std::uint32_t read = 0;
    if (!file_->ReadAt(0, bytes.data(), kHeaderBytes, read)) read = 0;
    bytes.resize(read);
    const log_file::StoredHeader stored = log_file::ParseHeader(bytes);

    // The file keeps the size it was made with, when its header gives a usable one.
    if (stored.numbersRead >= 2 && stored.maxSize >= 0 &&
        static_cast<std::uint32_t>(stored.maxSize) <= kLargestMaxSize) {
        maxSize_ = static_cast<std::uint32_t>(stored.maxSize);
    }
    // Unsigned, so a negative position counts as too large. A position inside
    // the header would have the next header overwrite the line's first bytes.
    const std::uint32_t position = stored.numbersRead >= 1 ? static_cast<std::uint32_t>(stored.position) : 0;
    if (position < kHeaderBytes || position > fileSize) {
        position_ = kHeaderBytes;
        WriteHeader(position_);
    } else {
        position_ = position;
    }
}

void FileLogger::Write(LogLevel level, const std::wstring& message) {
    if (!IsOpen()) return;
    // The time is read under the lock too, so the stamps run in the file's order.
    const std::lock_guard<std::mutex> lock(mutex_);
    platform::SYSTEMTIME now;
    platform::Clock().GetLocalTime(now);
    const std::string line = log_file::LineBytes(now, level, message);
    const std::string marker = log_file::EndMarkerBytes();
    std::uint64_t size = 0;
    if (!file_->Size(size)) return;
    if (position_ > size) {  // someone cut the file: start again after the header
        position_ = kHeaderBytes;
        WriteHeader(position_);
    }
    const std::uint64_t end = std::uint64_t{position_} + line.size();
    if (end > kLargestPosition) return;  // a line of gigabytes has no place in the file

    // A line that passes the wrap size is the file's last; the marker goes to
    // the start. A line that starts right after the header stays where it is
    // however long it is, since the marker would overwrite it.
    const bool wraps = end > maxSize_ && position_ > kHeaderBytes;
    const std::uint32_t oldPosition = position_;
    std::uint32_t written = 0;
    std::uint32_t newPosition = 0;
    if (!wraps) {
        if (!WriteAt(position_, line + marker, written)) return TakeBackLine(oldPosition, size);
        newPosition = static_cast<std::uint32_t>(end);
    } else {
        if (!WriteAt(position_, line, written)) return TakeBackLine(oldPosition, size);
        file_->Truncate(end);  // on failure the old lines beyond simply stay
        if (!WriteAt(kHeaderBytes, marker, written)) return TakeBackLine(oldPosition, size);
        newPosition = kHeaderBytes;
    }
    WriteHeader(newPosition);
    position_ = newPosition;
    file_->Flush();
}

// After a line could not be written whole: the marker goes back to where the
// header still says it is, and what the line added beyond the old end is cut
// off, so the file reads as if the line had never been logged.
void FileLogger::TakeBackLine(std::uint32_t oldPosition, std::uint64_t oldSize) {
    std::uint32_t written = 0;
    WriteAt(oldPosition, log_file::EndMarkerBytes(), written);
    const std::uint64_t keep = std::max<std::uint64_t>(oldSize, oldPosition + written);
    std::uint64_t size = 0;
    if (file_->Size(size) && size > keep) file_->Truncate(keep);
    file_->Flush();
}

bool FileLogger::WriteAt(std::uint32_t offset, std::string_view bytes, std::uint32_t& written) {
    return file_->WriteAt(offset, bytes.data(), static_cast<std::uint32_t>(bytes.size()), written);
}

void FileLogger::WriteHeader(std::uint32_t position) {
    std::uint32_t written = 0;
    WriteAt(0, log_file::HeaderBytes(position, maxSize_), written);
}

}  // namespace kairovel
