// The simulator's end of the line: a pseudo-terminal it creates, or a real serial device.
#pragma once

#include <cstdint>
#include <string>

namespace vemox::sim {

// Owns a file descriptor.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() noexcept;
    void reset() noexcept;

private:
    int fd_ = -1;
};

struct Pty {
    Fd master;        // the simulator reads requests and writes replies here
    Fd slave;         // held open so the line does not hang up while no client has it open
    std::string path; // the device a client opens
};

// A new pseudo-terminal in raw mode, master non-blocking; at `baud` when the terminal layer
// has a setting for it, so that a client that leaves the rate alone runs at the controllers'
// rate. Throws std::system_error.
Pty OpenPty(std::uint32_t baud = 0);

// The rate the terminal is set to (both ends of a pseudo-terminal share one setting, so the
// simulator sees what its client chose); 0 when it has none the simulator knows.
std::uint32_t TerminalBaud(int fd);
// Whether the terminal layer has a setting for this rate.
bool TerminalHasRate(std::uint32_t baud);

// A serial device in raw 8N1 at the given rate, non-blocking. Throws std::system_error, or
// std::invalid_argument for a rate the terminal layer has no constant for.
Fd OpenSerialDevice(const std::string& path, std::uint32_t baud);

// A symbolic link to the pty for clients that want a fixed name; removed again on
// destruction when it still points where it was made to point.
class Symlink {
public:
    Symlink(std::string link, std::string target);
    Symlink(const Symlink&) = delete;
    Symlink& operator=(const Symlink&) = delete;
    ~Symlink();

private:
    std::string link_;
    std::string target_;
};

// A pipe whose write end may be poked from a signal handler to stop a serve loop.
struct WakePipe {
    Fd read;
    Fd write;
};
WakePipe OpenWakePipe();

} // namespace vemox::sim
