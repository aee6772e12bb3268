#include "sources/source_factory.h"

#include "log/logger.h"
#include "sources/nt_time_source.h"
#include "sources/ntp_client.h"
#include "sources/time_protocol_clients.h"

namespace kairovel {

std::unique_ptr<TimeSource> NetworkSourceFactory::CreateSource(SourceKind kind, const std::wstring& name) {
    switch (kind) {
        case SourceKind::Domain:     // a domain's primary domain controller
        case SourceKind::NtMachine:  // a named NT machine; both through the network time-of-day call
            return std::make_unique<NtTimeSource>(name);
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
