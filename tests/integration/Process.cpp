#include "Process.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vemox::testing {
namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

Process::Process(const std::vector<std::string>& argv) {
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    const int rc = ::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    outFd_ = out[0];
    errFd_ = err[0];
    if (rc != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + argv[0]);
    }
}

Process::~Process() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (outFd_ >= 0) {
        ::close(outFd_);
    }
    if (errFd_ >= 0) {
        ::close(errFd_);
    }
}

bool Process::Pump(int timeoutMs) {
    int* const fds[2] = {&outFd_, &errFd_};
    std::string* const sinks[2] = {&out_, &err_};
    pollfd polled[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
    if (outFd_ < 0 && errFd_ < 0) {
        return false;
    }
    if (::poll(polled, 2, timeoutMs) <= 0) {
        return false;
    }
    char buffer[4096];
    for (int i = 0; i < 2; ++i) {
        if (*fds[i] < 0 || polled[i].revents == 0) {
            continue;
        }
        const ssize_t n = ::read(*fds[i], buffer, sizeof buffer);
        if (n > 0) {
            sinks[i]->append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            ::close(*fds[i]); // end of output: poll ignores negative descriptors from now on
            *fds[i] = -1;
        }
    }
    return true;
}

std::string Process::WaitForLine(const std::string& prefix, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::size_t start = 0;
        while (start < out_.size()) {
            const std::size_t end = out_.find('\n', start);
            if (end == std::string::npos) {
                break;
            }
            if (out_.compare(start, prefix.size(), prefix) == 0) {
                return out_.substr(start + prefix.size(), end - start - prefix.size());
            }
            start = end + 1;
        }
        if (RemainingMs(deadline) == 0 || !Pump(RemainingMs(deadline))) {
            return "";
        }
    }
}

bool Process::WaitForText(const std::string& text, int timeoutMs, Stream stream) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const std::string& seen = stream == Stream::Out ? out_ : err_;
    std::size_t& scanned = scanned_[stream == Stream::Out ? 0 : 1];
    for (;;) {
        const std::size_t found = seen.find(text, scanned);
        if (found != std::string::npos) {
            scanned = found + text.size();
            return true;
        }
        if (RemainingMs(deadline) == 0 || !Pump(RemainingMs(deadline))) {
            return false;
        }
    }
}

bool Process::WaitUntil(const std::function<bool(const std::string&)>& done, int timeoutMs,
                        Stream stream) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const std::string& seen = stream == Stream::Out ? out_ : err_;
    while (!done(seen)) {
        if (RemainingMs(deadline) == 0 || !Pump(RemainingMs(deadline))) {
            return done(seen);
        }
    }
    return true;
}

void Process::Signal(int signal) const {
    if (pid_ > 0) {
        ::kill(pid_, signal);
    }
}

void Process::WaitUntilHandling(int signal, int timeoutMs) const {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const unsigned long long bit = 1ULL << (signal - 1);
    while (pid_ > 0 && RemainingMs(deadline) > 0) {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("State:\tZ", 0) == 0 ||
                (line.rfind("SigCgt:", 0) == 0 &&
                 (std::stoull(line.substr(7), nullptr, 16) & bit))) {
                return;
            }
        }
        ::usleep(1000);
    }
}

Finished Process::Wait(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    Finished result;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            pid_ = -1;
            while (Pump(50)) {
            }
            result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (RemainingMs(deadline) == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
            break;
        }
        Pump(std::min(RemainingMs(deadline), 20));
    }
    result.out = out_;
    result.err = err_;
    return result;
}

Finished RunToEnd(const std::vector<std::string>& argv, int timeoutMs) {
    Process process(argv);
    return process.Wait(timeoutMs);
}

} // namespace vemox::testing
