// Fetching a URL whole: the body of a parameter URL.
//
// One call fetches an http, https or ftp URL within the limits it is given
// and answers with the HTTP status (none for ftp) and the body, or with the
// step that failed and its Windows (WinInet) error code. An HTTP server that
// answers gives its status whatever it is, with the body it sent (an error
// page, perhaps), so that the caller can tell an error page from content.
//
// The library that fetches is loaded at run time, at the first fetch, and
// stays loaded: on Windows wininet.dll; on Linux libcurl, whose failures are
// given the WinInet codes. libcurl applies every limit; WinInet applies the
// body's, and keeps its own time and redirect limits.
//
// The Windows backend includes this one beside windows.h; platform/url_fetch.h
// is the same facility with the WinInet error codes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/facility.h"

namespace kairovel::platform {

// Bounds of one fetch, so that no server can hold the program up or fill its memory.
struct UrlFetchLimits {
    std::uint32_t connectTimeoutMilliseconds;  // name resolution and connection
    std::uint32_t totalTimeoutMilliseconds;    // the whole fetch, redirects included
    std::uint32_t maxBodyBytes;
    std::uint32_t maxRedirects;
};

struct UrlRequest {
    std::string url;     // in the narrow code page
    std::string agent;   // the program's name, sent as the User-Agent
    std::string accept;  // the media type asked for
    UrlFetchLimits limits;
};

// The steps of a fetch as WinInet takes them, each failure said its own way.
enum class UrlFetchStep {
    kLoadLibrary,     // the library that fetches could not be loaded
    kFindEntryPoint,  // it lacks an entry point: UrlFetchResult::missingEntryPoint
    kOpenSession,
    kOpenUrl,   // no answer: the URL is not one to fetch, or its server cannot be reached or refused
    kReadBody,  // the answer came, but not its body whole: it passed the limit, or a read of it failed
};

struct UrlFetchResult {
    std::optional<UrlFetchStep> failedStep;  // none: fetched
    std::uint32_t error = 0;                 // the failed step's code
    std::string missingEntryPoint;
    std::uint32_t httpStatus = 0;  // also when the body failed; 0 for an answer of another protocol
    std::string body;
};

class UrlFetchFacility {
public:
    virtual ~UrlFetchFacility() = default;

    virtual UrlFetchResult Fetch(const UrlRequest& request) = 0;
};

template <>
UrlFetchFacility& DefaultFacility<UrlFetchFacility>();

inline UrlFetchFacility& UrlFetch() { return Facility<UrlFetchFacility>::Get(); }

}  // namespace kairovel::platform
