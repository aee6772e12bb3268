// The log file device: a wrap-around file that never grows much beyond its
// size and always says in its header where its newest line ends.
//
// Each line is written, then the end marker after it, then the header with
// the marker's position, then the file is flushed to the disk, so the file is
// whole after every line. Lines go to the file one at a time: the writes of
// two threads never mix, and the header always matches the file. When a line
// cannot be written whole (a full disk), it is taken back: the end marker is
// put back where it stood and whatever the line added to the file is cut off.
// The file is held open for the device's whole life, readable by others but
// not writable by them; a file that cannot be opened leaves the device silent.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "log/log_file_layout.h"
#include "log/logger.h"
#include "platform/log_file.h"

namespace kairovel {

class FileLogger final : public Logger {
public:
    // The largest wrap size, in bytes: every position stays a positive 32-bit
    // number in the header, with room for a line of any sensible length.
    static constexpr std::uint32_t kLargestMaxSize = 1u << 30;

    // Opens (or creates) the file, takes the position and the size from its
    // header when it has one, and writes the start line "--start--".
    FileLogger(const std::wstring& fileName, std::uint32_t maxSize);

    void Write(LogLevel level, const std::wstring& message) override;

    bool IsOpen() const { return file_ != nullptr; }
    // The wrap size in force: the header's one for a file that had it.
    std::uint32_t maxSize() const { return maxSize_; }

private:
    void TakePositionFromHeader(std::uint64_t fileSize);
    // Writes bytes at offset; written tells how many went out.
    bool WriteAt(std::uint32_t offset, std::string_view bytes, std::uint32_t& written);
    void WriteHeader(std::uint32_t position);
    void TakeBackLine(std::uint32_t oldPosition, std::uint64_t oldSize);

    std::unique_ptr<platform::LogFile> file_;
    std::uint32_t maxSize_;
    std::uint32_t position_ = log_file::kHeaderBytes;  // where the end marker stands: the next line's offset
    std::mutex mutex_;                      // one line at a time
};

}  // namespace kairovel
