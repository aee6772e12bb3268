// Libraries the stand-ins open at run time (libcurl, Samba's libnetapi):
// nothing of them is linked, their entry points are looked up by name.
//
// A library once opened stays mapped until the process ends, whatever its
// load count says: the libraries these two bring in (GnuTLS, p11-kit,
// Kerberos) keep thread-local data and thread-exit handlers of their own,
// which must not outlive their code. Unmapping them while a thread that used
// them lives on leaves that thread with stale thread-local storage.
#pragma once

#include <dlfcn.h>

#include <cstdint>
#include <string>

#include "platform/win_types.h"

namespace kairovel::platform {

// Opens libraryFile for the rest of the process (dlclose only counts down);
// null when it cannot be opened.
inline void* OpenLibraryForLife(const std::string& libraryFile) {
    return ::dlopen(libraryFile.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
}

// Looks up one entry point as the function type it has; false when the library has none of that name.
template <class Function>
bool ResolveSymbol(void* library, const char* name, Function& out) {
    out = reinterpret_cast<Function>(::dlsym(library, name));
    return out != nullptr;
}

// Opens libraryFile and has resolveAll(library) look up its entry points. The
// library, or null with error ERROR_MOD_NOT_FOUND when it cannot be opened, or
// ERROR_PROC_NOT_FOUND when an entry point is missing (it is closed again then).
template <class ResolveAll>
void* OpenLibrary(const std::string& libraryFile, ResolveAll&& resolveAll, std::uint32_t& error) {
    void* library = OpenLibraryForLife(libraryFile);
    if (library == nullptr) {
        error = ERROR_MOD_NOT_FOUND;
        return nullptr;
    }
    if (!resolveAll(library)) {
        ::dlclose(library);
        error = ERROR_PROC_NOT_FOUND;
        return nullptr;
    }
    return library;
}

}  // namespace kairovel::platform
