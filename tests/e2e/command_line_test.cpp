// The kairovel program run whole: its standard output, standard error and exit code.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/http_server.h"
#include "support/process.h"
#include "support/temporary_directory.h"

namespace kairovel::testing {
namespace {

// The usage text, byte for byte (tests/e2e/usage.txt, shared with the Windows build's tests).
const std::string kUsage = ReadFileBytes(std::filesystem::path(KAIROVEL_SOURCE_DIR) / "tests/e2e/usage.txt");

class CommandLine : public ::testing::Test {
protected:
    ProcessResult Kairovel(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), KAIROVEL_BINARY);
        ProcessOptions options;
        options.workingDirectory = folder_.path().string();
        options.environment["no_proxy"] = "*";
        options.timeout = std::chrono::seconds(60);
        return RunProcess(arguments, options);
    }
    void Write(const std::string& name, const std::string& bytes) { WriteFileBytes(folder_ / name, bytes); }

    TemporaryDirectory folder_;
};

// Expects exactly this output on standard output, nothing on standard error, and the exit code.
#define EXPECT_RUN(result, output, code)               \
    do {                                                 \
        const ProcessResult r = (result);                \
        EXPECT_EQ(r.standardOutput, output);             \
        EXPECT_EQ(r.standardError, "");                  \
        EXPECT_EQ(r.exitCode, code);                     \
        EXPECT_FALSE(r.timedOut);                        \
    } while (false)

TEST_F(CommandLine, HelpPrintsTheUsageTextAndWinsOverEveryOtherMode) {
    EXPECT_RUN(Kairovel({"/?"}), kUsage, 0);
    EXPECT_RUN(Kairovel({"/?", "/install"}), kUsage, 0);
    EXPECT_RUN(Kairovel({"/install", "/remove", "/status", "-?"}), kUsage, 0);
}

TEST_F(CommandLine, RefusalsAreNotErrors) {
    EXPECT_RUN(Kairovel({"/install", "/remove"}), "cannot specify /install and /remove\n", 0);
    EXPECT_RUN(Kairovel({"/domain=corp", "/period=1:00:00", "/trace=debug"}), "must specify either /install or /remove\n", 0);
}

TEST_F(CommandLine, ParserErrorsReachTheConsoleWithExitCodeOne) {
    EXPECT_RUN(Kairovel({"/foo"}), "Illegal argument /foo in command line\n", 1);
    EXPECT_RUN(Kairovel({"status"}), "Argument status in command line does not start with / or -\n", 1);
    // Messages that end in a line feed of their own are followed by a blank line.
    EXPECT_RUN(Kairovel({"/nt_machine"}), "Machine name required with nt_machine argument\n\n", 1);
    EXPECT_RUN(Kairovel({"/period=soon"}), "illegal period (soon) specified\n\n", 1);
    // The shell's quoting does not survive: the blank splits the argument.
    EXPECT_RUN(Kairovel({"/log=a b,1000", "/install", "/remove"}),
               "Argument b,1000 in command line does not start with / or -\n", 1);
    // The error comes first, whatever the modes asked for.
    EXPECT_RUN(Kairovel({"/?", "/trace=loud"}),
               "Illegal level loud in trace argument; permitted levels are debug, success and error.\n", 1);
}

TEST_F(CommandLine, ParameterFiles) {
    Write("good.txt", "# service parameters\r\n/domain=corp\r\n/install\r\n/remove\r\n");
    EXPECT_RUN(Kairovel({"/file=good.txt"}), "cannot specify /install and /remove\n", 0);
    Write("includes.txt", "/period=1\n/file=missing.txt\n");
    EXPECT_RUN(Kairovel({"/file=includes.txt", "/?"}), "Parameter file missing.txt not found\n", 1);
    Write("self.txt", "/file=self.txt\n");
    EXPECT_RUN(Kairovel({"/file=self.txt"}), "Include file depth of 6 exceeds permitted maximum.\n", 1);
    // Bytes that are not UTF-8 come back out exactly as they went in.
    Write("latin1.txt", "/caf\xE9\n");
    EXPECT_RUN(Kairovel({"/file=latin1.txt"}), "Illegal argument /caf\xE9 in command line\n", 1);
    Write("nul.txt", std::string("/install\0/bogus\n/remove", 23));
    EXPECT_RUN(Kairovel({"/file=nul.txt"}), "cannot specify /install and /remove\n", 0);
    EXPECT_RUN(Kairovel({"/file"}), "Filename expected with /file\n", 1);
}

TEST_F(CommandLine, ParameterUrls) {
    LoopbackHttpServer server;
    server.ServeText("/both", "/install\n/remove\n");
    EXPECT_RUN(Kairovel({"/url=" + server.Url("/both")}), "cannot specify /install and /remove\n", 0);
    server.ServeText("/bad", "/domain=corp\r\n/frobnicate\r\n");
    EXPECT_RUN(Kairovel({"/url=" + server.Url("/bad")}), "Illegal argument /frobnicate in command line\n", 1);
    EXPECT_RUN(Kairovel({"/url=" + server.Url("/missing")}),
               "Could not open the URL " + server.Url("/missing") + " due to error 404\n", 1);
    const RefusingPort refusing;
    const std::string refused = "http://127.0.0.1:" + std::to_string(refusing.port()) + "/";
    EXPECT_RUN(Kairovel({"/url=" + refused}), "Could not open the URL " + refused + " due to error 12029\n", 1);
    EXPECT_RUN(Kairovel({"/url="}), "URL expected with /url\n", 1);
}

TEST_F(CommandLine, AProgramPathWithBlanksIsOneWord) {
    std::filesystem::create_directory(folder_ / "my programs");
    const auto program = folder_ / "my programs" / "kairovel";
    std::filesystem::copy_file(KAIROVEL_BINARY, program);
    const ProcessResult r = RunProcess({program.string(), "/install", "/remove"});
    EXPECT_EQ(r.standardOutput, "cannot specify /install and /remove\n");
    EXPECT_EQ(r.exitCode, 0);
}

TEST_F(CommandLine, WithoutArgumentsAndWithoutAControlManager) {
    const ProcessResult r = Kairovel({});
    EXPECT_EQ(r.standardOutput, "");
    EXPECT_EQ(r.standardError, "Service was stopped because StartServiceCtrlDispatcher failed.. Error code was 1063\n");
    EXPECT_EQ(r.exitCode, 1);
}

TEST_F(CommandLine, CtrlCEndsTheProgramWhileItWaitsForAUrl) {
    LoopbackHttpServer server;
    HttpResponse slow;
    slow.delayBeforeAnswer = std::chrono::seconds(20);
    server.Serve("/slow", slow);
    ProcessOptions options;
    options.environment["no_proxy"] = "*";
    BackgroundProcess program({KAIROVEL_BINARY, "/url=" + server.Url("/slow")}, options);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (server.Requests().empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(server.Requests().size(), 1u);
    ::kill(program.pid(), SIGINT);
    while (program.Running() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(program.Stop(), 128 + SIGINT);
    EXPECT_EQ(program.Output(), "");
}

}  // namespace
}  // namespace kairovel::testing
