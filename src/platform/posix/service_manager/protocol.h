// What the two sides of the service manager say to each other beside systemd.
//
// The start parameters of StartServiceW are a StartRequest (the service's
// name first), kept in the run-time folder's start-parameters file until the
// service has read them.
//
// The controls systemd has no verb for go to the service's dispatcher on its
// control socket (runtime_folder.h), which only root may reach: one
// ControlRequest per connection, answered by a ControlReply with the status
// the handler reported. The dispatcher refuses a peer that is not root.
//
// Messages are datagrams of a sequenced-packet socket: a 32-bit kind, then
// 32-bit numbers in the machine's order (both ends are the same build) and,
// for the start, the wide-character arguments each ended by a null.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/service_types.h"

namespace kairovel::platform::scm {

struct StartRequest {
    std::vector<std::wstring> arguments;  // the service's name first
};
struct ControlRequest {
    std::uint32_t control = 0;
};
struct ControlReply {
    std::uint32_t error = 0;
    SERVICE_STATUS status;
};

using Message = std::vector<std::uint8_t>;

Message Encode(const StartRequest& request);
Message Encode(const ControlRequest& request);
Message Encode(const ControlReply& reply);
bool Decode(const Message& message, StartRequest& request);
bool Decode(const Message& message, ControlRequest& request);
bool Decode(const Message& message, ControlReply& reply);

// Sends one message; false with the Windows code in error.
bool SendMessage(int socket, const Message& message, std::uint32_t& error);

// Waits up to timeout for one message. ERROR_SUCCESS with the message;
// ERROR_SERVICE_REQUEST_TIMEOUT when none came; ERROR_PROCESS_ABORTED when
// the peer closed without answering; another code when the socket failed.
std::uint32_t ReceiveMessage(int socket, Message& message, std::chrono::milliseconds timeout);

// A new sequenced-packet socket connected to a dispatcher's control socket, or
// -1 with the Windows code in error (ERROR_ACCESS_DENIED for a caller that may
// not reach it, ERROR_SERVICE_NOT_ACTIVE when nobody listens there).
int ConnectToDispatcher(const std::filesystem::path& socketFile, std::uint32_t& error);
// A listening control socket at socketFile, which only its owner may connect to; -1 with error.
int ListenForControls(const std::filesystem::path& socketFile, std::uint32_t& error);
// The user id of a connected peer, or -1.
long PeerUserId(int socket);

}  // namespace kairovel::platform::scm
