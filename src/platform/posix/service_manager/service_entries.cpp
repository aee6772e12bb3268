#include "platform/posix/service_manager/service_entries.h"

#include <cstring>

#include "platform/registry.h"
#include "platform/win_types.h"

namespace kairovel::platform::scm {
namespace {

constexpr std::wstring_view kServicesKey = L"SYSTEM\\CurrentControlSet\\Services\\";
constexpr const wchar_t* kManagerValues[] = {L"Type",        L"Start",       L"ErrorControl", L"ImagePath",
                                             L"DisplayName", L"ObjectName", L"Environment",  L"DeleteFlag"};

std::wstring KeyPath(std::wstring_view name) { return std::wstring(kServicesKey) + std::wstring(name); }

// An open key, closed when it goes.
class Key {
public:
    ~Key() {
        if (key_) Registry().RegCloseKey(key_);
    }
    HKEY& out() { return key_; }
    HKEY get() const { return key_; }

private:
    HKEY key_{};
};

std::uint32_t Read(HKEY key, const wchar_t* name, std::vector<std::uint8_t>& data) {
    std::uint32_t size = 0;
    std::uint32_t type = 0;
    if (const LSTATUS status = Registry().RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
        status != ERROR_SUCCESS) {
        return status;
    }
    data.assign(size, 0);
    return Registry().RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
}

std::uint32_t ReadNumber(HKEY key, const wchar_t* name, std::uint32_t& number) {
    std::vector<std::uint8_t> data;
    if (const std::uint32_t status = Read(key, name, data); status != ERROR_SUCCESS) return status;
    if (data.size() != sizeof number) return ERROR_BADDB;
    std::memcpy(&number, data.data(), sizeof number);
    return ERROR_SUCCESS;
}

std::uint32_t ReadText(HKEY key, const wchar_t* name, std::wstring& text) {
    std::vector<std::uint8_t> data;
    if (const std::uint32_t status = Read(key, name, data); status != ERROR_SUCCESS) return status;
    std::size_t offset = 0;
    text = ReadRegistryString(data, offset);
    return ERROR_SUCCESS;
}

std::uint32_t ReadList(HKEY key, const wchar_t* name, std::vector<std::wstring>& list) {
    std::vector<std::uint8_t> data;
    list.clear();
    if (const std::uint32_t status = Read(key, name, data); status != ERROR_SUCCESS) return status;
    std::size_t offset = 0;
    while (offset < data.size()) {
        std::wstring text = ReadRegistryString(data, offset);
        if (text.empty()) break;
        list.push_back(std::move(text));
    }
    return ERROR_SUCCESS;
}

std::uint32_t WriteNumber(HKEY key, const wchar_t* name, std::uint32_t number) {
    std::uint8_t data[sizeof number];
    std::memcpy(data, &number, sizeof number);
    return Registry().RegSetValueExW(key, name, 0, REG_DWORD, data, sizeof data);
}

std::uint32_t WriteText(HKEY key, const wchar_t* name, std::uint32_t type, std::wstring_view text) {
    const std::vector<std::uint8_t> data = RegistryString(text);
    return Registry().RegSetValueExW(key, name, 0, type, data.data(), static_cast<std::uint32_t>(data.size()));
}

std::uint32_t WriteList(HKEY key, const wchar_t* name, const std::vector<std::wstring>& list) {
    std::vector<std::uint8_t> data;
    for (const std::wstring& text : list) {
        const std::vector<std::uint8_t> piece = RegistryString(text);
        data.insert(data.end(), piece.begin(), piece.end());
    }
    data.push_back(0);
    data.push_back(0);
    return Registry().RegSetValueExW(key, name, 0, REG_MULTI_SZ, data.data(), static_cast<std::uint32_t>(data.size()));
}

}  // namespace

std::uint32_t ReadEntry(std::wstring_view name, ServiceEntry& entry) {
    Key key;
    const LSTATUS opened = Registry().RegOpenKeyExW(HKEY_LOCAL_MACHINE, KeyPath(name).c_str(), 0, KEY_READ, &key.out());
    if (opened == ERROR_FILE_NOT_FOUND) return ERROR_SERVICE_DOES_NOT_EXIST;
    if (opened != ERROR_SUCCESS) return opened;
    // A key without the manager's values is the service's own data, not an entry.
    std::uint32_t type = 0;
    if (const std::uint32_t status = ReadNumber(key.get(), L"Type", type); status != ERROR_SUCCESS) {
        return status == ERROR_FILE_NOT_FOUND ? ERROR_SERVICE_DOES_NOT_EXIST : status;
    }
    entry = ServiceEntry{};
    entry.type = type;
    for (const auto& [valueName, number] :
         {std::pair{L"Start", &entry.startType}, std::pair{L"ErrorControl", &entry.errorControl}}) {
        if (const std::uint32_t status = ReadNumber(key.get(), valueName, *number); status != ERROR_SUCCESS) return status;
    }
    if (const std::uint32_t status = ReadText(key.get(), L"ImagePath", entry.imagePath); status != ERROR_SUCCESS) {
        return status;
    }
    // The optional values.
    ReadText(key.get(), L"DisplayName", entry.displayName);
    ReadText(key.get(), L"ObjectName", entry.account);
    ReadList(key.get(), L"Environment", entry.environment);
    std::uint32_t deleteFlag = 0;
    ReadNumber(key.get(), L"DeleteFlag", deleteFlag);
    entry.markedForDeletion = deleteFlag != 0;
    return ERROR_SUCCESS;
}

std::uint32_t WriteEntry(std::wstring_view name, const ServiceEntry& entry) {
    Key key;
    if (const LSTATUS status = Registry().RegCreateKeyExW(HKEY_LOCAL_MACHINE, KeyPath(name).c_str(), 0, nullptr,
                                                          REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                                          &key.out(), nullptr);
        status != ERROR_SUCCESS) {
        return status;
    }
    // "Type" last: only a complete entry is an entry.
    std::uint32_t status = WriteNumber(key.get(), L"Start", entry.startType);
    if (status == ERROR_SUCCESS) status = WriteNumber(key.get(), L"ErrorControl", entry.errorControl);
    if (status == ERROR_SUCCESS) status = WriteText(key.get(), L"ImagePath", REG_EXPAND_SZ, entry.imagePath);
    if (status == ERROR_SUCCESS) status = WriteText(key.get(), L"DisplayName", REG_SZ, entry.displayName);
    if (status == ERROR_SUCCESS) status = WriteText(key.get(), L"ObjectName", REG_SZ, entry.account);
    if (status == ERROR_SUCCESS) status = WriteList(key.get(), L"Environment", entry.environment);
    if (status == ERROR_SUCCESS) status = WriteNumber(key.get(), L"Type", entry.type);
    return status;
}

std::uint32_t MarkEntryForDeletion(std::wstring_view name) {
    Key key;
    if (const LSTATUS status =
            Registry().RegOpenKeyExW(HKEY_LOCAL_MACHINE, KeyPath(name).c_str(), 0, KEY_SET_VALUE, &key.out());
        status != ERROR_SUCCESS) {
        return status;
    }
    return WriteNumber(key.get(), L"DeleteFlag", 1);
}

std::uint32_t RemoveEntry(std::wstring_view name) {
    {
        Key key;
        const LSTATUS opened =
            Registry().RegOpenKeyExW(HKEY_LOCAL_MACHINE, KeyPath(name).c_str(), 0, KEY_SET_VALUE, &key.out());
        if (opened == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
        if (opened != ERROR_SUCCESS) return opened;
        // "Type" first: an entry half removed is no entry.
        for (const wchar_t* value : kManagerValues) {
            const LSTATUS status = Registry().RegDeleteValueW(key.get(), value);
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return status;
        }
    }
    // The key goes too unless the service keeps keys of its own there.
    const LSTATUS status = Registry().RegDeleteKeyW(HKEY_LOCAL_MACHINE, KeyPath(name).c_str());
    return status == ERROR_ACCESS_DENIED || status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

}  // namespace kairovel::platform::scm
