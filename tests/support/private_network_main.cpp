// The main of test programs that use the real TIME and NTP ports: every test
// process runs in a network namespace of its own.
#include <gmock/gmock.h>

#include "support/private_network.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleMock(&argc, argv);
    // Listing the tests (as ctest does to discover them) needs no network.
    if (!::testing::GTEST_FLAG(list_tests) && !kairovel::testing::EnterPrivateNetwork()) return 1;
    return RUN_ALL_TESTS();
}
