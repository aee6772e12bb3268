#include "platform/system_message.h"

#include <string_view>

#include "platform/win_types.h"

namespace kairovel::platform {
namespace {

struct SystemMessage {
    std::uint32_t code;
    std::wstring_view text;
};

// The codes the platform's calls leave, with the system's words for them.
constexpr SystemMessage kSystemMessages[] = {
    {ERROR_SUCCESS, L"The operation completed successfully."},
    {ERROR_FILE_NOT_FOUND, L"The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, L"The system cannot find the path specified."},
    {ERROR_TOO_MANY_OPEN_FILES, L"The system cannot open the file."},
    {ERROR_ACCESS_DENIED, L"Access is denied."},
    {ERROR_INVALID_HANDLE, L"The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, L"Not enough memory resources are available to process this command."},
    {ERROR_INVALID_DATA, L"The data is invalid."},
    {ERROR_HANDLE_DISK_FULL, L"The disk is full."},
    {ERROR_NOT_SUPPORTED, L"The request is not supported."},
    {ERROR_INVALID_PARAMETER, L"The parameter is incorrect."},
    {ERROR_CALL_NOT_IMPLEMENTED, L"This function is not supported on this system."},
    {ERROR_INVALID_NAME, L"The filename, directory name, or volume label syntax is incorrect."},
    {ERROR_BUSY, L"The requested resource is in use."},
    {ERROR_ALREADY_EXISTS, L"Cannot create a file when that file already exists."},
    {ERROR_BAD_EXE_FORMAT, L"The program is not a valid application."},
    {ERROR_FILENAME_EXCED_RANGE, L"The filename or extension is too long."},
    {ERROR_MORE_DATA, L"More data is available."},
    {ERROR_BADDB, L"The configuration registry database is corrupt."},
    {ERROR_CANTOPEN, L"The configuration registry key could not be opened."},
    {ERROR_CANTREAD, L"The configuration registry key could not be read."},
    {ERROR_CANTWRITE, L"The configuration registry key could not be written."},
    {ERROR_KEY_DELETED, L"Illegal operation attempted on a registry key that has been marked for deletion."},
    {ERROR_INVALID_SERVICE_CONTROL, L"The requested control is not valid for this service."},
    {ERROR_SERVICE_REQUEST_TIMEOUT, L"The service did not respond to the start or control request in a timely fashion."},
    {ERROR_SERVICE_ALREADY_RUNNING, L"An instance of the service is already running."},
    {ERROR_SERVICE_DISABLED,
     L"The service cannot be started, either because it is disabled or because it has no enabled devices associated "
     L"with it."},
    {ERROR_SERVICE_DATABASE_LOCKED, L"The service database is locked."},
    {ERROR_SERVICE_DOES_NOT_EXIST, L"The specified service does not exist as an installed service."},
    {ERROR_SERVICE_CANNOT_ACCEPT_CTRL, L"The service cannot accept control messages at this time."},
    {ERROR_SERVICE_NOT_ACTIVE, L"The service has not been started."},
    {ERROR_FAILED_SERVICE_CONTROLLER_CONNECT, L"The service process could not connect to the service controller."},
    {ERROR_PROCESS_ABORTED, L"The process terminated unexpectedly."},
    {ERROR_SERVICE_MARKED_FOR_DELETE, L"The specified service has been marked for deletion."},
    {ERROR_SERVICE_EXISTS, L"The specified service already exists."},
    {ERROR_SERVICE_NOT_IN_EXE,
     L"The executable program that this service is configured to run in does not implement the service."},
    {ERROR_IO_DEVICE, L"The request could not be performed because of an I/O device error."},
    {ERROR_PRIVILEGE_NOT_HELD, L"A required privilege is not held by the client."},
    {RPC_S_SERVER_UNAVAILABLE, L"The RPC server is unavailable."},
};

}  // namespace

std::wstring SystemErrorMessage(std::uint32_t code) {
    for (const SystemMessage& message : kSystemMessages) {
        if (message.code == code) return std::wstring(message.text);
    }
    return {};
}

}  // namespace kairovel::platform
