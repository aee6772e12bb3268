// Fetching a URL (platform/interface/url_fetch.h), with the WinInet error
// codes its failures carry.
#pragma once

#include <cstdint>

#include "platform/interface/url_fetch.h"
#include "platform/win_types.h"

namespace kairovel::platform {

// WinInet error codes.
enum : std::uint32_t {
    ERROR_INTERNET_TIMEOUT = 12002,
    ERROR_INTERNET_EXTENDED_ERROR = 12003,
    ERROR_INTERNET_INTERNAL_ERROR = 12004,
    ERROR_INTERNET_INVALID_URL = 12005,
    ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006,
    ERROR_INTERNET_NAME_NOT_RESOLVED = 12007,
    ERROR_INTERNET_LOGIN_FAILURE = 12015,
    ERROR_INTERNET_CANNOT_CONNECT = 12029,
    ERROR_INTERNET_CONNECTION_ABORTED = 12030,
    ERROR_INTERNET_CONNECTION_RESET = 12031,
    ERROR_INTERNET_INVALID_CA = 12045,
    ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152,
    ERROR_HTTP_REDIRECT_FAILED = 12156,
    ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157,
};

}  // namespace kairovel::platform
