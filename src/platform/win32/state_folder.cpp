#include "platform/win32/state_folder.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <mutex>
#include <set>
#include <system_error>
#include <vector>

#include "platform/codepage.h"

namespace kairovel::platform {
namespace {

namespace fs = std::filesystem;

// The rights that change the folder or what it holds: writing or adding
// entries, removing it or them, changing its access list or owner.
constexpr ACCESS_MASK kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                     WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// The service SID of Windows' installer service, owner of the system's files.
constexpr wchar_t kTrustedInstaller[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// Memory Windows allocated with LocalAlloc, freed on every way out.
struct LocalMemory {
    void* memory = nullptr;
    ~LocalMemory() { ::LocalFree(memory); }
};

// "BUILTIN\Users, S-1-5-32-545": the account's name where this machine knows it, and the SID.
std::string Named(PSID sid) {
    std::wstring text;
    wchar_t name[256];
    wchar_t domain[256];
    DWORD nameSize = 256;
    DWORD domainSize = 256;
    SID_NAME_USE use;
    if (::LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
        text = (domain[0] != L'\0' ? std::wstring(domain) + L"\\" : std::wstring()) + name + L", ";
    }
    LocalMemory sidText;
    if (::ConvertSidToStringSidW(sid, reinterpret_cast<LPWSTR*>(&sidText.memory))) {
        text += static_cast<const wchar_t*>(sidText.memory);
    }
    return WideToAnsi(text);
}

bool IsTrustedOwner(PSID sid, PSID caller) {
    return ::IsWellKnownSid(sid, WinLocalSystemSid) || ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
           (caller != nullptr && ::EqualSid(sid, caller));
}

// Whom an entry granting write may name: an owner we trust, TrustedInstaller,
// or CREATOR OWNER in an entry that only passes down.
bool IsTrustedWriter(PSID sid, BYTE aceFlags, PSID caller) {
    if (IsTrustedOwner(sid, caller)) return true;
    if (::IsWellKnownSid(sid, WinCreatorOwnerSid)) return (aceFlags & INHERIT_ONLY_ACE) != 0;
    LocalMemory installer;
    return ::ConvertStringSidToSidW(kTrustedInstaller, &installer.memory) && ::EqualSid(sid, installer.memory);
}

bool IsAllowing(BYTE aceType) {
    return aceType == ACCESS_ALLOWED_ACE_TYPE || aceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE ||
           aceType == ACCESS_ALLOWED_OBJECT_ACE_TYPE || aceType == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE ||
           aceType == ACCESS_ALLOWED_COMPOUND_ACE_TYPE;
}

// Under Wine, the caller's own SID, which Wine reports as the owner of every
// file (state_folder.h); elsewhere none.
PSID TrustedCaller() {
    static const std::vector<unsigned char> user = [] {
        std::vector<unsigned char> buffer;
        const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
        if (ntdll == nullptr || ::GetProcAddress(ntdll, "wine_get_version") == nullptr) return buffer;
        HANDLE token = nullptr;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return buffer;
        DWORD size = 0;
        ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        buffer.resize(size);
        if (size == 0 || !::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) buffer.clear();
        ::CloseHandle(token);
        return buffer;
    }();
    return user.empty() ? nullptr : reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
}

// Writes "<program>: <problem>" on standard error, once per problem in this process.
void ReportProblem(const std::string& problem) {
    static std::mutex mutex;
    static std::set<std::string> reported;
    const std::lock_guard<std::mutex> lock(mutex);
    if (!reported.insert(problem).second) return;
    wchar_t module[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
    const std::string program = WideToAnsi(fs::path(std::wstring(module, length)).stem().wstring());
    std::fprintf(stderr, "%s: %s\n", program.c_str(), problem.c_str());
    std::fflush(stderr);
}

std::uint32_t Refuse(const fs::path& folder, const std::string& why, std::string& problem) {
    problem = WideToAnsi(folder.wstring()) + " is refused as state: " + why;
    ReportProblem(problem);
    return ERROR_ACCESS_DENIED;
}

// Makes folder with kNewStateFolderSecurity, and first the missing folders above it.
std::uint32_t CreateFolder(const fs::path& folder) {
    std::error_code ignored;  // a folder above that cannot be made fails the one below
    fs::create_directories(folder.parent_path(), ignored);
    LocalMemory descriptor;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kNewStateFolderSecurity, SDDL_REVISION_1,
                                                                &descriptor.memory, nullptr)) {
        return ::GetLastError();
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.memory, FALSE};
    if (::CreateDirectoryW(folder.c_str(), &attributes) || ::GetLastError() == ERROR_ALREADY_EXISTS) {
        return ERROR_SUCCESS;
    }
    return ::GetLastError();
}

// Judges the folder or link that handle is open on; isLink: it is a reparse point.
std::uint32_t Judge(HANDLE handle, const fs::path& folder, const std::string& what, bool& isLink,
                    std::string& problem) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(handle, &information)) return ::GetLastError();
    isLink = (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return Refuse(folder, what + "it is not a folder", problem);
    }
    LocalMemory descriptor;
    const DWORD error =
        ::GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                          nullptr, nullptr, nullptr, &descriptor.memory);
    if (error != ERROR_SUCCESS) return error;
    const std::string why = UntrustedBecause(descriptor.memory, TrustedCaller());
    return why.empty() ? ERROR_SUCCESS : Refuse(folder, what + why, problem);
}

}  // namespace

std::string UntrustedBecause(const void* descriptor, const void* caller) {
    const auto security = const_cast<PSECURITY_DESCRIPTOR>(descriptor);
    const auto trusted = const_cast<PSID>(caller);
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!::GetSecurityDescriptorOwner(security, &owner, &defaulted) || owner == nullptr) return "it has no owner";
    if (!IsTrustedOwner(owner, trusted)) {
        return "its owner (" + Named(owner) + ") is neither SYSTEM nor the Administrators group";
    }
    BOOL present = FALSE;
    PACL list = nullptr;
    if (!::GetSecurityDescriptorDacl(security, &present, &list, &defaulted)) return "its access list cannot be read";
    if (!present || list == nullptr) return "it has no access list, so everyone may write to it";
    for (DWORD index = 0; index < list->AceCount; ++index) {
        ACE_HEADER* entry = nullptr;
        if (!::GetAce(list, index, reinterpret_cast<void**>(&entry))) return "its access list cannot be read";
        if (!IsAllowing(entry->AceType)) continue;  // denials and audits grant nothing
        // Every allowing entry has its mask after the header; the plain and
        // the callback kinds have the SID after it. The object and compound
        // kinds (never made for files) are trusted for no one.
        const auto* allowing = reinterpret_cast<ACCESS_ALLOWED_ACE*>(entry);
        if ((allowing->Mask & kWriteRights) == 0) continue;
        const bool plain =
            entry->AceType == ACCESS_ALLOWED_ACE_TYPE || entry->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
        const auto sid = plain ? const_cast<PSID>(static_cast<const void*>(&allowing->SidStart)) : nullptr;
        if (sid != nullptr && IsTrustedWriter(sid, entry->AceFlags, trusted)) continue;
        char mask[16];
        std::snprintf(mask, sizeof mask, "0x%08lx", static_cast<unsigned long>(allowing->Mask));
        return "others may write to it (access " + std::string(mask) + " for " +
               (sid != nullptr ? Named(sid) : "an entry of type " + std::to_string(entry->AceType)) + ")";
    }
    return {};
}

std::uint32_t OpenStateFolder(const fs::path& folder, bool create, std::string& problem) {
    problem.clear();
    if (create) {
        if (const std::uint32_t status = CreateFolder(folder); status != ERROR_SUCCESS) return status;
    }
    // The folder itself, a link not followed; for a link, then what it leads to.
    for (const bool followLink : {false, true}) {
        const HANDLE handle =
            ::CreateFileW(folder.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
        if (handle == INVALID_HANDLE_VALUE) return ::GetLastError();
        bool isLink = false;
        const std::uint32_t status = Judge(handle, folder, followLink ? "its target: " : "", isLink, problem);
        ::CloseHandle(handle);
        if (status != ERROR_SUCCESS || !isLink) return status;
    }
    return ERROR_SUCCESS;
}

}  // namespace kairovel::platform
