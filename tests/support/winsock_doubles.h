// Winsock facilities for tests: the real one with one call changed.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/winsock.h"

namespace kairovel::testing {

// Passes every call on to another Winsock facility; tests derive from it to
// change one call and keep the rest real.
class ForwardingWinsock : public platform::WinsockFacility {
public:
    explicit ForwardingWinsock(platform::WinsockFacility& inner) : inner_(inner) {}

    int WSAStartup(std::uint16_t version, platform::WSADATA& data) override { return inner_.WSAStartup(version, data); }
    int WSACleanup() override { return inner_.WSACleanup(); }
    int WSAGetLastError() override { return inner_.WSAGetLastError(); }
    void WSASetLastError(int error) override { inner_.WSASetLastError(error); }
    platform::SOCKET socket(int af, int type, int protocol) override { return inner_.socket(af, type, protocol); }
    int connect(platform::SOCKET s, const platform::sockaddr* name, int length) override {
        return inner_.connect(s, name, length);
    }
    int bind(platform::SOCKET s, const platform::sockaddr* name, int length) override {
        return inner_.bind(s, name, length);
    }
    int listen(platform::SOCKET s, int backlog) override { return inner_.listen(s, backlog); }
    platform::SOCKET accept(platform::SOCKET s, platform::sockaddr* address, int* length) override {
        return inner_.accept(s, address, length);
    }
    int send(platform::SOCKET s, const char* buffer, int length, int flags) override {
        return inner_.send(s, buffer, length, flags);
    }
    int recv(platform::SOCKET s, char* buffer, int length, int flags) override {
        return inner_.recv(s, buffer, length, flags);
    }
    int recvfrom(platform::SOCKET s, char* buffer, int length, int flags, platform::sockaddr* from,
                 int* fromLength) override {
        return inner_.recvfrom(s, buffer, length, flags, from, fromLength);
    }
    int setsockopt(platform::SOCKET s, int level, int name, const char* value, int length) override {
        return inner_.setsockopt(s, level, name, value, length);
    }
    int closesocket(platform::SOCKET s) override { return inner_.closesocket(s); }
    platform::servent* getservbyname(const char* name, const char* protocol) override {
        return inner_.getservbyname(name, protocol);
    }
    platform::hostent* gethostbyname(const char* name) override { return inner_.gethostbyname(name); }
    std::uint32_t inet_addr(const char* text) override { return inner_.inet_addr(text); }
    char* inet_ntoa(platform::in_addr address) override { return inner_.inet_ntoa(address); }

protected:
    platform::WinsockFacility& inner() { return inner_; }

private:
    platform::WinsockFacility& inner_;
};

// The real calls, with every receive time-out shortened to shortMilliseconds so
// that a test of a silent peer takes a moment instead of a minute. What the
// program asked for is kept.
class ShortReceiveTimeout final : public ForwardingWinsock {
public:
    explicit ShortReceiveTimeout(std::uint32_t shortMilliseconds = 300)
        : ForwardingWinsock(platform::DefaultFacility<platform::WinsockFacility>()), short_(shortMilliseconds) {}

    int setsockopt(platform::SOCKET s, int level, int name, const char* value, int length) override {
        if (level == platform::SOL_SOCKET && name == platform::SO_RCVTIMEO && length == sizeof(std::uint32_t)) {
            std::uint32_t asked = 0;
            std::memcpy(&asked, value, sizeof asked);
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                asked_.push_back(asked);
            }
            return inner().setsockopt(s, level, name, reinterpret_cast<const char*>(&short_), sizeof short_);
        }
        return inner().setsockopt(s, level, name, value, length);
    }

    std::vector<std::uint32_t> Asked() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return asked_;
    }

private:
    std::uint32_t short_;
    std::mutex mutex_;
    std::vector<std::uint32_t> asked_;
};

// The real calls, except that one service is missing from the service database.
class MissingService final : public ForwardingWinsock {
public:
    MissingService(std::string service, std::string protocol)
        : ForwardingWinsock(platform::DefaultFacility<platform::WinsockFacility>()),
          service_(std::move(service)),
          protocol_(std::move(protocol)) {}

    platform::servent* getservbyname(const char* name, const char* protocol) override {
        if (service_ == name && protocol_ == protocol) {
            WSASetLastError(platform::WSANO_DATA);
            return nullptr;
        }
        return inner().getservbyname(name, protocol);
    }

private:
    std::string service_;
    std::string protocol_;
};

// The real calls, counted.
class CountingWinsock final : public ForwardingWinsock {
public:
    CountingWinsock() : ForwardingWinsock(platform::DefaultFacility<platform::WinsockFacility>()) {}

    int WSAStartup(std::uint16_t version, platform::WSADATA& data) override {
        ++startups;
        lastVersion = version;
        return failStartupWith != 0 ? failStartupWith.load() : inner().WSAStartup(version, data);
    }
    int WSACleanup() override {
        ++cleanups;
        return inner().WSACleanup();
    }
    platform::hostent* gethostbyname(const char* name) override {
        ++hostLookups;
        return inner().gethostbyname(name);
    }
    platform::servent* getservbyname(const char* name, const char* protocol) override {
        ++serviceLookups;
        return inner().getservbyname(name, protocol);
    }

    std::atomic<int> startups{0};
    std::atomic<int> cleanups{0};
    std::atomic<int> hostLookups{0};
    std::atomic<int> serviceLookups{0};
    std::atomic<int> failStartupWith{0};
    std::atomic<std::uint16_t> lastVersion{0};
};

// The real calls, with accept made to fail on demand: the next accept fails
// with injectedError (the connection it took, if any, is dropped); a stop
// request makes every later accept fail with WSAENOTSOCK, which ends the TIME
// server's thread as a failed listening socket would.
class ControlledAccept final : public ForwardingWinsock {
public:
    ControlledAccept() : ForwardingWinsock(platform::DefaultFacility<platform::WinsockFacility>()) {}

    platform::SOCKET accept(platform::SOCKET s, platform::sockaddr* address, int* length) override {
        const platform::SOCKET accepted = inner().accept(s, address, length);
        ++accepts;
        int error = stop_.load() ? static_cast<int>(platform::WSAENOTSOCK) : injected_.exchange(0);
        if (error == 0) return accepted;
        if (accepted != platform::INVALID_SOCKET) inner().closesocket(accepted);
        if (error == kThrowSomethingElse) throw 42;
        WSASetLastError(error);
        return platform::INVALID_SOCKET;
    }

    // The next accept fails with error (kThrowSomethingElse: throws what is no error message).
    void FailNextAccept(int error) { injected_.store(error); }
    void Stop() { stop_.store(true); }

    static constexpr int kThrowSomethingElse = -1;
    std::atomic<int> accepts{0};

private:
    std::atomic<int> injected_{0};
    std::atomic<bool> stop_{false};
};

}  // namespace kairovel::testing
