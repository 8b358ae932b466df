#include "sim/Endpoint.h"

#include "platform/linux/TermiosRates.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace vemox::sim {

namespace {

[[noreturn]] void Fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void SetNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        Fail("fcntl");
    }
}

void MakeRaw(int fd, speed_t speed, const std::string& what) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        Fail(what + ": tcgetattr");
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (speed != B0 && (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0)) {
        Fail(what + ": baud rate");
    }
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        Fail(what + ": tcsetattr");
    }
}

speed_t SpeedOf(std::uint32_t baud) {
    if (const speed_t speed = platform::SpeedOfBaud(baud); speed != B0) {
        return speed;
    }
    throw std::invalid_argument("no terminal setting for " + std::to_string(baud) + " baud");
}

} // namespace

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        reset();
        fd_ = other.release();
    }
    return *this;
}

int Fd::release() noexcept {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void Fd::reset() noexcept {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

bool TerminalHasRate(std::uint32_t baud) {
    return platform::SpeedOfBaud(baud) != B0;
}

std::uint32_t TerminalBaud(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        return 0;
    }
    return platform::BaudOfSpeed(cfgetospeed(&tio));
}

Pty OpenPty(std::uint32_t baud) {
    Pty pty;
    pty.master = Fd(posix_openpt(O_RDWR | O_NOCTTY));
    if (!pty.master) {
        Fail("posix_openpt");
    }
    if (grantpt(pty.master.get()) != 0 || unlockpt(pty.master.get()) != 0) {
        Fail("grantpt/unlockpt");
    }
    char name[PATH_MAX];
    if (ptsname_r(pty.master.get(), name, sizeof name) != 0) {
        Fail("ptsname_r");
    }
    pty.path = name;
    pty.slave = Fd(open(name, O_RDWR | O_NOCTTY));
    if (!pty.slave) {
        Fail(pty.path);
    }
    // No echo and no line editing, or the line would answer requests with their own bytes.
    MakeRaw(pty.slave.get(), TerminalHasRate(baud) ? SpeedOf(baud) : B0, pty.path);
    SetNonBlocking(pty.master.get());
    return pty;
}

Fd OpenSerialDevice(const std::string& path, std::uint32_t baud) {
    const speed_t speed = SpeedOf(baud);
    Fd fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    if (!fd) {
        Fail(path);
    }
    MakeRaw(fd.get(), speed, path);
    tcflush(fd.get(), TCIOFLUSH);
    return fd;
}

Symlink::Symlink(std::string link, std::string target)
    : link_(std::move(link)), target_(std::move(target)) {
    struct stat st {};
    if (lstat(link_.c_str(), &st) == 0) {
        // Replace a stale link from an earlier run, but never a file someone else made.
        if (!S_ISLNK(st.st_mode)) {
            errno = EEXIST;
            Fail(link_ + " exists and is not a symbolic link");
        }
        if (unlink(link_.c_str()) != 0) {
            Fail(link_);
        }
    }
    if (symlink(target_.c_str(), link_.c_str()) != 0) {
        Fail(link_);
    }
}

Symlink::~Symlink() {
    char target[PATH_MAX];
    const ssize_t n = readlink(link_.c_str(), target, sizeof target - 1);
    if (n >= 0 && std::string(target, static_cast<std::size_t>(n)) == target_) {
        unlink(link_.c_str());
    }
}

WakePipe OpenWakePipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        Fail("pipe");
    }
    return {Fd(fds[0]), Fd(fds[1])};
}

} // namespace vemox::sim
