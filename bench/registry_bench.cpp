// Times the registry stand-in's calls as the program makes them: one store of
// a value (the same bytes again, which the database need not write, and a
// changed value, which it commits durably), one read of it, and a whole load
// of the parameter key (open, 14 queries, close). Prints microseconds per
// call. Runs in a folder of its own.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/posix/sqlite_registry.h"
#include "platform/registry.h"

namespace {

using namespace kairovel::platform;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 300;
constexpr wchar_t kKey[] = L"SYSTEM\\CurrentControlSet\\Services\\Kairovel\\Parameters";

double MicrosecondsEach(Clock::time_point start, int count) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / count;
}

}  // namespace

int main() {
    char pattern[] = "/tmp/kairovel-registry-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return 1;
    ::setenv("KAIROVEL_ROOT", pattern, 1);
    SqliteRegistry registry;
    HKEY key{};
    if (registry.RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return 1;
    }
    const std::vector<std::uint8_t> text = RegistryString(L"100144.117");
    const auto size = static_cast<std::uint32_t>(text.size());

    auto start = Clock::now();
    for (int i = 0; i < kRounds; ++i) registry.RegSetValueExW(key, L"LastAdjustmentValue", 0, REG_SZ, text.data(), size);
    std::printf("RegSetValueExW    %8.1f us per call (the same value again)\n", MicrosecondsEach(start, kRounds));

    std::vector<std::vector<std::uint8_t>> changes;
    for (int i = 0; i < kRounds; ++i) changes.push_back(RegistryString(L"100144." + std::to_wstring(100 + i)));
    start = Clock::now();
    for (const std::vector<std::uint8_t>& change : changes) {
        registry.RegSetValueExW(key, L"LastAdjustmentValue", 0, REG_SZ, change.data(),
                                static_cast<std::uint32_t>(change.size()));
    }
    std::printf("RegSetValueExW    %8.1f us per call (a changed value: one durable transaction)\n",
                MicrosecondsEach(start, kRounds));

    std::vector<std::uint8_t> room(100);
    start = Clock::now();
    for (int i = 0; i < kRounds; ++i) {
        std::uint32_t got = 100;
        std::uint32_t type = 0;
        registry.RegQueryValueExW(key, L"LastAdjustmentValue", nullptr, &type, room.data(), &got);
    }
    std::printf("RegQueryValueExW  %8.1f us per call\n", MicrosecondsEach(start, kRounds));

    start = Clock::now();
    for (int i = 0; i < kRounds / 10; ++i) {
        HKEY reading{};
        registry.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &reading);
        for (int value = 0; value < 14; ++value) {
            std::uint32_t got = 100;
            std::uint32_t type = 0;
            registry.RegQueryValueExW(reading, L"LastAdjustmentValue", nullptr, &type, room.data(), &got);
        }
        registry.RegCloseKey(reading);
    }
    std::printf("whole load        %8.1f us (open, 14 queries, close)\n", MicrosecondsEach(start, kRounds / 10));
    registry.RegCloseKey(key);
    std::filesystem::remove_all(pattern);
    return 0;
}
