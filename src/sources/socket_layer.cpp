#include "sources/socket_layer.h"

#include <atomic>
#include <mutex>

#include "log/logger.h"
#include "platform/winsock.h"
#include "timebase/module.h"

namespace kairovel {
namespace {

// Made on first use: a mutex cannot be constant-initialised everywhere (not
// with the Windows threads of mingw-w64), and a socket may be used before
// this file's statics are made.
std::mutex& SocketLayerLock() {
    static std::mutex lock;
    return lock;
}
int socketLayerReferences = 0;  // guarded by SocketLayerLock()

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
        const std::lock_guard<std::mutex> lock(SocketLayerLock());
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
    const std::lock_guard<std::mutex> lock(SocketLayerLock());
    if (--socketLayerReferences == 0) platform::Winsock().WSACleanup();
}

}  // namespace kairovel
