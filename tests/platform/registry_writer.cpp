// A second process for the registry tests, writing to the registry of
// $KAIROVEL_ROOT beside the test (or beside another copy of itself).
//
//   registry_writer write <name> <count>  stores <count> values under a key of
//       its own and as many under a key shared with other writers; exits 0
//       when every call succeeded
//   registry_writer hammer                 rewrites one large value over and
//       over until it is killed; prints "ready" after the first write
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/posix/sqlite_registry.h"
#include "platform/registry.h"

namespace {

using namespace kairovel::platform;

constexpr wchar_t kSharedKey[] = L"Software\\KairovelTest\\Shared";
constexpr std::size_t kBlobSize = 64 * 1024;  // large enough to span many database pages

int Report(const char* what, LSTATUS status) {
    std::fprintf(stderr, "%s failed: %u\n", what, status);
    return 1;
}

int Write(const std::string& name, int count) {
    SqliteRegistry registry;
    const std::wstring wideName(name.begin(), name.end());
    HKEY own{};
    HKEY shared{};
    // Both writers create the same parent keys at the same time.
    const std::wstring ownPath = std::wstring(kSharedKey) + L"\\" + wideName;
    if (const LSTATUS s = registry.RegCreateKeyExW(HKEY_LOCAL_MACHINE, ownPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                   nullptr, &own, nullptr);
        s != ERROR_SUCCESS) {
        return Report("create own key", s);
    }
    if (const LSTATUS s = registry.RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSharedKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                                   nullptr, &shared, nullptr);
        s != ERROR_SUCCESS) {
        return Report("create shared key", s);
    }
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        const std::wstring text = wideName + L":" + std::to_wstring(i);
        const std::vector<std::uint8_t> data = RegistryString(text);
        const auto size = static_cast<std::uint32_t>(data.size());
        const std::wstring valueName = L"Value" + std::to_wstring(i);
        if (const LSTATUS s = registry.RegSetValueExW(own, valueName.c_str(), 0, REG_SZ, data.data(), size);
            s != ERROR_SUCCESS) {
            failures += Report("set own value", s);
        }
        const std::wstring sharedName = wideName + L"-" + std::to_wstring(i);
        if (const LSTATUS s = registry.RegSetValueExW(shared, sharedName.c_str(), 0, REG_SZ, data.data(), size);
            s != ERROR_SUCCESS) {
            failures += Report("set shared value", s);
        }
    }
    registry.RegCloseKey(own);
    registry.RegCloseKey(shared);
    return failures == 0 ? 0 : 1;
}

int Hammer() {
    SqliteRegistry registry;
    HKEY key{};
    if (const LSTATUS s = registry.RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSharedKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                                   nullptr, &key, nullptr);
        s != ERROR_SUCCESS) {
        return Report("create key", s);
    }
    std::vector<std::uint8_t> blob(kBlobSize);
    for (unsigned round = 1;; ++round) {
        blob.assign(kBlobSize, static_cast<std::uint8_t>(round % 251));
        if (const LSTATUS s = registry.RegSetValueExW(key, L"Blob", 0, REG_BINARY, blob.data(), kBlobSize);
            s != ERROR_SUCCESS) {
            return Report("set blob", s);
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
    std::fprintf(stderr, "usage: registry_writer write <name> <count> | hammer\n");
    return 2;
}
