// kairovel-sc: the service control manager's command, for people and tests,
// in the manner of the Windows service control command. On Linux, where the
// manager is systemd, it is how a service is paused and continued.
//
//   kairovel-sc query NAME          the service's status
//   kairovel-sc start NAME [ARG...] starts it, with the arguments as start parameters
//   kairovel-sc stop|pause|continue|interrogate NAME
//                                   sends the control; prints the status it answers with
//   kairovel-sc delete NAME         marks the entry for deletion
//   kairovel-sc qc NAME             the entry's configuration
//
// A failing call prints "[SC] <Function> FAILED <code>:" and the system's text
// for the code, and the command exits with the code (the system keeps its low
// eight bits). State under KAIROVEL_ROOT, as for the program.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "platform/last_error.h"
#include "platform/service_controls.h"
#include "platform/service_manager.h"
#include "platform/system_message.h"

namespace {

using namespace kairovel::platform;

void Print(const std::wstring& text) { std::fputs(WideToAnsi(text).c_str(), stdout); }

// Reports the failure of function with the last error, as the Windows
// command does; the code, which the command exits with.
int Failed(std::wstring_view function) {
    const std::uint32_t code = GetLastError();
    Print(L"[SC] " + std::wstring(function) + L" FAILED " + std::to_wstring(code) + L":\n\n" +
          SystemErrorMessage(code) + L"\n\n");
    return static_cast<int>(code);
}

constexpr int kUsageError = 1639;  // ERROR_INVALID_COMMAND_LINE, as the Windows command answers a bad command line

std::wstring Hex(std::uint32_t value) {
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%x", value);
    return text;
}

// One field of the status layout: eight blanks, the label in a column of 19, ": ", the value.
std::wstring Field(std::wstring_view label, const std::wstring& value) {
    std::wstring line(8, L' ');
    line += label;
    if (label.size() < 19) line.append(19 - label.size(), L' ');
    return line + L": " + value + L"\n";
}

std::wstring TypeText(std::uint32_t type) {
    wchar_t hex[16];  // the type's hexadecimal digits, as the Windows command shows them
    std::swprintf(hex, 16, L"%x", type);
    std::wstring text = hex;
    const std::uint32_t process = type & ~SERVICE_INTERACTIVE_PROCESS;
    text += process == SERVICE_WIN32_OWN_PROCESS ? L"  WIN32_OWN_PROCESS" : process == SERVICE_WIN32_SHARE_PROCESS ? L"  WIN32_SHARE_PROCESS" : L"  ";
    if ((type & SERVICE_INTERACTIVE_PROCESS) != 0) text += L" (interactive)";
    return text;
}

std::wstring StateText(std::uint32_t state) {
    constexpr const wchar_t* kNames[] = {L"",        L"STOPPED",          L"START_PENDING",  L"STOP_PENDING",
                                         L"RUNNING", L"CONTINUE_PENDING", L"PAUSE_PENDING", L"PAUSED"};
    return std::to_wstring(state) + L"  " + (state < 8 ? kNames[state] : L"");
}

std::wstring AcceptedText(std::uint32_t accepted) {
    std::wstring text(32, L' ');
    text += (accepted & SERVICE_ACCEPT_STOP) != 0 ? L"(STOPPABLE, " : L"(NOT_STOPPABLE, ";
    text += (accepted & SERVICE_ACCEPT_PAUSE_CONTINUE) != 0 ? L"PAUSABLE, " : L"NOT_PAUSABLE, ";
    text += (accepted & SERVICE_ACCEPT_SHUTDOWN) != 0 ? L"ACCEPTS_SHUTDOWN)\n" : L"IGNORES_SHUTDOWN)\n";
    return text;
}

void PrintStatus(std::wstring_view name, const SERVICE_STATUS& status) {
    std::wstring out = L"\nSERVICE_NAME: " + std::wstring(name) + L"\n";
    out += Field(L"TYPE", TypeText(status.dwServiceType));
    out += Field(L"STATE", StateText(status.dwCurrentState));
    out += AcceptedText(status.dwControlsAccepted);
    out += Field(L"WIN32_EXIT_CODE", std::to_wstring(status.dwWin32ExitCode) + L"  (" + Hex(status.dwWin32ExitCode) + L")");
    out += Field(L"SERVICE_EXIT_CODE",
                 std::to_wstring(status.dwServiceSpecificExitCode) + L"  (" + Hex(status.dwServiceSpecificExitCode) + L")");
    out += Field(L"CHECKPOINT", Hex(status.dwCheckPoint));
    out += Field(L"WAIT_HINT", Hex(status.dwWaitHint));
    Print(out);
}

void PrintConfig(std::wstring_view name, const QUERY_SERVICE_CONFIGW& config) {
    constexpr const wchar_t* kStartTypes[] = {L"BOOT_START", L"SYSTEM_START", L"AUTO_START", L"DEMAND_START", L"DISABLED"};
    constexpr const wchar_t* kErrorControls[] = {L"IGNORE", L"NORMAL", L"SEVERE", L"CRITICAL"};
    std::wstring out = L"[SC] QueryServiceConfig SUCCESS\n\nSERVICE_NAME: " + std::wstring(name) + L"\n";
    out += Field(L"TYPE", TypeText(config.dwServiceType));
    out += Field(L"START_TYPE", std::to_wstring(config.dwStartType) + L"   " +
                                    (config.dwStartType < 5 ? kStartTypes[config.dwStartType] : L""));
    out += Field(L"ERROR_CONTROL", std::to_wstring(config.dwErrorControl) + L"   " +
                                       (config.dwErrorControl < 4 ? kErrorControls[config.dwErrorControl] : L""));
    out += Field(L"BINARY_PATH_NAME", config.lpBinaryPathName);
    out += Field(L"LOAD_ORDER_GROUP", config.lpLoadOrderGroup);
    out += Field(L"TAG", std::to_wstring(config.dwTagId));
    out += Field(L"DISPLAY_NAME", config.lpDisplayName);
    out += Field(L"DEPENDENCIES", config.lpDependencies);
    out += Field(L"SERVICE_START_NAME", config.lpServiceStartName);
    Print(out);
}

// What one command does with the service, once it is open with the access the command asks for.
struct Command {
    const char* name;
    std::uint32_t access;
    int (*run)(SC_HANDLE service, const std::wstring& name, const std::vector<std::wstring>& arguments);
};

int Query(SC_HANDLE service, const std::wstring& name, const std::vector<std::wstring>&) {
    SERVICE_STATUS status;
    if (!ServiceManager().QueryServiceStatus(service, status)) return Failed(L"QueryServiceStatus");
    PrintStatus(name, status);
    return 0;
}

int Start(SC_HANDLE service, const std::wstring& name, const std::vector<std::wstring>& arguments) {
    std::vector<const wchar_t*> pointers;
    for (const std::wstring& argument : arguments) pointers.push_back(argument.c_str());
    if (!ServiceManager().StartServiceW(service, static_cast<std::uint32_t>(pointers.size()), pointers.data())) {
        return Failed(L"StartService");
    }
    return Query(service, name, arguments);
}

int SendControl(SC_HANDLE service, const std::wstring& name, std::uint32_t control) {
    SERVICE_STATUS status;
    if (!ServiceManager().ControlService(service, control, status)) return Failed(L"ControlService");
    PrintStatus(name, status);
    return 0;
}

int Delete(SC_HANDLE service, const std::wstring&, const std::vector<std::wstring>&) {
    if (!ServiceManager().DeleteService(service)) return Failed(L"DeleteService");
    Print(L"[SC] DeleteService SUCCESS\n");
    return 0;
}

int QueryConfig(SC_HANDLE service, const std::wstring& name, const std::vector<std::wstring>&) {
    QUERY_SERVICE_CONFIGW config;
    if (!ServiceManager().QueryServiceConfigW(service, config)) return Failed(L"QueryServiceConfig");
    PrintConfig(name, config);
    return 0;
}

constexpr Command kCommands[] = {
    {"query", SERVICE_QUERY_STATUS, Query},
    {"start", SERVICE_START | SERVICE_QUERY_STATUS, Start},
    {"delete", DELETE, Delete},
    {"qc", SERVICE_QUERY_CONFIG, QueryConfig},
};

int Usage() {
    std::fputs(
        "usage: kairovel-sc query|start|stop|pause|continue|interrogate|delete|qc NAME\n"
        "       kairovel-sc start NAME [ARG...]   (the arguments are the service's start parameters)\n",
        stderr);
    return kUsageError;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string_view verb = argv[1];
    const Command* command = nullptr;
    for (const Command& candidate : kCommands) {
        if (verb == candidate.name) command = &candidate;
    }
    // The controls' commands (stop, pause, continue, interrogate) are the control table's.
    const ServiceControl* control = nullptr;
    for (const ServiceControl& candidate : kServiceControls) {
        if (!candidate.commandWord.empty() && verb == candidate.commandWord) control = &candidate;
    }
    if ((command == nullptr && control == nullptr) || (argc > 3 && verb != "start")) return Usage();
    const std::wstring name = AnsiToWide(argv[2]);
    std::vector<std::wstring> arguments;
    for (int i = 3; i < argc; ++i) arguments.push_back(AnsiToWide(argv[i]));

    const ScopedServiceHandle manager(ServiceManager().OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return Failed(L"OpenSCManager");
    const std::uint32_t access = command != nullptr ? command->access : control->neededAccess;
    const ScopedServiceHandle service(ServiceManager().OpenServiceW(manager.get(), name.c_str(), access));
    if (!service) return Failed(L"OpenService");
    return command != nullptr ? command->run(service.get(), name, arguments)
                              : SendControl(service.get(), name, control->code);
}
