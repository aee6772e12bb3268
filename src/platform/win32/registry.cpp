// The registry facility on Windows: each call passes straight to the real
// registry of the local machine.
#include <windows.h>

#include "platform/interface/registry.h"

namespace kairovel::platform {
namespace {

// The predefined keys are 32-bit values that Windows sign-extends into a
// 64-bit handle ((HKEY)(LONG)0x80000002); the facility keeps them unextended.
::HKEY Native(HKEY key) {
    const std::uintptr_t value = key.value();
    if (value >= 0x8000'0000u && value <= 0xFFFF'FFFFu) {
        return reinterpret_cast<::HKEY>(static_cast<std::intptr_t>(static_cast<std::int32_t>(value)));
    }
    return reinterpret_cast<::HKEY>(value);
}

HKEY Ours(::HKEY key) { return HKEY{reinterpret_cast<std::uintptr_t>(key)}; }

class WindowsRegistry final : public RegistryFacility {
public:
    LSTATUS RegCreateKeyExW(HKEY key, const wchar_t* subKey, std::uint32_t reserved, const wchar_t* keyClass,
                            std::uint32_t options, REGSAM desired, const void* securityAttributes, HKEY* result,
                            std::uint32_t* disposition) override {
        ::HKEY created = nullptr;
        DWORD what = 0;
        const LSTATUS status = static_cast<LSTATUS>(::RegCreateKeyExW(
            Native(key), subKey, reserved, const_cast<wchar_t*>(keyClass), options, desired,
            static_cast<SECURITY_ATTRIBUTES*>(const_cast<void*>(securityAttributes)), &created, &what));
        if (status == ERROR_SUCCESS) {
            if (result != nullptr) *result = Ours(created);
            if (disposition != nullptr) *disposition = what;
        }
        return status;
    }

    LSTATUS RegOpenKeyExW(HKEY key, const wchar_t* subKey, std::uint32_t options, REGSAM desired,
                          HKEY* result) override {
        ::HKEY opened = nullptr;
        const auto status = static_cast<LSTATUS>(::RegOpenKeyExW(Native(key), subKey, options, desired, &opened));
        if (status == ERROR_SUCCESS && result != nullptr) *result = Ours(opened);
        return status;
    }

    LSTATUS RegSetValueExW(HKEY key, const wchar_t* valueName, std::uint32_t reserved, std::uint32_t type,
                           const std::uint8_t* data, std::uint32_t size) override {
        return static_cast<LSTATUS>(::RegSetValueExW(Native(key), valueName, reserved, type, data, size));
    }

    LSTATUS RegQueryValueExW(HKEY key, const wchar_t* valueName, std::uint32_t* reserved, std::uint32_t* type,
                             std::uint8_t* data, std::uint32_t* size) override {
        // DWORD is a 32-bit unsigned long here, not the facility's uint32_t: copy in and out.
        DWORD nativeType = 0;
        DWORD nativeSize = size != nullptr ? *size : 0;
        const auto status = static_cast<LSTATUS>(::RegQueryValueExW(
            Native(key), valueName, reinterpret_cast<DWORD*>(reserved), type != nullptr ? &nativeType : nullptr,
            data, size != nullptr ? &nativeSize : nullptr));
        if (type != nullptr) *type = nativeType;
        if (size != nullptr) *size = nativeSize;
        return status;
    }

    LSTATUS RegDeleteKeyW(HKEY key, const wchar_t* subKey) override {
        return static_cast<LSTATUS>(::RegDeleteKeyW(Native(key), subKey));
    }

    LSTATUS RegDeleteValueW(HKEY key, const wchar_t* valueName) override {
        return static_cast<LSTATUS>(::RegDeleteValueW(Native(key), valueName));
    }

    LSTATUS RegCloseKey(HKEY key) override { return static_cast<LSTATUS>(::RegCloseKey(Native(key))); }
};

}  // namespace

template <>
RegistryFacility& DefaultFacility<RegistryFacility>() {
    static WindowsRegistry registry;
    return registry;
}

}  // namespace kairovel::platform
