// The thread's last error is the system's own, so the codes the Windows calls
// leave reach the program's messages unchanged.
#include <windows.h>

#include "platform/last_error.h"

namespace kairovel::platform {

std::uint32_t GetLastError() { return ::GetLastError(); }

void SetLastError(std::uint32_t code) { ::SetLastError(code); }

}  // namespace kairovel::platform
