#include "sources/source_factory.h"

#include "log/logger.h"
#include "sources/ntp_client.h"
#include "sources/time_protocol_clients.h"

namespace kairovel {
namespace {

// The client of the kinds "D," (a domain's primary domain controller) and "L,"
// (a named NT machine), both asked through the network time-of-day call.
std::unique_ptr<TimeSource> CreateNtTimeSource(const std::wstring&) {
    RaiseError(L"NT machine and domain sources are not available in this build");
}

}  // namespace

std::unique_ptr<TimeSource> NetworkSourceFactory::CreateSource(SourceKind kind, const std::wstring& name) {
    switch (kind) {
        case SourceKind::Domain:
        case SourceKind::NtMachine:
            return CreateNtTimeSource(name);
        case SourceKind::TcpMachine:
            return std::make_unique<TcpTimeSource>(name);
        case SourceKind::NtpMachine:
            return std::make_unique<NtpTimeSource>(name);
        case SourceKind::UdpMachine:
            return std::make_unique<UdpTimeSource>(name);
    }
    RaiseError(L"Illegal source kind %d", static_cast<int>(kind));
}

}  // namespace kairovel

namespace kairovel::platform {
template <>
SourceFactory& DefaultFacility<SourceFactory>() {
    static NetworkSourceFactory factory;
    return factory;
}
}  // namespace kairovel::platform
