// A second process for the parameter store's tests, writing to the store of
// $KAIROVEL_ROOT beside the test (or beside another copy of itself).
//
//   parameter_store_writer write <name> <count>  stores <count> values named
//       <name>-<i> in each of the two keys, which both writers create at
//       once; exits 0 when every call succeeded
//   parameter_store_writer hammer                 rewrites two large values in
//       one write over and over until it is killed; prints "ready" after the
//       first write
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/parameter_store.h"
#include "platform/posix/sqlite_parameter_store.h"

namespace {

using namespace kairovel::platform;

constexpr std::size_t kBlobSize = 64 * 1024;  // large enough to span many database pages

int Report(const char* what, LSTATUS status) {
    std::fprintf(stderr, "%s failed: %u\n", what, status);
    return 1;
}

int Write(const std::string& name, int count) {
    SqliteParameterStore store;
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        const std::wstring valueName = std::wstring(name.begin(), name.end()) + L"-" + std::to_wstring(i);
        const std::vector<std::uint8_t> data = RegistryString(valueName);
        const StoreValue value{valueName, REG_SZ, data};
        std::size_t failed = 0;
        for (const StoreKey key : {StoreKey::Parameters, StoreKey::EventLogSource}) {
            if (const LSTATUS s = store.WriteValues(key, IfMissing::Create, {&value, 1}, failed); s != ERROR_SUCCESS) {
                failures += Report("write", s);
            }
        }
    }
    return failures == 0 ? 0 : 1;
}

int Hammer() {
    SqliteParameterStore store;
    std::vector<std::uint8_t> blob(kBlobSize);
    for (unsigned round = 1;; ++round) {
        blob.assign(kBlobSize, static_cast<std::uint8_t>(round % 251));
        const StoreValue values[] = {{L"Blob", REG_BINARY, blob}, {L"Copy", REG_BINARY, blob}};
        std::size_t failed = 0;
        if (const LSTATUS s = store.WriteValues(StoreKey::Parameters, IfMissing::Create, values, failed);
            s != ERROR_SUCCESS) {
            return Report("write", s);
        }
        if (round == 1) {
            std::printf("ready\n");
            std::fflush(stdout);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "write" && argc == 4) return Write(argv[2], std::atoi(argv[3]));
    if (mode == "hammer") return Hammer();
    std::fprintf(stderr, "usage: parameter_store_writer write <name> <count> | hammer\n");
    return 2;
}
