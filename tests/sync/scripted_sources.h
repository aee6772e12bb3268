// Time sources that answer from a script, for the synchronisation tests.
//
// Each source name has a list of replies, used one per client in turn: a
// deviation and a delay in milliseconds, or an error text that the client
// raises. A source whose list has run out keeps giving its last entry; a name
// without a script raises "no reply from <name>". The source's time is the
// local clock's time minus the deviation, so the acquisition measures exactly
// that deviation on a virtual clock.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "log/logger.h"
#include "sources/source_factory.h"

namespace kairovel::testing {

struct ScriptedReply {
    std::int64_t deviation = 0;  // ms, local minus source
    std::int64_t delay = 0;      // ms
    std::optional<std::wstring> error;
};

inline ScriptedReply Reply(std::int64_t deviation, std::int64_t delay) { return {deviation, delay, std::nullopt}; }
inline ScriptedReply Failure(const std::wstring& text) { return {0, 0, text}; }

class ScriptedSource final : public TimeSource {
public:
    explicit ScriptedSource(ScriptedReply reply) : reply_(std::move(reply)) {}
    void GetTime(TimeValue& now) override {
        SetDelayMilliseconds(reply_.delay);
        if (reply_.error) RaiseError(L"%s", *reply_.error);
        now.Assign(TimeValue().Plus(TimeSpan(-reply_.deviation)));
    }

private:
    ScriptedReply reply_;
};

class ScriptedSourceFactory final : public SourceFactory {
public:
    void Script(const std::wstring& name, std::vector<ScriptedReply> replies) { scripts_[name] = std::move(replies); }

    std::unique_ptr<TimeSource> CreateSource(SourceKind kind, const std::wstring& name) override {
        created_.emplace_back(kind, name);
        const auto found = scripts_.find(name);
        if (found == scripts_.end() || found->second.empty()) {
            return std::make_unique<ScriptedSource>(Failure(L"no reply from " + name));
        }
        std::size_t& next = used_[name];
        const ScriptedReply& reply = found->second[std::min(next, found->second.size() - 1)];
        ++next;
        return std::make_unique<ScriptedSource>(reply);
    }

    // How many clients were made for the name.
    std::size_t Clients(const std::wstring& name) const {
        std::size_t n = 0;
        for (const auto& entry : created_) n += entry.second == name ? 1 : 0;
        return n;
    }
    const std::vector<std::pair<SourceKind, std::wstring>>& Created() const { return created_; }
    // Forgets the clients made so far; the scripts go on where they are.
    void Forget() { created_.clear(); }

private:
    std::map<std::wstring, std::vector<ScriptedReply>> scripts_;
    std::map<std::wstring, std::size_t> used_;
    std::vector<std::pair<SourceKind, std::wstring>> created_;
};

}  // namespace kairovel::testing
