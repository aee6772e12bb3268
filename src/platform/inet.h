// WinInet (platform/interface/inet.h) with the access types, flags, query
// levels and error codes of the Windows calls.
#pragma once

#include <cstdint>

#include "platform/interface/inet.h"
#include "platform/win_types.h"

namespace kairovel::platform {

// InternetOpenA access types.
inline constexpr std::uint32_t INTERNET_OPEN_TYPE_PRECONFIG = 0;  // the system's proxy settings
inline constexpr std::uint32_t INTERNET_OPEN_TYPE_DIRECT = 1;
inline constexpr std::uint32_t INTERNET_OPEN_TYPE_PROXY = 3;
// HttpQueryInfoA: the status code, as a number rather than text.
inline constexpr std::uint32_t HTTP_QUERY_STATUS_CODE = 19;
inline constexpr std::uint32_t HTTP_QUERY_FLAG_NUMBER = 0x20000000;
// InternetOpenUrlA flag: the response is not written to the cache.
inline constexpr std::uint32_t INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000;
// Header length that means "the headers are a null-terminated string".
inline constexpr std::uint32_t kHeadersNullTerminated = 0xFFFFFFFF;

// WinInet error codes.
enum : std::uint32_t {
    ERROR_INTERNET_TIMEOUT = 12002,
    ERROR_INTERNET_EXTENDED_ERROR = 12003,
    ERROR_INTERNET_INTERNAL_ERROR = 12004,
    ERROR_INTERNET_INVALID_URL = 12005,
    ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006,
    ERROR_INTERNET_NAME_NOT_RESOLVED = 12007,
    ERROR_INTERNET_LOGIN_FAILURE = 12015,
    ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018,
    ERROR_INTERNET_CANNOT_CONNECT = 12029,
    ERROR_INTERNET_CONNECTION_ABORTED = 12030,
    ERROR_INTERNET_CONNECTION_RESET = 12031,
    ERROR_INTERNET_INVALID_CA = 12045,
    ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152,
    ERROR_HTTP_REDIRECT_FAILED = 12156,
    ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157,
};

}  // namespace kairovel::platform
