// The state folder on Windows (platform/win32/state_folder.h): the folder the
// program makes is trusted, one that Everyone may write is refused with its
// reason, and the rule itself holds for owners and entries that Wine cannot
// keep (it reports every file as the caller's, with entries from its Unix mode).
#include <windows.h>
#include <sddl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/sim/state_file.h"
#include "platform/win32/state_folder.h"
#include "support/temporary_directory.h"

namespace kairovel::platform {
namespace {

using ::testing::HasSubstr;

// A security descriptor made from its text, freed with the scope.
struct Descriptor {
    explicit Descriptor(const wchar_t* sddl) {
        ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &memory, nullptr);
    }
    ~Descriptor() { LocalFree(memory); }
    PSECURITY_DESCRIPTOR memory = nullptr;
};

// Why the rule refuses a folder with this descriptor, the caller trusted no more than others.
std::string Refused(const wchar_t* sddl) { return UntrustedBecause(Descriptor(sddl).memory, nullptr); }

TEST(StateFolderOnWindows, OnlyAFolderNoOneElseMayWriteIsTrusted) {
    const testing::TemporaryDirectory temporary;
    const std::filesystem::path folder = temporary / "state";
    const auto write = [](std::optional<std::string>& content) {
        content = "held";
        return true;
    };
    ASSERT_TRUE(SharedStateFile(folder / "file").Update(write)) << GetLastError();

    // Everyone may change it now, as a careless hand may allow.
    ASSERT_TRUE(SetFileSecurityW(folder.c_str(), DACL_SECURITY_INFORMATION,
                                 Descriptor(L"D:(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;WD)").memory));
    ::testing::internal::CaptureStderr();
    std::optional<std::string> content;
    std::string problem;
    EXPECT_FALSE(SharedStateFile(folder / "file").Read(content, problem));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(SharedStateFile(folder / "file").Update(write));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "win32_facility_tests: " + problem + "\n");
    EXPECT_THAT(problem,
                ::testing::StartsWith(folder.string() + " is refused as state: others may write to it (access 0x"));
    EXPECT_THAT(problem, HasSubstr("S-1-1-0)"));

    EXPECT_EQ(Refused(kNewStateFolderSecurity), "");  // what the program makes, with what Wine drops
    EXPECT_EQ(Refused(L"O:SYD:(A;;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)"
                      L"(A;OICIIO;GA;;;CO)(D;;FA;;;WD)"),
              "");
    EXPECT_THAT(Refused(L"O:BUD:(A;;FA;;;SY)"), HasSubstr("S-1-5-32-545) is neither SYSTEM nor"));
    // What a folder made in %ProgramData% inherits: Users may add to it.
    EXPECT_THAT(Refused(L"O:BAD:(A;;FA;;;BA)(A;CI;0x100004;;;BU)"),
                ::testing::AllOf(HasSubstr("(access 0x00100004 for "), HasSubstr("S-1-5-32-545)")));
    EXPECT_THAT(Refused(L"O:BAD:(A;OICI;GA;;;CO)"), HasSubstr("S-1-3-0)"));  // CREATOR OWNER on the folder itself
    EXPECT_EQ(Refused(L"O:BA"), "it has no access list, so everyone may write to it");
}

}  // namespace
}  // namespace kairovel::platform
