// The process facility on Linux.
#include "platform/process.h"

#include <gtest/gtest.h>

#include "platform/last_error.h"
#include "platform/win_types.h"

namespace kairovel::platform {
namespace {

TEST(Process, AnUnknownPriorityClassIsRefused) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(Process().SetPriorityClass(0x1234));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace kairovel::platform
