// The service entries, kept where Windows keeps them: one registry key per
// service under SYSTEM\CurrentControlSet\Services, with the values "Type",
// "Start", "ErrorControl", "ImagePath", "DisplayName", "ObjectName", the
// service's "Environment" and, once it is marked for deletion, "DeleteFlag".
//
// The service's key may hold keys of the service's own (its "Parameters"):
// the entry is the manager's values, and deleting it removes those values and
// the key only when nothing of the service's is left in it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kairovel::platform::scm {

struct ServiceEntry {
    std::wstring displayName;
    std::uint32_t type = 0;
    std::uint32_t startType = 0;
    std::uint32_t errorControl = 0;
    std::wstring imagePath;
    std::wstring account;
    std::vector<std::wstring> environment;  // NAME=value, given to the service's process
    bool markedForDeletion = false;
};

// ERROR_SUCCESS, ERROR_SERVICE_DOES_NOT_EXIST, or the registry's code.
std::uint32_t ReadEntry(std::wstring_view name, ServiceEntry& entry);
std::uint32_t WriteEntry(std::wstring_view name, const ServiceEntry& entry);
std::uint32_t MarkEntryForDeletion(std::wstring_view name);
std::uint32_t RemoveEntry(std::wstring_view name);

}  // namespace kairovel::platform::scm
