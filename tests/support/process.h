// Running programs from tests: the program under test and the peers it talks to.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace kairovel::testing {

struct ProcessResult {
    int exitCode = -1;  // the exit status, or 128 + signal number
    std::string standardOutput;
    std::string standardError;
    bool timedOut = false;
};

struct ProcessOptions {
    std::map<std::string, std::string> environment;  // added to (or replacing in) the test's own
    std::string standardInput;
    // RunProcess kills the child after this; a BackgroundProcess runs until it is stopped.
    std::chrono::milliseconds timeout{60'000};
    std::string workingDirectory;
};

// Runs a program to its end (or its time-out) and collects its output.
ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// A program running beside the test (a peer daemon), ended by its PID when
// the object goes: SIGTERM, then SIGKILL if it lingers.
class BackgroundProcess {
public:
    BackgroundProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool Running();
    // Ends the process and returns its exit code (128 + signal when killed).
    int Stop();
    // What it wrote to standard output and error so far (both go to one file).
    std::string Output() const;

private:
    pid_t pid_ = -1;
    int exitCode_ = -1;
    std::string outputPath_;
};

// Waits for a child the test forked to end, killing it (by its PID) when it
// has not ended within timeout: its exit code, 128 + the signal that ended
// it, or -1 when child is no child.
int WaitForChild(pid_t child, std::chrono::milliseconds timeout = std::chrono::minutes(1));

// The path of a program on PATH, or empty.
std::string FindProgram(const std::string& name);

}  // namespace kairovel::testing
