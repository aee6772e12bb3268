// Times the parameter store of the Linux build as the program calls it: one
// store of a value (the same bytes again, which the database need not write,
// and a changed value, which it commits durably), one read of it, and a
// whole load of the parameter key (finding the key and 14 reads). Prints
// microseconds per call. Runs in a folder of its own.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/parameter_store.h"
#include "platform/posix/sqlite_parameter_store.h"

namespace {

using namespace kairovel::platform;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 300;
constexpr int kValuesOfALoad = 14;  // "IsInstalled" and the 13 values of the configuration

double MicrosecondsEach(Clock::time_point start, int count) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / count;
}

LSTATUS Store(SqliteParameterStore& store, const std::vector<std::uint8_t>& text) {
    const StoreValue value{L"LastAdjustmentValue", REG_SZ, text};
    std::size_t failed = 0;
    return store.WriteValues(StoreKey::Parameters, IfMissing::Fail, {&value, 1}, failed);
}

}  // namespace

int main() {
    char pattern[] = "/tmp/kairovel-registry-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return 1;
    ::setenv("KAIROVEL_ROOT", pattern, 1);
    SqliteParameterStore store;
    std::size_t failed = 0;
    if (store.WriteValues(StoreKey::Parameters, IfMissing::Create, {}, failed) != ERROR_SUCCESS) return 1;
    const std::vector<std::uint8_t> text = RegistryString(L"100144.117");

    auto start = Clock::now();
    for (int i = 0; i < kRounds; ++i) Store(store, text);
    std::printf("WriteValues       %8.1f us per call (the same value again)\n", MicrosecondsEach(start, kRounds));

    std::vector<std::vector<std::uint8_t>> changes;
    for (int i = 0; i < kRounds; ++i) changes.push_back(RegistryString(L"100144." + std::to_wstring(100 + i)));
    start = Clock::now();
    for (const std::vector<std::uint8_t>& change : changes) Store(store, change);
    std::printf("WriteValues       %8.1f us per call (a changed value: one durable transaction)\n",
                MicrosecondsEach(start, kRounds));

    std::vector<std::uint8_t> room(100);
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    start = Clock::now();
    for (int i = 0; i < kRounds; ++i) store.ReadValue(StoreKey::Parameters, L"LastAdjustmentValue", type, room, size);
    std::printf("ReadValue         %8.1f us per call\n", MicrosecondsEach(start, kRounds));

    start = Clock::now();
    for (int i = 0; i < kRounds / 10; ++i) {
        store.FindKey(StoreKey::Parameters);
        for (int value = 0; value < kValuesOfALoad; ++value) {
            store.ReadValue(StoreKey::Parameters, L"LastAdjustmentValue", type, room, size);
        }
    }
    std::printf("whole load        %8.1f us (find the key, %d reads)\n", MicrosecondsEach(start, kRounds / 10),
                kValuesOfALoad);
    std::filesystem::remove_all(pattern);
    return 0;
}
