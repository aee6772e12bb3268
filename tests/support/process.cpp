#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace kairovel::testing {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> MergedEnvironment(const std::map<std::string, std::string>& extra) {
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const auto equals = text.find('=');
        if (equals != std::string::npos) merged[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& [name, value] : extra) merged[name] = value;
    std::vector<std::string> out;
    for (const auto& [name, value] : merged) out.push_back(name + "=" + value);
    return out;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> out;
    for (auto& text : texts) out.push_back(text.data());
    out.push_back(nullptr);
    return out;
}

int DecodeStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// fork + exec with the given descriptors as 0, 1 and 2 (-1: /dev/null for input).
pid_t Spawn(const std::vector<std::string>& argv, const ProcessOptions& options, int in, int out, int err) {
    if (argv.empty()) throw std::invalid_argument("no program to run");
    std::vector<std::string> args = argv;
    std::vector<std::string> env = MergedEnvironment(options.environment);
    std::vector<char*> argPointers = Pointers(args);
    std::vector<char*> envPointers = Pointers(env);
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::setpgid(0, 0);  // its own process group, so that ending it ends its children too
        if (in < 0) in = ::open("/dev/null", O_RDONLY);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) != 0) ::_exit(126);
        ::execvpe(argPointers[0], argPointers.data(), envPointers.data());
        ::_exit(127);
    }
    return pid;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
    int inPipe[2];
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(inPipe, O_CLOEXEC) != 0 || ::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = Spawn(argv, options, inPipe[0], outPipe[1], errPipe[1]);
    ::close(inPipe[0]);
    ::close(outPipe[1]);
    ::close(errPipe[1]);

    // Feed standard input from its own thread so a child that writes much first cannot dead-lock us.
    std::thread feeder([fd = inPipe[1], text = options.standardInput] {
        ::signal(SIGPIPE, SIG_IGN);
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        ::close(fd);
    });

    ProcessResult result;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.standardOutput, &result.standardError};
    const auto deadline = Clock::now() + options.timeout;
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            result.timedOut = true;
            ::kill(-pid, SIGKILL);
            ::kill(pid, SIGKILL);
            break;
        }
        if (::poll(fds, 2, static_cast<int>(left)) < 0 && errno != EINTR) break;
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || fds[k].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[k].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[k]->append(buffer, static_cast<std::size_t>(n));
            } else {
                ::close(fds[k].fd);
                fds[k].fd = -1;
                --open;
            }
        }
    }
    for (auto& fd : fds) {
        if (fd.fd >= 0) ::close(fd.fd);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    feeder.join();
    result.exitCode = DecodeStatus(status);
    return result;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
    char pattern[] = "/tmp/kairovel-peer-XXXXXX";
    const int out = ::mkstemp(pattern);
    if (out < 0) throw std::runtime_error("mkstemp failed");
    outputPath_ = pattern;
    pid_ = Spawn(argv, options, -1, out, out);
    ::close(out);
}

BackgroundProcess::~BackgroundProcess() {
    Stop();
    std::error_code ignored;
    std::filesystem::remove(outputPath_, ignored);
}

bool BackgroundProcess::Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
        exitCode_ = DecodeStatus(status);
        pid_ = -1;
        return false;
    }
    return true;
}

int BackgroundProcess::Stop() {
    if (!Running()) return exitCode_;
    ::kill(pid_, SIGTERM);
    for (int waited = 0; waited < 50 && Running(); ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (Running()) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        exitCode_ = DecodeStatus(status);
        pid_ = -1;
    }
    return exitCode_;
}

std::string BackgroundProcess::Output() const {
    std::ifstream in(outputPath_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int WaitForChild(pid_t child, std::chrono::milliseconds timeout) {
    if (child <= 0) return -1;
    const auto deadline = Clock::now() + timeout;
    int status = 0;
    pid_t done = 0;
    while ((done = ::waitpid(child, &status, WNOHANG)) == 0) {
        if (Clock::now() > deadline) {
            ::kill(child, SIGKILL);
            done = ::waitpid(child, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done == child ? DecodeStatus(status) : -1;
}

std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    dirs += ":/usr/sbin:/sbin:/usr/local/sbin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = dirs.find(':', start);
        const std::string dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const std::string candidate = dir + "/" + name;
        if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return {};
}

}  // namespace kairovel::testing
