// Why a call of the Linux stand-ins failed, in words, where the Windows
// error code alone cannot say it (a refused state folder, a missing systemd).
#pragma once

#include <string>

namespace kairovel::platform {

// Writes "<program>: <problem>" on standard error, once per problem in this process.
void ReportProblem(const std::string& problem);

}  // namespace kairovel::platform
