#include "platform/posix/problem_report.h"

#include <errno.h>
#include <unistd.h>

#include <mutex>
#include <set>

namespace kairovel::platform {

void ReportProblem(const std::string& problem) {
    static std::mutex mutex;
    static std::set<std::string> reported;
    const std::lock_guard<std::mutex> lock(mutex);
    if (!reported.insert(problem).second) return;
    const std::string line = std::string(program_invocation_short_name) + ": " + problem + "\n";
    [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
}

}  // namespace kairovel::platform
