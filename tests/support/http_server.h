// A small HTTP server on the loopback interface for the tests of parameter URLs.
//
// It listens on 127.0.0.1 at a port the system picks, answers each request
// from a script of responses by path (404 for a path it does not know), and
// records what it was asked. Delays and silent closes stand in for slow and
// broken servers. Every wait of the server is bounded and ends when it is destroyed.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kairovel::testing {

struct HttpResponse {
    int status = 200;
    std::string reason = "OK";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // besides Content-Length and Connection
    std::chrono::milliseconds delayBeforeAnswer{0};             // nothing is sent until then
    bool closeWithoutAnswer = false;                            // the connection ends without a byte
};

// One request as received: its request line and header lines.
struct HttpRequest {
    std::string method;
    std::string path;
    std::string head;  // the whole head, request line included
};

class LoopbackHttpServer {
public:
    LoopbackHttpServer();
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    void Serve(const std::string& path, HttpResponse response);
    // Serves a 200 response with body.
    void ServeText(const std::string& path, const std::string& body);

    std::uint16_t port() const { return port_; }
    std::string Url(const std::string& path) const;
    std::vector<HttpRequest> Requests() const;

private:
    void Run();
    void Answer(int connection);
    bool WaitOrStop(std::chrono::milliseconds delay);

    int listener_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::uint16_t port_ = 0;
    mutable std::mutex mutex_;
    std::map<std::string, HttpResponse> responses_;
    std::vector<HttpRequest> requests_;
    std::thread thread_;
};

// A loopback port where a socket is bound but nobody listens: connecting is refused.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    std::uint16_t port() const { return port_; }

private:
    int socket_ = -1;
    std::uint16_t port_ = 0;
};

}  // namespace kairovel::testing
