// The network management stand-in where no peer is needed: without the
// library, with a library that lacks the calls, with an unreadable account
// file, and the buffers it hands out. (Against a real smbd: tests/sources.)
#include "platform/netapi.h"

#include <gtest/gtest.h>

#include "platform/facility.h"
#include "platform/posix/samba_netapi.h"
#include "platform/win_types.h"
#include "sources/nt_time_source.h"
#include "support/raised.h"
#include "support/temporary_directory.h"

namespace kairovel::platform {
namespace {

TEST(SambaNetworkManagement, WithoutTheLibraryEveryCallFailsWithModuleNotFound) {
    SambaNetworkManagement absent("libnetapi-absent.so.1");
    LPBYTE buffer = reinterpret_cast<LPBYTE>(&absent);  // must be cleared
    EXPECT_EQ(absent.NetRemoteTOD(L"\\\\TIMEHOST", &buffer), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(absent.NetGetDCName(nullptr, L"CORP", &buffer), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(buffer, nullptr);

    const ScopedFacility<NetworkManagementFacility> scope(absent);
    EXPECT_EQ(testing::RaisedText([] {
                  NtTimeSource source(L"\\\\TIMEHOST");
                  TimeValue now;
                  source.GetTime(now);
              }),
              L"Could not get the time from \\\\TIMEHOST. Error 126 returned by NetRemoteTOD.");
    EXPECT_EQ(testing::RaisedText([] {
                  NtTimeSource source(L"");
                  TimeValue now;
                  source.GetTime(now);
              }),
              L"Could not get the name of the PDC of my domain.  Error 126 returned by NetGetDCName.");
}

TEST(SambaNetworkManagement, ALibraryWithoutTheCallsFailsWithProcedureNotFound) {
    SambaNetworkManagement notNetApi("libc.so.6");
    LPBYTE buffer = nullptr;
    EXPECT_EQ(notNetApi.NetRemoteTOD(L"\\\\TIMEHOST", &buffer), ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(buffer, nullptr);
}

TEST(SambaNetworkManagement, AnAccountFileThatCannotBeReadFailsTheCallBeforeAnyNetworkTraffic) {
    const testing::TemporaryDirectory folder;
    const testing::ScopedEnvironment setting("KAIROVEL_NETAPI_CREDENTIALS", (folder / "missing").string());
    SambaNetworkManagement management;
    LPBYTE buffer = nullptr;
    EXPECT_EQ(management.NetRemoteTOD(L"\\\\127.0.0.1", &buffer), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(buffer, nullptr);
}

TEST(SambaNetworkManagement, FreesOnlyItsOwnBuffers) {
    SambaNetworkManagement management("libnetapi-absent.so.1");
    EXPECT_EQ(management.NetApiBufferFree(nullptr), NERR_Success);
    int notABuffer = 0;
    EXPECT_EQ(management.NetApiBufferFree(&notABuffer), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(management.OutstandingBuffers(), 0u);
    EXPECT_EQ(management.NetRemoteTOD(nullptr, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(management.NetGetDCName(nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace kairovel::platform
