// Building the client of a source's kind.
//
// Every attempt to read a source gets a fresh client, made here from the
// descriptor's kind and the source's name. The process uses the network
// clients; a test or a simulation replaces the factory for its own scope
// (ScopedSourceFactory) to give ideal or scripted sources.
#pragma once

#include <memory>
#include <string>

#include "config/source_kind.h"
#include "sources/time_source.h"

namespace kairovel {

class SourceFactory {
public:
    virtual ~SourceFactory() = default;
    // A new client of the kind for the name (the descriptor without its prefix
    // and sample count). Raises what the client's construction raises.
    virtual std::unique_ptr<TimeSource> CreateSource(SourceKind kind, const std::wstring& name) = 0;
};

// The network clients: TcpTimeSource, UdpTimeSource, NtpTimeSource and the
// NT machine and domain client, one for each kind of kSourceKinds.
class NetworkSourceFactory final : public SourceFactory {
public:
    std::unique_ptr<TimeSource> CreateSource(SourceKind kind, const std::wstring& name) override;
};

// Puts another factory in place of the network clients for its lifetime,
// while no pass runs.
class ScopedSourceFactory {
public:
    explicit ScopedSourceFactory(SourceFactory& replacement);
    ~ScopedSourceFactory();
    ScopedSourceFactory(const ScopedSourceFactory&) = delete;
    ScopedSourceFactory& operator=(const ScopedSourceFactory&) = delete;

private:
    SourceFactory* previous_;
};

// A new client from the factory in use.
std::unique_ptr<TimeSource> CreateTimeSource(SourceKind kind, const std::wstring& name);

}  // namespace kairovel
