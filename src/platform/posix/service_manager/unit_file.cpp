#include "platform/posix/service_manager/unit_file.h"

#include <charconv>
#include <filesystem>
#include <sstream>

#include "platform/codepage.h"
#include "platform/posix/service_user.h"
#include "platform/posix/settings.h"

namespace kairovel::platform::scm {
namespace {

constexpr std::string_view kKeyPrefix = "X-Kairovel-";
constexpr char kDefaultStateRoot[] = "/var/lib/kairovel";
// The other time daemons, which must not discipline the clock beside the service.
constexpr char kOtherTimeDaemons[] =
    "systemd-timesyncd.service chrony.service chronyd.service ntp.service ntpd.service ntpsec.service "
    "openntpd.service";

// The sandbox. The service runs as a user of its own, with only the two
// capabilities a time service needs, given to that user: setting the clock
// and serving TIME on port 37. The clock calls are allowed on top of the
// system service set; changing priorities and limits is not. Netlink sockets
// are for Samba's client, which lists the network interfaces before it asks
// an NT machine or a domain controller. Its log files go into a folder of
// /var/log that systemd gives its user. Of /proc it sees its processes alone.
// It talks to unicast hosts and to a network's broadcast address, never to a
// multicast group (224.0.0.0/4, ff00::/8) or the reserved 240.0.0.0/4: the
// allowed ranges are all the others.
constexpr char kSandbox[] =
    "AmbientCapabilities=CAP_SYS_TIME CAP_NET_BIND_SERVICE\n"
    "CapabilityBoundingSet=CAP_SYS_TIME CAP_NET_BIND_SERVICE\n"
    "NoNewPrivileges=yes\n"
    "ProtectSystem=strict\n"
    "PrivateDevices=yes\n"
    "DevicePolicy=closed\n"
    "PrivateMounts=yes\n"
    "ProtectKernelTunables=yes\n"
    "ProtectKernelModules=yes\n"
    "ProtectKernelLogs=yes\n"
    "ProtectControlGroups=yes\n"
    "ProtectHostname=yes\n"
    "ProtectProc=invisible\n"
    "ProcSubset=pid\n"
    "LockPersonality=yes\n"
    "MemoryDenyWriteExecute=yes\n"
    "RestrictRealtime=yes\n"
    "RestrictSUIDSGID=yes\n"
    "RestrictNamespaces=yes\n"
    "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6 AF_NETLINK\n"
    "IPAddressDeny=any\n"
    "IPAddressAllow=0.0.0.0/1 128.0.0.0/2 192.0.0.0/3 255.255.255.255 "
    "::/1 8000::/2 c000::/3 e000::/4 f000::/5 f800::/6 fc00::/7 fe00::/8\n"
    "SystemCallArchitectures=native\n"
    "SystemCallFilter=@system-service @clock\n"
    "SystemCallFilter=~@resources\n"
    "SystemCallErrorNumber=EPERM\n"
    "UMask=0077\n"
    "KeyringMode=private\n"
    "RemoveIPC=yes\n";

bool IsUnder(const std::filesystem::path& path, std::string_view folder) {
    const std::string text = path.lexically_normal().string();
    return text == folder || text.starts_with(std::string(folder) + "/");
}

bool IsUnderAny(const std::vector<std::filesystem::path>& paths, std::initializer_list<std::string_view> folders) {
    for (const auto& path : paths) {
        for (const std::string_view folder : folders) {
            if (IsUnder(path, folder)) return true;
        }
    }
    return false;
}

std::string SettingOf(const ServiceUnit& unit, std::string_view name) {
    for (const std::string& entry : unit.environment) {
        if (entry.size() > name.size() && entry.starts_with(name) && entry[name.size()] == '=') {
            return entry.substr(name.size() + 1);
        }
    }
    return {};
}

bool HasControlCharacter(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
    }
    return false;
}

// A value in double quotation marks for a unit file: systemd expands "%"
// specifiers and undoes backslash escapes there; $ is doubled where
// ExecStart= would substitute a variable.
std::string Quoted(std::string_view text, bool forCommand) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '%') out += '%';
        if (c == '$' && forCommand) out += '$';
        out += c;
    }
    return out + "\"";
}

// Specifiers are expanded in Description= too.
std::string Plain(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '%') out += '%';
        out += c;
    }
    return out;
}

template <class Number>
bool ParseNumber(std::string_view text, Number& number) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc{} && end == text.data() + text.size();
}

}  // namespace

std::optional<std::string> UnitText(const ServiceUnit& unit, const std::string& stem) {
    const std::string name = WideToAnsi(unit.serviceName);
    const std::string display = WideToAnsi(unit.displayName);
    const std::string program = WideToAnsi(unit.binaryPath);
    for (const std::string_view value : {std::string_view(name), std::string_view(display), std::string_view(program)}) {
        if (HasControlCharacter(value)) return std::nullopt;
    }
    for (const std::string& entry : unit.environment) {
        if (HasControlCharacter(entry)) return std::nullopt;
    }
    std::string stateRoot = SettingOf(unit, "KAIROVEL_ROOT");
    if (stateRoot.empty()) stateRoot = kDefaultStateRoot;

    // What the service reads or writes must be inside its view of the file
    // system: a program or state under a home folder is kept readable, and
    // state under /tmp is the machine's /tmp, not a private one.
    const std::vector<std::filesystem::path> needed = {program, stateRoot, SettingOf(unit, "KAIROVEL_SYSLOG"),
                                                       SettingOf(unit, "KAIROVEL_NETAPI_CREDENTIALS")};
    const bool underHome = IsUnderAny(needed, {"/home", "/root", "/run/user"});
    const bool underTemporary = IsUnderAny(needed, {"/tmp", "/var/tmp"});

    std::ostringstream out;
    out << "# The service \"" << name << "\": written by the service manager's CreateService (kairovel /install)\n"
        << "# and removed by its DeleteService (kairovel /remove).\n"
        << "[Unit]\n"
        << "Description=" << Plain(display) << "\n"
        << "Documentation=man:kairovel(8)\n"
        << "Wants=time-sync.target network-online.target\n"
        << "Before=time-sync.target\n"
        << "After=network-online.target\n"
        << "Conflicts=" << kOtherTimeDaemons << "\n"
        << kKeyPrefix << "ServiceName=" << name << "\n"
        << kKeyPrefix << "DisplayName=" << display << "\n"
        << kKeyPrefix << "ServiceType=" << unit.type << "\n"
        << kKeyPrefix << "StartType=" << unit.startType << "\n"
        << kKeyPrefix << "ErrorControl=" << unit.errorControl << "\n"
        << kKeyPrefix << "BinaryPathName=" << program << "\n"
        << "\n[Service]\n"
        << "Type=notify\n"
        << "NotifyAccess=main\n"
        << "ExecStart=" << Quoted(program, true) << "\n";
    for (const std::string& entry : unit.environment) out << "Environment=" << Quoted(entry, false) << "\n";
    // The boot's id, which the service cannot read under ProcSubset=pid: set
    // after the copied settings, so that no creator's value stands.
    out << "Environment=" << kBootIdentitySetting << "=%b\n";
    // The service ends with exit code 1 by design, also when its start was
    // refused: that is never restarted, a crash or a kill is.
    out << "SuccessExitStatus=1\n"
        << "Restart=on-abnormal\n"
        << "RestartPreventExitStatus=1\n"
        << "RestartSec=2\n"
        << "SyslogIdentifier=" << Plain(name) << "\n"
        << "Nice=-10\n"
        << "User=" << kServiceUserName << "\n"
        << "Group=" << kServiceUserName << "\n"
        << "LogsDirectory=" << stem << "\n"
        << "RuntimeDirectory=" << stem << "\n"
        << "RuntimeDirectoryPreserve=yes\n"
        << "ReadWritePaths=" << Quoted("-" + stateRoot, false) << "\n"
        << kSandbox << "ProtectHome=" << (underHome ? "read-only" : "yes") << "\n"
        << "PrivateTmp=" << (underTemporary ? "no" : "yes") << "\n"
        << "\n[Install]\n"
        << "WantedBy=multi-user.target\n";
    return out.str();
}

bool ParseUnitText(std::string_view text, ServiceUnit& unit) {
    int fields = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.starts_with(kKeyPrefix)) continue;
        line.remove_prefix(kKeyPrefix.size());
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) return false;
        const std::string_view key = line.substr(0, equals);
        const std::string_view value = line.substr(equals + 1);
        bool ok = true;
        if (key == "ServiceName") unit.serviceName = AnsiToWide(value);
        else if (key == "DisplayName") unit.displayName = AnsiToWide(value);
        else if (key == "BinaryPathName") unit.binaryPath = AnsiToWide(value);
        else if (key == "ServiceType") ok = ParseNumber(value, unit.type);
        else if (key == "StartType") ok = ParseNumber(value, unit.startType);
        else if (key == "ErrorControl") ok = ParseNumber(value, unit.errorControl);
        else continue;
        if (!ok) return false;
        ++fields;
    }
    return fields == 6;
}

}  // namespace kairovel::platform::scm
