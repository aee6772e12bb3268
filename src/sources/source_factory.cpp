#include "sources/source_factory.h"

#include <array>
#include <atomic>

#include "sources/nt_time_source.h"
#include "sources/ntp_client.h"
#include "sources/time_protocol_clients.h"

namespace kairovel {
namespace {

using MakeClient = std::unique_ptr<TimeSource> (*)(const std::wstring& name);

template <class Client>
std::unique_ptr<TimeSource> Make(const std::wstring& name) {
    return std::make_unique<Client>(name);
}

// The client of each kind, in the order of kSourceKinds: a domain's primary
// controller and a named NT machine both through the network time-of-day call.
constexpr std::array<MakeClient, kSourceKinds.size()> kClients = {
    Make<NtTimeSource>, Make<NtTimeSource>, Make<TcpTimeSource>, Make<NtpTimeSource>, Make<UdpTimeSource>};

std::atomic<SourceFactory*> replacement{nullptr};

}  // namespace

std::unique_ptr<TimeSource> NetworkSourceFactory::CreateSource(SourceKind kind, const std::wstring& name) {
    return kClients.at(static_cast<std::size_t>(kind))(name);
}

ScopedSourceFactory::ScopedSourceFactory(SourceFactory& replacementFactory)
    : previous_(replacement.exchange(&replacementFactory)) {}

ScopedSourceFactory::~ScopedSourceFactory() { replacement.store(previous_); }

std::unique_ptr<TimeSource> CreateTimeSource(SourceKind kind, const std::wstring& name) {
    static NetworkSourceFactory network;
    SourceFactory* factory = replacement.load(std::memory_order_acquire);
    return (factory != nullptr ? *factory : network).CreateSource(kind, name);
}

}  // namespace kairovel
