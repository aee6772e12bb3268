#include "sources/socket_layer.h"

#include <atomic>
#include <mutex>

#include "log/logger.h"
#include "platform/winsock.h"
#include "timebase/module.h"

namespace kairovel {
namespace {

constinit std::mutex socketLayerLock;
int socketLayerReferences = 0;  // guarded by socketLayerLock

std::atomic<bool> initialized{false};
std::atomic<bool> terminated{false};

}  // namespace

void InitializeSocketLayer() {
    if (initialized.exchange(true)) return;
    InitializeTimeBase();
}

void TerminateSocketLayer() {
    if (terminated.exchange(true)) return;
    TerminateTimeBase();
}

int SocketsStartup() {
    int error = 0;
    {
        const std::lock_guard<std::mutex> lock(socketLayerLock);
        if (++socketLayerReferences != 1) return 1;
        platform::WSADATA data;
        error = platform::Winsock().WSAStartup(platform::kWinsockVersion11, data);
    }
    if (error == 0) return 1;
    // The reference stays counted; the caller's first socket call fails with its own message.
    Log(CurrentLogger(), LevelError, L"Error %d occured during WSAStartup. This is required for all socket calls.",
        error);
    return 0;
}

void SocketsCleanup() {
    const std::lock_guard<std::mutex> lock(socketLayerLock);
    if (--socketLayerReferences == 0) platform::Winsock().WSACleanup();
}

}  // namespace kairovel
