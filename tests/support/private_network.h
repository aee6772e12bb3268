// A private network namespace with only the loopback interface, for tests that
// use the real TIME and NTP ports: nothing they send can leave the machine, and
// tests in separate processes never meet on a port.
#pragma once

namespace kairovel::testing {

// Moves the calling process (before it starts threads) into a new network
// namespace and brings its loopback interface up. Returns false with a
// message on standard error when that is not possible (not root).
bool EnterPrivateNetwork();

}  // namespace kairovel::testing
