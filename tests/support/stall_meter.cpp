#include "support/stall_meter.h"

#include <pthread.h>
#include <sched.h>

namespace kairovel::testing {

using namespace std::chrono_literals;

StallMeter::StallMeter() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0) CPU_SET(0, &allowed);
    for (int processor = 0; processor < CPU_SETSIZE; ++processor) {
        if (CPU_ISSET(processor, &allowed)) threads_.emplace_back([this, processor] { Measure(processor); });
    }
}

StallMeter::~StallMeter() {
    stop_ = true;
    for (std::thread& thread : threads_) thread.join();
}

double StallMeter::LongestMilliseconds() const { return static_cast<double>(longest_.load()) / 1000.0; }

void StallMeter::Measure(int processor) {
    cpu_set_t only;
    CPU_ZERO(&only);
    CPU_SET(processor, &only);
    ::pthread_setaffinity_np(::pthread_self(), sizeof only, &only);  // unpinned, it still sees most stalls
    while (!stop_) {
        const auto before = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(1ms);
        const auto overrun =
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - before - 1ms).count();
        auto longest = longest_.load();
        while (overrun > longest && !longest_.compare_exchange_weak(longest, overrun)) {
        }
    }
}

}  // namespace kairovel::testing
