// Whether the test runs under Wine, for the tests that Wine cannot run: they
// skip with the Wine limitation as their reason, never pass on a stand-in.
#pragma once

namespace kairovel::testing {

// True in a Windows program that Wine runs (ntdll exports wine_get_version).
bool RunningUnderWine();

}  // namespace kairovel::testing
