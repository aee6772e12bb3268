// The network management stand-in of the Linux build: Samba's libnetapi,
// loaded at run time.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/netapi.h"

namespace kairovel::platform {

class SambaNetworkManagement final : public NetworkManagementFacility {
public:
    // libraryFile is opened with dlopen on the first call (normally
    // "libnetapi.so.1"); when it cannot be, every call fails with
    // ERROR_MOD_NOT_FOUND (ERROR_PROC_NOT_FOUND when it lacks an entry point).
    explicit SambaNetworkManagement(std::string libraryFile = "libnetapi.so.1");
    ~SambaNetworkManagement() override;
    SambaNetworkManagement(const SambaNetworkManagement&) = delete;
    SambaNetworkManagement& operator=(const SambaNetworkManagement&) = delete;

    NET_API_STATUS NetGetDCName(const wchar_t* serverName, const wchar_t* domainName, LPBYTE* buffer) override;
    NET_API_STATUS NetRemoteTOD(const wchar_t* uncServerName, LPBYTE* buffer) override;
    NET_API_STATUS NetApiBufferFree(void* buffer) override;

    // How many buffers were handed out and not yet freed.
    std::size_t OutstandingBuffers() const;

private:
    class HandedBuffers;
    std::string libraryFile_;
    std::unique_ptr<HandedBuffers> buffers_;
};

}  // namespace kairovel::platform
