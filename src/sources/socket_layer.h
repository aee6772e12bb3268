// The socket layer's start-up count, shared by every client and the TIME server.
//
// Windows Sockets must be started before the first socket call and may be
// cleaned up after the last one. Each object that uses sockets holds one
// reference: the first reference starts the layer, the last one released
// cleans it up. The time server's thread and the synchronisation threads take
// and release references at the same time, so the count is guarded by a lock.
//
// The lock is constant-initialised: it exists before any code of the program
// runs, so a reference taken before the module start-up is still counted
// safely. The module start and end steps (run once by the program's start-up
// and shutdown, in that order around everything else) also run the time base's.
#pragma once

namespace kairovel {

// Once-only module start: the socket layer, then the time base.
void InitializeSocketLayer();
// Once-only module end: the time base, then the socket layer.
void TerminateSocketLayer();

// Takes a reference; starts Windows Sockets (version 1.1) for the first one.
// Returns 1 when the layer is usable, 0 (after logging why) when its start-up
// failed; the reference is held either way.
int SocketsStartup();
// Releases a reference; cleans Windows Sockets up after the last one.
void SocketsCleanup();

// One reference for the lifetime of the object that holds it.
class SocketLayerReference {
public:
    SocketLayerReference() { SocketsStartup(); }
    ~SocketLayerReference() { SocketsCleanup(); }
    SocketLayerReference(const SocketLayerReference&) = delete;
    SocketLayerReference& operator=(const SocketLayerReference&) = delete;
};

}  // namespace kairovel
