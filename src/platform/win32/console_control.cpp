// Console control events on Windows: one handler routine of the system's
// kind (BOOL WINAPI, DWORD) is installed, and it hands each event to the
// program's routines, the most recently installed first, until one handles it.
#include <windows.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/interface/console_control.h"

namespace kairovel::platform {
namespace {

class WindowsConsoleControl final : public ConsoleControlFacility {
public:
    bool SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, bool add) override {
        if (handler == nullptr) return ::SetConsoleCtrlHandler(nullptr, add ? TRUE : FALSE) != FALSE;
        const std::lock_guard<std::mutex> lock(mutex_);
        if (add) {
            if (!installed_ && !::SetConsoleCtrlHandler(&Dispatch, TRUE)) return false;
            installed_ = true;
            handlers_.push_back(handler);
            return true;
        }
        const auto found = std::find(handlers_.rbegin(), handlers_.rend(), handler);
        if (found == handlers_.rend()) {
            ::SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        handlers_.erase(std::next(found).base());
        return true;
    }

    static WindowsConsoleControl& Instance() {
        static WindowsConsoleControl control;
        return control;
    }

private:
    // Runs on the thread the system starts for the event.
    static BOOL WINAPI Dispatch(DWORD ctrlType) {
        std::vector<PHANDLER_ROUTINE> handlers;
        {
            const std::lock_guard<std::mutex> lock(Instance().mutex_);
            handlers = Instance().handlers_;
        }
        for (auto handler = handlers.rbegin(); handler != handlers.rend(); ++handler) {
            if ((*handler)(ctrlType)) return TRUE;
        }
        return FALSE;  // the system's default handling ends the process
    }

    std::mutex mutex_;
    std::vector<PHANDLER_ROUTINE> handlers_;
    bool installed_ = false;
};

}  // namespace

template <>
ConsoleControlFacility& DefaultFacility<ConsoleControlFacility>() {
    return WindowsConsoleControl::Instance();
}

}  // namespace kairovel::platform
