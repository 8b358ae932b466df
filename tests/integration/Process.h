// Child processes for the end-to-end tests: started with pipes on their output, waited for
// and stopped by the test itself, never left behind.
#pragma once

#include <csignal>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vemox::testing {

enum class Stream { Out, Err };

struct Finished {
    int exitCode = -1; // -1 when the process did not end by itself in time
    std::string out;
    std::string err;
};

class Process {
public:
    explicit Process(const std::vector<std::string>& argv);
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process(); // stops the process if it still runs

    // Reads standard output until a line starting with `prefix` arrives; the rest of that
    // line, or "" when the process ends or `timeoutMs` passes first.
    std::string WaitForLine(const std::string& prefix, int timeoutMs);
    // Reads until `text` has appeared on the stream (true) or the time is up (false); the
    // next wait on that stream looks only after it.
    bool WaitForText(const std::string& text, int timeoutMs, Stream stream = Stream::Out);
    // Reads until `done` holds for all the process has printed on the stream (true) or the
    // time is up (false).
    bool WaitUntil(const std::function<bool(const std::string&)>& done, int timeoutMs,
                   Stream stream = Stream::Out);

    void Signal(int signal) const;
    // Waits until the process handles `signal` itself (or has ended), at most timeoutMs: a
    // signal sent earlier would find the system's default action instead.
    void WaitUntilHandling(int signal, int timeoutMs) const;
    // Collects the remaining output and the exit status; kills the process after timeoutMs.
    Finished Wait(int timeoutMs);

    const std::string& Output() const noexcept { return out_; }
    const std::string& Errors() const noexcept { return err_; }

private:
    bool Pump(int timeoutMs);

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    std::string out_;
    std::string err_;
    std::size_t scanned_[2] = {0, 0}; // per stream, where the next WaitForText looks
};

// Runs a program to its end.
Finished RunToEnd(const std::vector<std::string>& argv, int timeoutMs);

} // namespace vemox::testing
