// Fetching a URL on Linux: libcurl, loaded at run time.
#pragma once

#include <memory>
#include <string>

#include "platform/url_fetch.h"

namespace kairovel::platform {

// A fetch through libraryFile (normally "libcurl.so.4"), opened with dlopen
// at the first fetch and kept from then on; while it cannot be opened, or
// lacks an entry point, every fetch fails to load it with ERROR_MOD_NOT_FOUND
// or ERROR_PROC_NOT_FOUND.
std::unique_ptr<UrlFetchFacility> MakeCurlUrlFetch(std::string libraryFile);

}  // namespace kairovel::platform
