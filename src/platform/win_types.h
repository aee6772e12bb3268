// Windows data types and error codes as the rest of the program sees them.
//
// The program is written against the Windows API; these definitions give the
// records and codes that API uses the same layout and values on every build,
// without pulling windows.h into the system folders. The records are in
// platform/interface/win_types.h; the codes here have the names windows.h
// gives them as macros, so the Windows backend never includes this header.
#pragma once

#include <cstdint>

#include "platform/interface/win_types.h"

namespace kairovel::platform {

// Windows system error codes that the program's messages carry.
enum : std::uint32_t {
    ERROR_SUCCESS = 0,
    ERROR_FILE_NOT_FOUND = 2,
    ERROR_PATH_NOT_FOUND = 3,
    ERROR_TOO_MANY_OPEN_FILES = 4,
    ERROR_ACCESS_DENIED = 5,
    ERROR_INVALID_HANDLE = 6,
    ERROR_NOT_ENOUGH_MEMORY = 8,
    ERROR_INVALID_DATA = 13,
    ERROR_WRITE_FAULT = 29,
    ERROR_READ_FAULT = 30,
    ERROR_SHARING_VIOLATION = 32,
    ERROR_HANDLE_DISK_FULL = 39,
    ERROR_NOT_SUPPORTED = 50,
    ERROR_INVALID_PARAMETER = 87,
    ERROR_DISK_FULL = 112,
    ERROR_CALL_NOT_IMPLEMENTED = 120,
    ERROR_INSUFFICIENT_BUFFER = 122,
    ERROR_MOD_NOT_FOUND = 126,
    ERROR_PROC_NOT_FOUND = 127,
    ERROR_BUSY = 170,
    ERROR_ALREADY_EXISTS = 183,
    ERROR_MORE_DATA = 234,
    ERROR_NO_MORE_ITEMS = 259,
    ERROR_SIGNAL_REFUSED = 156,
    ERROR_INVALID_NAME = 123,
    ERROR_BAD_EXE_FORMAT = 193,
    ERROR_FILENAME_EXCED_RANGE = 206,
    ERROR_INVALID_SERVICE_CONTROL = 1052,
    ERROR_SERVICE_REQUEST_TIMEOUT = 1053,
    ERROR_SERVICE_ALREADY_RUNNING = 1056,
    ERROR_SERVICE_DISABLED = 1058,
    ERROR_SERVICE_DATABASE_LOCKED = 1055,
    ERROR_SERVICE_DOES_NOT_EXIST = 1060,
    ERROR_SERVICE_CANNOT_ACCEPT_CTRL = 1061,
    ERROR_SERVICE_NOT_ACTIVE = 1062,
    ERROR_FAILED_SERVICE_CONTROLLER_CONNECT = 1063,
    ERROR_PROCESS_ABORTED = 1067,
    ERROR_SERVICE_MARKED_FOR_DELETE = 1072,
    ERROR_SERVICE_EXISTS = 1073,
    ERROR_SERVICE_NOT_IN_EXE = 1083,
    ERROR_IO_DEVICE = 1117,
    ERROR_KEY_DELETED = 1018,
    ERROR_CANTOPEN = 1011,
    ERROR_CANTREAD = 1012,
    ERROR_CANTWRITE = 1013,
    ERROR_BADDB = 1009,
    ERROR_NOT_ALL_ASSIGNED = 1300,
    ERROR_NO_SUCH_PRIVILEGE = 1313,
    ERROR_PRIVILEGE_NOT_HELD = 1314,
    RPC_S_SERVER_UNAVAILABLE = 1722,
};

}  // namespace kairovel::platform
