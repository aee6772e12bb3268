#include "timebase/module.h"

#include <atomic>

namespace kairovel {
namespace {
std::atomic<bool> initialized{false};
std::atomic<bool> terminated{false};
}  // namespace

void InitializeTimeBase() { initialized.exchange(true); }

void TerminateTimeBase() { terminated.exchange(true); }

}  // namespace kairovel
