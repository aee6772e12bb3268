// Network management over Samba's libnetapi, opened at run time.
//
// libnetapi offers the Windows calls under their own names, with narrow
// (UTF-8) names and Windows status codes, so the stand-in mostly converts:
// wide names to narrow ones, "\\NAME" to NAME (libnetapi takes the bare
// name), and Samba's buffers into buffers of this facility, so that the
// caller's NetApiBufferFree never has to know where a buffer came from.
//
// libnetapi keeps one context per process (its configuration, the account it
// logs on with and the sessions it holds open) and is not safe to call from
// two threads at once, so every call runs under one lock. The context, and
// with it the sessions, is kept from call to call, as Windows keeps them; a
// call that finds its session dropped by the server is made once more in a
// new context. Contexts are renewed only then and when the configured account
// changes, because every new one costs a little memory that Samba never gives
// back. The library is never closed: its context lives as long as the process.
#include <dlfcn.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "platform/codepage.h"
#include "platform/posix/ascii_case.h"
#include "platform/posix/dynamic_library.h"
#include "platform/posix/errors.h"
#include "platform/posix/samba_netapi.h"
#include "platform/posix/settings.h"
#include "platform/posix/state_folder.h"
#include "platform/win_types.h"

// libnetapi's declarations (netapi.h of Samba's development files declares the
// same; the few used are written out so that building needs none of them).
extern "C" {
struct libnetapi_ctx;
}

namespace kairovel::platform {
namespace {

using SambaStatus = std::uint32_t;

// The parts of libnetapi the stand-in calls, looked up by name after dlopen.
struct NetApi {
    SambaStatus (*init)(libnetapi_ctx** context) = nullptr;
    SambaStatus (*free)(libnetapi_ctx* context) = nullptr;
    SambaStatus (*setUsername)(libnetapi_ctx* context, const char* username) = nullptr;
    SambaStatus (*setPassword)(libnetapi_ctx* context, const char* password) = nullptr;
    SambaStatus (*setWorkgroup)(libnetapi_ctx* context, const char* workgroup) = nullptr;
    SambaStatus (*getDCName)(const char* serverName, const char* domainName, std::uint8_t** buffer) = nullptr;
    SambaStatus (*remoteTOD)(const char* serverName, std::uint8_t** buffer) = nullptr;
    SambaStatus (*bufferFree)(void* buffer) = nullptr;
};

// Samba's record has the Windows layout, field for field.
static_assert(sizeof(TIME_OF_DAY_INFO) == 12 * sizeof(std::uint32_t));

// Whether a status says that a session libnetapi kept open is gone.
bool SessionBrokeOff(NET_API_STATUS status) {
    constexpr NET_API_STATUS kUnexpectedNetworkError = 59;  // ERROR_UNEXP_NET_ERR
    return status == ERROR_NETNAME_DELETED || status == kUnexpectedNetworkError;
}

bool ResolveAll(void* library, NetApi& api) {
    return ResolveSymbol(library, "libnetapi_init", api.init) && ResolveSymbol(library, "libnetapi_free", api.free) &&
           ResolveSymbol(library, "libnetapi_set_username", api.setUsername) &&
           ResolveSymbol(library, "libnetapi_set_password", api.setPassword) &&
           ResolveSymbol(library, "libnetapi_set_workgroup", api.setWorkgroup) &&
           ResolveSymbol(library, "NetGetDCName", api.getDCName) &&
           ResolveSymbol(library, "NetRemoteTOD", api.remoteTOD) &&
           ResolveSymbol(library, "NetApiBufferFree", api.bufferFree);
}

// The account of KAIROVEL_NETAPI_CREDENTIALS; an empty user name means anonymous.
struct Account {
    std::string username;
    std::string password;
    std::string domain;
    bool operator==(const Account&) const = default;
};

std::string_view Trimmed(std::string_view text) {
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

// Reads "name = value" lines; '#' and ';' start comments. NERR_Success, or why the file cannot be read.
NET_API_STATUS ReadAccount(const std::filesystem::path& file, Account& account) {
    // A password file that another user may read, or change, is no secret.
    std::string problem;
    if (const std::uint32_t status = CheckTrustedPath(file, "the account file", problem, true);
        status != ERROR_SUCCESS) {
        return status;
    }
    errno = 0;
    std::ifstream in(file);
    if (!in) return WindowsErrorFromErrno(errno != 0 ? errno : ENOENT);
    std::string line;
    while (std::getline(in, line)) {
        const std::string_view text = Trimmed(line);
        if (text.empty() || text.front() == '#' || text.front() == ';') continue;
        const std::size_t equals = text.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view name = Trimmed(text.substr(0, equals));
        const std::string value(Trimmed(text.substr(equals + 1)));
        if (EqualsIgnoringAsciiCase(name, "username")) account.username = value;
        if (EqualsIgnoringAsciiCase(name, "password")) account.password = value;
        if (EqualsIgnoringAsciiCase(name, "domain")) account.domain = value;
    }
    return NERR_Success;
}

// libnetapi, its context and the lock around both: one per process, as the
// library keeps one context per process.
class NetApiLibrary {
public:
    // Runs call(api) under the lock with a ready context; the status of
    // loading the library or opening the context when that fails.
    template <class Call>
    NET_API_STATUS Use(const std::string& libraryFile, Call&& call) {
        const std::lock_guard<std::mutex> lock(mutex_);
        NET_API_STATUS status = Load(libraryFile);
        Account account;
        if (status == NERR_Success) status = ConfiguredAccount(account);
        if (status != NERR_Success) return status;
        // An account file edited while the program runs is used from the next call on.
        if (context_ != nullptr && account != account_) CloseContext();
        status = OpenContext(account);
        if (status != NERR_Success) return status;
        status = call(api_);
        if (SessionBrokeOff(status)) {
            // The server dropped a session kept from an earlier call, and
            // libnetapi would go on using it: like the Windows redirector, set
            // up a new one and ask once more.
            CloseContext();
            status = OpenContext(account);
            if (status == NERR_Success) status = call(api_);
        }
        return status;
    }

private:
    NET_API_STATUS Load(const std::string& libraryFile) {
        if (library_ != nullptr) {
            // Another instance loaded it under another name: this name must name a library too.
            if (libraryFile == loadedFile_) return NERR_Success;
            void* other = OpenLibraryForLife(libraryFile);
            if (other == nullptr) return ERROR_MOD_NOT_FOUND;
            ::dlclose(other);
            return NERR_Success;
        }
        NetApi api;
        NET_API_STATUS error = NERR_Success;
        void* library = OpenLibrary(libraryFile, [&](void* opened) { return ResolveAll(opened, api); }, error);
        if (library == nullptr) return error;
        library_ = library;
        loadedFile_ = libraryFile;
        api_ = api;
        return NERR_Success;
    }

    // The account of KAIROVEL_NETAPI_CREDENTIALS; anonymous without the setting.
    static NET_API_STATUS ConfiguredAccount(Account& account) {
        const std::filesystem::path accountFile = NetworkCredentialsFile();
        return accountFile.empty() ? NERR_Success : ReadAccount(accountFile, account);
    }

    NET_API_STATUS OpenContext(const Account& account) {
        if (context_ != nullptr) return NERR_Success;
        libnetapi_ctx* context = nullptr;
        const SambaStatus status = api_.init(&context);
        if (status != NERR_Success || context == nullptr) return status != NERR_Success ? status : ERROR_CAN_NOT_COMPLETE;
        // Left to itself libnetapi logs on as the Unix user and asks for a
        // password on the terminal; a service has no terminal, so the account
        // is always given: the configured one, or anonymous (an empty name),
        // which a server's time of day is commonly open to.
        SambaStatus set = api_.setUsername(context, account.username.c_str());
        if (set == NERR_Success) set = api_.setPassword(context, account.password.c_str());
        if (set == NERR_Success && !account.domain.empty()) set = api_.setWorkgroup(context, account.domain.c_str());
        if (set != NERR_Success) {
            api_.free(context);
            return set;
        }
        context_ = context;
        account_ = account;
        return NERR_Success;
    }

    void CloseContext() {
        if (context_ == nullptr) return;
        api_.free(context_);
        context_ = nullptr;
    }

    std::mutex mutex_;
    void* library_ = nullptr;
    std::string loadedFile_;
    NetApi api_;
    libnetapi_ctx* context_ = nullptr;
    Account account_;  // the one context_ logs on with
};

NetApiLibrary& TheLibrary() {
    // Never destroyed: libnetapi's context lives as long as the process.
    static auto* library = new NetApiLibrary;
    return *library;
}

// A server name as libnetapi takes it: narrow, without the leading "\\"; null for the local machine.
std::string SambaServerName(const wchar_t* name) {
    std::wstring_view text = name != nullptr ? std::wstring_view(name) : std::wstring_view();
    if (text.starts_with(L"\\\\")) text.remove_prefix(2);
    return WideToAnsi(text);
}

const char* OrNull(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

}  // namespace

// The buffers this facility handed out; they are plain allocations of their own size.
class SambaNetworkManagement::HandedBuffers {
public:
    HandedBuffers() = default;
    ~HandedBuffers() {
        for (void* buffer : buffers_) ::operator delete(buffer);
    }
    HandedBuffers(const HandedBuffers&) = delete;
    HandedBuffers& operator=(const HandedBuffers&) = delete;

    template <class Value>
    LPBYTE Hand(const Value* values, std::size_t count) {
        void* buffer = ::operator new(count * sizeof(Value));
        std::memcpy(buffer, values, count * sizeof(Value));
        const std::lock_guard<std::mutex> lock(mutex_);
        buffers_.insert(buffer);
        return static_cast<LPBYTE>(buffer);
    }

    bool Free(void* buffer) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (buffers_.erase(buffer) == 0) return false;
        ::operator delete(buffer);
        return true;
    }

    std::size_t Outstanding() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return buffers_.size();
    }

private:
    mutable std::mutex mutex_;
    std::set<void*> buffers_;
};

SambaNetworkManagement::SambaNetworkManagement(std::string libraryFile)
    : libraryFile_(std::move(libraryFile)), buffers_(std::make_unique<HandedBuffers>()) {}

SambaNetworkManagement::~SambaNetworkManagement() = default;

NET_API_STATUS SambaNetworkManagement::NetGetDCName(const wchar_t* serverName, const wchar_t* domainName,
                                                    LPBYTE* buffer) {
    if (buffer == nullptr) return ERROR_INVALID_PARAMETER;
    *buffer = nullptr;
    const std::string server = SambaServerName(serverName);
    const std::string domain = WideToAnsi(domainName != nullptr ? domainName : L"");
    std::wstring controller;
    const NET_API_STATUS status = TheLibrary().Use(libraryFile_, [&](const NetApi& api) {
        std::uint8_t* name = nullptr;
        SambaStatus result = api.getDCName(OrNull(server), OrNull(domain), &name);
        if (result == NERR_Success && name != nullptr) controller = AnsiToWide(reinterpret_cast<const char*>(name));
        if (name != nullptr) api.bufferFree(name);
        // Samba's controller says 1908 where Windows' netapi32 says NERR_DCNotFound.
        if (result == ERROR_DOMAIN_CONTROLLER_NOT_FOUND) result = NERR_DCNotFound;
        if (result == NERR_Success && controller.empty()) result = NERR_DCNotFound;
        return result;
    });
    if (status != NERR_Success) return status;
    *buffer = buffers_->Hand(controller.c_str(), controller.size() + 1);
    return NERR_Success;
}

NET_API_STATUS SambaNetworkManagement::NetRemoteTOD(const wchar_t* uncServerName, LPBYTE* buffer) {
    if (buffer == nullptr) return ERROR_INVALID_PARAMETER;
    *buffer = nullptr;
    const std::string server = SambaServerName(uncServerName);
    TIME_OF_DAY_INFO timeOfDay{};
    const NET_API_STATUS status = TheLibrary().Use(libraryFile_, [&](const NetApi& api) {
        std::uint8_t* record = nullptr;
        SambaStatus result = api.remoteTOD(OrNull(server), &record);
        if (result == NERR_Success && record != nullptr) std::memcpy(&timeOfDay, record, sizeof timeOfDay);
        if (result == NERR_Success && record == nullptr) result = ERROR_INVALID_DATA;
        if (record != nullptr) api.bufferFree(record);
        return result;
    });
    if (status != NERR_Success) return status;
    *buffer = buffers_->Hand(&timeOfDay, 1);
    return NERR_Success;
}

NET_API_STATUS SambaNetworkManagement::NetApiBufferFree(void* buffer) {
    if (buffer == nullptr) return NERR_Success;
    return buffers_->Free(buffer) ? NERR_Success : ERROR_INVALID_PARAMETER;
}

std::size_t SambaNetworkManagement::OutstandingBuffers() const { return buffers_->Outstanding(); }

template <>
NetworkManagementFacility& DefaultFacility<NetworkManagementFacility>() {
    static SambaNetworkManagement management;
    return management;
}

}  // namespace kairovel::platform

#if defined(__SANITIZE_ADDRESS__)
// Samba keeps a few strings of its configuration in allocations that it never
// frees (talloc, under every Samba allocation); they are no fault of ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libtalloc.so\n"; }
#endif
#if defined(__SANITIZE_THREAD__)
// tdb, Samba's database, waits for a contended file lock with an alarm whose
// handler changes errno; the thread it interrupts is inside tdb, which reads
// errno only after it has reset it.
extern "C" const char* __tsan_default_suppressions() { return "signal:libtdb.so\n"; }
#endif
