// The parameter store on Windows: the two keys in the real registry of the
// local machine, each call opening its key, doing its work and closing it.
#include <windows.h>

#include "platform/interface/parameter_store.h"

namespace kairovel::platform {
namespace {

// Closes the key it was given when it goes.
class OpenedKey {
public:
    OpenedKey() = default;
    ~OpenedKey() {
        if (key_ != nullptr) ::RegCloseKey(key_);
    }
    OpenedKey(const OpenedKey&) = delete;
    OpenedKey& operator=(const OpenedKey&) = delete;
    ::HKEY* receive() { return &key_; }
    ::HKEY get() const { return key_; }

private:
    ::HKEY key_ = nullptr;
};

LSTATUS Open(StoreKey key, REGSAM access, OpenedKey& opened) {
    return static_cast<LSTATUS>(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, StoreKeyPath(key), 0, access, opened.receive()));
}

class WindowsParameterStore final : public ParameterStoreFacility {
public:
    LSTATUS FindKey(StoreKey key) override {
        OpenedKey opened;
        return Open(key, KEY_READ, opened);
    }

    LSTATUS ReadValue(StoreKey key, std::wstring_view name, std::uint32_t& type, std::span<std::uint8_t> room,
                      std::uint32_t& size) override {
        OpenedKey opened;
        if (const LSTATUS status = Open(key, KEY_QUERY_VALUE, opened); status != ERROR_SUCCESS) return status;
        // Never a null buffer, with which Windows would give the size instead of ERROR_MORE_DATA.
        BYTE nothing = 0;
        DWORD nativeType = 0;
        DWORD nativeSize = static_cast<DWORD>(room.size());
        const std::wstring valueName(name);
        const auto status = static_cast<LSTATUS>(::RegQueryValueExW(
            opened.get(), valueName.c_str(), nullptr, &nativeType, room.empty() ? &nothing : room.data(), &nativeSize));
        type = nativeType;
        size = nativeSize;
        return status;
    }

    LSTATUS WriteValues(StoreKey key, IfMissing ifMissing, std::span<const StoreValue> values,
                        std::size_t& failed) override {
        failed = kKeyFailed;
        OpenedKey opened;
        const LSTATUS status =
            ifMissing == IfMissing::Create
                ? static_cast<LSTATUS>(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, StoreKeyPath(key), 0, nullptr,
                                                         REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, opened.receive(),
                                                         nullptr))
                : Open(key, KEY_SET_VALUE, opened);
        if (status != ERROR_SUCCESS) return status;
        for (failed = 0; failed < values.size(); ++failed) {
            const StoreValue& value = values[failed];
            const std::wstring name(value.name);
            if (const auto set = static_cast<LSTATUS>(::RegSetValueExW(opened.get(), name.c_str(), 0, value.type,
                                                                       value.data.data(),
                                                                       static_cast<DWORD>(value.data.size())));
                set != ERROR_SUCCESS) {
                return set;
            }
        }
        return ERROR_SUCCESS;
    }

    LSTATUS DeleteKey(StoreKey key) override {
        return static_cast<LSTATUS>(::RegDeleteKeyW(HKEY_LOCAL_MACHINE, StoreKeyPath(key)));
    }
};

}  // namespace

template <>
ParameterStoreFacility& DefaultFacility<ParameterStoreFacility>() {
    static WindowsParameterStore store;
    return store;
}

}  // namespace kairovel::platform
