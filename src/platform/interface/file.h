// Files: the Windows calls the log file is written with.
//
// CreateFileW opens or creates a file with an access and a share mode, and
// the other calls work on the handle it returns, with the Windows meanings:
// one file pointer per handle, 32-bit positions unless the high half is
// asked for, failures answered with false (or INVALID_SET_FILE_POINTER,
// INVALID_FILE_SIZE) and the Windows error code in the thread's last error.
//
// Sharing works as on Windows between every handle this facility opens, in
// this process or another: a file opened for writing without FILE_SHARE_WRITE
// refuses a second writer with ERROR_SHARING_VIOLATION, while readers that
// leave writing to others (FILE_SHARE_WRITE) are let in. Programs that do not
// go through this facility are not held back by it.
//
// This is the facility without its constants, for the Windows backend beside
// windows.h; platform/file.h adds them under their Windows names.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/facility.h"
#include "platform/interface/win_types.h"

namespace kairovel::platform {

class FileFacility {
public:
    virtual ~FileFacility() = default;

    // Opens or creates fileName. On success the last error is
    // ERROR_ALREADY_EXISTS when OPEN_ALWAYS or CREATE_ALWAYS found the file, 0
    // otherwise; on failure INVALID_HANDLE_VALUE is returned. A folder is not
    // a file: opening one is refused with ERROR_ACCESS_DENIED.
    virtual HANDLE CreateFileW(std::wstring_view fileName, std::uint32_t desiredAccess, std::uint32_t shareMode,
                               std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) = 0;
    // Reads up to toRead bytes at the file pointer; fewer only at the end of the file.
    virtual bool ReadFile(HANDLE file, void* buffer, std::uint32_t toRead, std::uint32_t& read) = 0;
    // Writes all bytes at the file pointer, or fails (a full disk: ERROR_DISK_FULL)
    // with written telling how many went out before the failure.
    virtual bool WriteFile(HANDLE file, const void* buffer, std::uint32_t toWrite, std::uint32_t& written) = 0;
    // Moves the file pointer. Without distanceHigh, distance is a signed 32-bit
    // offset and a new position beyond 32 bits is refused; with it, the two
    // make a signed 64-bit offset and distanceHigh receives the new high half.
    // Answers the new position's low half.
    virtual std::uint32_t SetFilePointer(HANDLE file, std::int32_t distance, std::int32_t* distanceHigh,
                                         std::uint32_t moveMethod) = 0;
    // Cuts (or extends) the file at the file pointer.
    virtual bool SetEndOfFile(HANDLE file) = 0;
    // The file's size: the low half answered, the high half in sizeHigh if given.
    virtual std::uint32_t GetFileSize(HANDLE file, std::uint32_t* sizeHigh) = 0;
    // Writes everything written so far through to the disk.
    virtual bool FlushFileBuffers(HANDLE file) = 0;
    virtual bool CloseHandle(HANDLE file) = 0;
};

template <>
FileFacility& DefaultFacility<FileFacility>();

inline FileFacility& Files() { return Facility<FileFacility>::Get(); }

}  // namespace kairovel::platform
