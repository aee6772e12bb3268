#include <gtest/gtest.h>

#include <memory>

#include "platform/last_error.h"
#include "platform/posix/kernel_objects.h"
#include "platform/privilege.h"
#include "clock/privilege.h"
#include "support/raised.h"

namespace kairovel {
namespace {

using testing::RaisedText;

// A token facility that fails the step it is told to, and counts open tokens.
class FailingPrivileges final : public platform::PrivilegeFacility {
public:
    enum class Step { None, Open, Lookup, Adjust };

    class Token final : public platform::HandleObject {
    public:
        explicit Token(int& open) : open_(open) { ++open_; }
        ~Token() override { --open_; }

    private:
        int& open_;
    };

    explicit FailingPrivileges(Step failing) : failing_(failing) {}

    bool OpenProcessToken(std::uint32_t access, platform::HANDLE& token) override {
        EXPECT_EQ(access, platform::TOKEN_ADJUST_PRIVILEGES | platform::TOKEN_QUERY);
        if (failing_ == Step::Open) return Fail(platform::ERROR_ACCESS_DENIED);
        token = platform::AddHandle(std::make_shared<Token>(openTokens));
        return true;
    }
    bool LookupPrivilegeValueW(const wchar_t* system, const wchar_t* name, platform::LUID& privilege) override {
        EXPECT_EQ(system, nullptr);
        EXPECT_EQ(std::wstring(name), L"SeSystemtimePrivilege");
        if (failing_ == Step::Lookup) return Fail(platform::ERROR_NO_SUCH_PRIVILEGE);
        privilege = platform::LUID{12, 0};
        return true;
    }
    bool AdjustTokenPrivileges(platform::HANDLE, const platform::LUID& privilege, std::uint32_t attributes) override {
        EXPECT_EQ(privilege.LowPart, 12u);
        EXPECT_EQ(attributes, platform::SE_PRIVILEGE_ENABLED);
        ++adjusted;
        if (failing_ == Step::Adjust) return Fail(platform::ERROR_INVALID_HANDLE);
        platform::SetLastError(platform::ERROR_NOT_ALL_ASSIGNED);  // held or not, only the result counts
        return true;
    }

    int openTokens = 0;
    int adjusted = 0;

private:
    static bool Fail(std::uint32_t code) {
        platform::SetLastError(code);
        return false;
    }
    Step failing_;
};

TEST(EnableSystemTimePrivilege, EachFailingStepRaisesItsMessage) {
    using Step = FailingPrivileges::Step;
    struct Case {
        Step step;
        const wchar_t* message;
    };
    for (const Case& c : {Case{Step::Open, L"Error 5 from OpenProcessToken"},
                          Case{Step::Lookup, L"Error 1313 from LookupPrivilegeValue"},
                          Case{Step::Adjust, L"Error 6 from AdjustTokenPrivileges"},
                          Case{Step::None, L"<nothing raised>"}}) {
        FailingPrivileges privileges(c.step);
        const platform::ScopedFacility<platform::PrivilegeFacility> scope(privileges);
        EXPECT_EQ(RaisedText([] { EnableSystemTimePrivilege(); }), c.message);
        EXPECT_EQ(privileges.openTokens, 0);  // the token is closed on every way out
        EXPECT_EQ(privileges.adjusted, c.step == Step::Adjust || c.step == Step::None ? 1 : 0);
    }
}

TEST(EnableSystemTimePrivilege, PassesWithoutThePrivilegeOnThisMachine) {
    // The tests run without CAP_SYS_TIME: enabling still succeeds, as on Windows.
    EXPECT_EQ(RaisedText([] { EnableSystemTimePrivilege(); }), L"<nothing raised>");
}

}  // namespace
}  // namespace kairovel
