// A small service for the tests of the service manager stand-in: it runs
// under the dispatcher as "KairovelTest" and prints what happens to it on
// standard output (the console file of an interactive entry).
//
// Started, it registers its handler, checks the dispatcher's refusals, reports
// RUNNING and waits for the stop control. Start parameters change that:
//   stop-only   accepts the stop control only (no pause and continue)
//   slow-stop   stays STOP_PENDING for a second before it reports STOPPED
//   die         ends its process with SIGKILL once it runs
// With KAIROVEL_TEST_SERVICE=hang in its environment it never connects.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "platform/codepage.h"
#include "platform/last_error.h"
#include "platform/service_dispatcher.h"

namespace {

using namespace kairovel::platform;

constexpr wchar_t kName[] = L"KairovelTest";

std::mutex mutex;
std::condition_variable stopRequested;
bool stopping = false;
SERVICE_STATUS_HANDLE statusHandle;
SERVICE_STATUS current{SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, 0, 0, 0, 0, 0};
std::uint32_t accepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;
bool slowStop = false;

void Say(const std::string& text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

void Report(std::uint32_t state) {
    current.dwCurrentState = state;
    current.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : accepted;
    ++current.dwCheckPoint;
    if (!ServiceDispatcher().SetServiceStatus(statusHandle, current)) Say("report failed " + std::to_string(GetLastError()));
}

void Handler(std::uint32_t control) {
    Say("control " + std::to_string(control));
    const std::lock_guard<std::mutex> lock(mutex);
    switch (control) {
        case SERVICE_CONTROL_STOP:
            Report(SERVICE_STOP_PENDING);
            stopping = true;
            stopRequested.notify_all();
            break;
        case SERVICE_CONTROL_PAUSE:
            Report(SERVICE_PAUSED);
            break;
        case SERVICE_CONTROL_CONTINUE:
            Report(SERVICE_RUNNING);
            break;
        default:
            Report(current.dwCurrentState);
            break;
    }
}

void ServiceMain(std::uint32_t count, wchar_t** arguments) {
    std::string line = "main";
    for (std::uint32_t i = 0; i < count; ++i) line += " " + WideToAnsi(arguments[i]);
    Say(line);
    bool die = false;
    for (std::uint32_t i = 1; i < count; ++i) {
        const std::wstring argument = arguments[i];
        if (argument == L"stop-only") accepted = SERVICE_ACCEPT_STOP;
        if (argument == L"slow-stop") slowStop = true;
        if (argument == L"die") die = true;
    }
    if (!ServiceDispatcher().RegisterServiceCtrlHandlerW(L"Other", Handler)) {
        Say("other name refused " + std::to_string(GetLastError()));
    }
    statusHandle = ServiceDispatcher().RegisterServiceCtrlHandlerW(L"kairoveltest", Handler);
    SERVICE_STATUS bad = current;
    bad.dwCurrentState = 9;
    if (!ServiceDispatcher().SetServiceStatus(statusHandle, bad)) Say("bad state refused " + std::to_string(GetLastError()));
    if (!ServiceDispatcher().SetServiceStatus(SERVICE_STATUS_HANDLE{12345}, current)) {
        Say("bad handle refused " + std::to_string(GetLastError()));
    }
    const char* mark = std::getenv("KAIROVEL_TEST_MARK");
    Say(std::string("mark ") + (mark != nullptr ? mark : "none"));
    std::unique_lock<std::mutex> lock(mutex);
    Report(SERVICE_RUNNING);
    if (die) ::kill(::getpid(), SIGKILL);
    stopRequested.wait(lock, [] { return stopping; });
    if (slowStop) {
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        lock.lock();
    }
    Report(SERVICE_STOPPED);
}

}  // namespace

int main() {
    const char* mode = std::getenv("KAIROVEL_TEST_SERVICE");
    if (mode != nullptr && std::string(mode) == "hang") {
        std::this_thread::sleep_for(std::chrono::minutes(2));
        return 0;
    }
    const SERVICE_TABLE_ENTRYW table[] = {{kName, ServiceMain}, {nullptr, nullptr}};
    if (!ServiceDispatcher().StartServiceCtrlDispatcherW(table)) {
        Say("dispatcher failed " + std::to_string(GetLastError()));
        return 1;
    }
    Say("dispatcher returned");
    return 0;
}
