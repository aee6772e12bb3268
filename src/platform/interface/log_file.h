// The log file: one file the program writes alone while others may read it.
//
// The log file device opens (or creates) its file once and holds it for its
// life, reading and writing it at offsets, cutting it, sizing it and flushing
// it. A log file has one writer: while it is open, another open of the same
// file, in this process or another, is refused with ERROR_SHARING_VIOLATION;
// programs that only read it are let in. (On Linux the refusal holds between
// the opens of this facility; Windows refuses every other writer.) Calls that
// fail answer false (Open: null) and leave the Windows error code in the
// thread's last error; a write that finds no room fails with ERROR_DISK_FULL.
//
// The Windows backend includes this one beside windows.h; platform/log_file.h
// is the same facility with the codes it fails with.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/facility.h"

namespace kairovel::platform {

// An open log file; destroying it closes the file.
class LogFile {
public:
    virtual ~LogFile() = default;

    // Reads up to size bytes at offset; fewer only at the end of the file.
    virtual bool ReadAt(std::uint64_t offset, void* buffer, std::uint32_t size, std::uint32_t& read) = 0;
    // Writes all bytes at offset, or fails with written telling how many went
    // out before the failure.
    virtual bool WriteAt(std::uint64_t offset, const void* bytes, std::uint32_t size, std::uint32_t& written) = 0;
    // Cuts (or extends) the file to size bytes.
    virtual bool Truncate(std::uint64_t size) = 0;
    virtual bool Size(std::uint64_t& size) = 0;
    // Writes everything written so far through to the disk.
    virtual bool Flush() = 0;
};

class LogFileFacility {
public:
    virtual ~LogFileFacility() = default;

    // Opens fileName for reading and writing, creating it when it is missing.
    // A folder is not a log file: it is refused with ERROR_ACCESS_DENIED.
    virtual std::unique_ptr<LogFile> Open(std::wstring_view fileName) = 0;
};

template <>
LogFileFacility& DefaultFacility<LogFileFacility>();

inline LogFileFacility& LogFiles() { return Facility<LogFileFacility>::Get(); }

}  // namespace kairovel::platform
