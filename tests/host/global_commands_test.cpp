#include "module_fixture.h"

#include <cstring>
#include <string>

namespace pointillo::test {
namespace {

constexpr A_u_long kVersion = 0x00088C01;
constexpr PF_OutFlags kOutFlags = 0x06000006;
constexpr PF_OutFlags2 kOutFlags2 = 0x08001488;
const std::string kUtility = "AEGP Utility Suite";

using GlobalCommands = ModuleTest;

TEST_F(GlobalCommands, AboutWritesItsTextAlone) {
    hostsim::CommandIo io;
    ASSERT_EQ(send(PF_Cmd_ABOUT, io), PF_Err_NONE);
    const std::string text = io.out_data.return_msg;
    EXPECT_EQ(text, "Pointillo 1.1\r"
                    "Turns layers into dot clouds that break apart, fly and settle into the next "
                    "source.\r"
                    "https://brindlex.example/pointillo/support");
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_NE(text.back(), '\r');
    EXPECT_EQ(io.out_data.out_flags, 0);
    EXPECT_EQ(io.out_data.out_flags2, 0);
    EXPECT_EQ(host.calls.total(), 0);
}

TEST_F(GlobalCommands, SetupSetsVersionFlagsAndRegisters) {
    host.aegp.set_plugin_id(42);
    hostsim::CommandIo io;
    io.out_data.my_version = 0xFFFFFFFFu;
    ASSERT_EQ(send(PF_Cmd_GLOBAL_SETUP, io), PF_Err_NONE);
    EXPECT_EQ(io.out_data.my_version, kVersion);
    EXPECT_EQ(io.out_data.out_flags, kOutFlags);
    EXPECT_EQ(io.out_data.out_flags2, kOutFlags2);
    EXPECT_STREQ(io.out_data.return_msg, "");
    EXPECT_EQ(host.aegp.registrations(), std::vector<std::string>{"Pointillo"});
    const hostsim::SuiteCounts counts = host.suites.counts(kUtility, 13);
    EXPECT_EQ(counts.acquire_calls, 1);
    EXPECT_EQ(counts.release_calls, 1);
}

TEST_F(GlobalCommands, SetupWithoutUtilitySuiteStillSucceeds) {
    host.suites.withhold(kUtility, 13);
    hostsim::CommandIo io;
    ASSERT_EQ(send(PF_Cmd_GLOBAL_SETUP, io), PF_Err_NONE);
    EXPECT_EQ(io.out_data.my_version, kVersion);
    EXPECT_EQ(io.out_data.out_flags, kOutFlags);
    EXPECT_EQ(io.out_data.out_flags2, kOutFlags2);
    EXPECT_EQ(host.calls.count("AEGP_RegisterWithAEGP"), 0);
    EXPECT_EQ(host.suites.counts(kUtility, 13).acquire_calls, 1);
    EXPECT_EQ(host.suites.counts(kUtility, 13).release_calls, 0);
}

TEST_F(GlobalCommands, SetupJudgesTheSuiteByItsPointerAlone) {
    // An acquisition that fails and hands out nothing is unavailability...
    host.calls.fail_call("AcquireSuite", 1, 99);
    hostsim::CommandIo io;
    EXPECT_EQ(send(PF_Cmd_GLOBAL_SETUP, io), PF_Err_NONE);
    EXPECT_EQ(host.calls.count("AEGP_RegisterWithAEGP"), 0);

    // ...one that reports an error but hands the suite out is used and released.
    hostsim::Host odd;
    odd.calls.fail_call("AcquireSuite", 1, 99, hostsim::FaultMode::kAfter);
    hostsim::CommandIo io2;
    EXPECT_EQ(hostsim::send_command(odd, module, nullptr, PF_Cmd_GLOBAL_SETUP, io2), PF_Err_NONE);
    EXPECT_EQ(odd.calls.count("AEGP_RegisterWithAEGP"), 1);
    EXPECT_EQ(odd.suites.counts(kUtility, 13).released, 1);
    EXPECT_TRUE(odd.suites.all_released());
}

TEST_F(GlobalCommands, FailedRegistrationReturnsItsCodeAndReleasesTheSuiteOnce) {
    for (const A_Err code : {A_Err{PF_Err_OUT_OF_MEMORY}, A_Err{PF_Err_INTERNAL_STRUCT_DAMAGED},
                             A_Err{PF_Interrupt_CANCEL}, A_Err{1}, A_Err{-7}}) {
        hostsim::Host failing;
        failing.calls.fail_call("AEGP_RegisterWithAEGP", 1, code);
        hostsim::CommandIo io;
        EXPECT_EQ(hostsim::send_command(failing, module, nullptr, PF_Cmd_GLOBAL_SETUP, io), code);
        // Version and flags were written before the registration.
        EXPECT_EQ(io.out_data.my_version, kVersion) << "code " << code;
        EXPECT_EQ(io.out_data.out_flags, kOutFlags) << "code " << code;
        EXPECT_EQ(io.out_data.out_flags2, kOutFlags2) << "code " << code;
        // A host code carries no message.
        EXPECT_STREQ(io.out_data.return_msg, "") << "code " << code;
        const hostsim::SuiteCounts counts = failing.suites.counts(kUtility, 13);
        EXPECT_EQ(counts.acquired, 1) << "code " << code;
        EXPECT_EQ(counts.release_calls, 1) << "code " << code;
        EXPECT_EQ(counts.outstanding(), 0) << "code " << code;
    }
}

TEST_F(GlobalCommands, SetdownSucceedsWithoutTouchingTheHost) {
    hostsim::CommandIo io;
    EXPECT_EQ(send(PF_Cmd_GLOBAL_SETDOWN, io), PF_Err_NONE);
    EXPECT_EQ(host.calls.total(), 0);
    EXPECT_EQ(io.out_data.out_flags, 0);
    EXPECT_STREQ(io.out_data.return_msg, "");
}

} // namespace
} // namespace pointillo::test
