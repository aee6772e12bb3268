// Fetching URLs on Windows (wininet.dll) from an HTTP server of the test's
// own on loopback, through the facility and the parameter URL reader.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>

#include "config/url_reader.h"
#include "platform/url_fetch.h"
#include "platform/winsock.h"

namespace kairovel {
namespace {

using namespace platform;

// Answers each connection with the response of the requested path (404 for
// others), until it has answered as many as it was told.
class TinyHttpServer {
public:
    TinyHttpServer(std::map<std::string, std::string> responses, int connections)
        : responses_(std::move(responses)) {
        WSADATA data;
        Winsock().WSAStartup(kWinsockVersion11, data);
        for (port_ = 41000; port_ < 41100; ++port_) {
            listener_ = Winsock().socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address;
            address.sin_family = AF_INET;
            address.sin_port = htons(port_);
            address.sin_addr.s_addr = htonl(0x7F000001);
            if (Winsock().bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) break;
            Winsock().closesocket(listener_);
        }
        Winsock().listen(listener_, 4);
        thread_ = std::thread([this, connections] {
            for (int i = 0; i < connections; ++i) Answer(Winsock().accept(listener_, nullptr, nullptr));
        });
    }
    ~TinyHttpServer() {
        thread_.join();
        Winsock().closesocket(listener_);
        Winsock().WSACleanup();
    }

    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

private:
    void Answer(SOCKET connection) {
        std::string request;
        char buffer[1024];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const int n = Winsock().recv(connection, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            request.append(buffer, static_cast<std::size_t>(n));
        }
        const std::size_t pathStart = request.find(' ') + 1;
        const std::string path = request.substr(pathStart, request.find(' ', pathStart) - pathStart);
        const auto found = responses_.find(path);
        const std::string status = found != responses_.end() ? "200 OK" : "404 Not Found";
        const std::string body = found != responses_.end() ? found->second : "no such page\n";
        const std::string response = "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
                                     "\r\nConnection: close\r\n\r\n" + body;
        Winsock().send(connection, response.data(), static_cast<int>(response.size()), 0);
        Winsock().closesocket(connection);
    }

    std::map<std::string, std::string> responses_;
    std::uint16_t port_ = 0;
    SOCKET listener_ = INVALID_SOCKET;
    std::thread thread_;
};

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

TEST(UrlFetchOnWindows, AnErrorPageIsAnsweredWithItsStatusAndTheReaderRefusesIt) {
    const TinyHttpServer server({}, 2);
    const UrlFetchResult page = UrlFetch().Fetch(
        {server.Url("/missing"), "Kairovel", "text/plain", {.connectTimeoutMilliseconds = 10'000,
                                                           .totalTimeoutMilliseconds = 30'000,
                                                           .maxBodyBytes = 1'000,
                                                           .maxRedirects = 5}});
    EXPECT_FALSE(page.failedStep.has_value()) << page.error;
    EXPECT_EQ(page.httpStatus, 404u);
    EXPECT_EQ(page.body, "no such page\n");

    const std::string url = server.Url("/gone");
    try {
        ReadParameterUrl(Wide(url));
        ADD_FAILURE() << "an error page was read as switches";
    } catch (const std::wstring& message) {
        EXPECT_EQ(message, L"Could not open the URL " + Wide(url) + L" due to error 404");
    }
}

TEST(UrlFetchOnWindows, TheReaderReadsTheBodyOfASuccessfulAnswer) {
    const std::string body = "/ntp_machine=127.0.0.1\n/period=1:00:00\n";
    const TinyHttpServer server({{"/switches", body}}, 1);
    EXPECT_EQ(ReadParameterUrl(Wide(server.Url("/switches"))), Wide(body));
}

}  // namespace
}  // namespace kairovel
