// Serial devices and pseudo-terminals through termios, opened non-blocking and exclusively.
#include "host/line/SerialLine.h"

#include "platform/linux/TermiosRates.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace vemox::host {
namespace {

tcflag_t SizeFlag(int dataBits) {
    switch (dataBits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

constexpr const char* kBusy = "device busy (another program has it open)";

// Owns a descriptor until the line takes it over.
class UniqueFd {
public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const noexcept { return fd_; }
    int release() noexcept { return std::exchange(fd_, -1); }

private:
    int fd_;
};

class TermiosLine final : public SerialLine {
public:
    explicit TermiosLine(int fd) : fd_(fd) {}
    ~TermiosLine() override {
        // The exclusive mode belongs to the terminal, not to this descriptor: a terminal that
        // stays open elsewhere (the far end of a pseudo-terminal) would refuse the next host.
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
    }
    TermiosLine(const TermiosLine&) = delete;
    TermiosLine& operator=(const TermiosLine&) = delete;

    bool Write(const std::uint8_t* data, std::size_t size) override {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(fd_, data + done, size - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            // A full output buffer gets a short grace period; a dead line gets none.
            pollfd out{fd_, POLLOUT, 0};
            if (n < 0 && errno == EAGAIN) {
                if (::poll(&out, 1, 100) > 0) {
                    continue;
                }
                return false;
            }
            Fail(n < 0 ? std::strerror(errno) : "write takes no bytes");
            return false;
        }
        return true;
    }

    std::size_t Read(std::uint8_t* buffer, std::size_t capacity) override {
        for (;;) {
            const ssize_t n = ::read(fd_, buffer, capacity);
            if (n > 0) {
                return static_cast<std::size_t>(n);
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno != EAGAIN) {
                Fail(std::strerror(errno)); // EIO: the far end of a pseudo-terminal is gone
            } else if (n == 0) {
                // A hung-up terminal (a USB adapter pulled out) reads as empty; only poll
                // tells it from a quiet line.
                pollfd in{fd_, POLLIN, 0};
                if (::poll(&in, 1, 0) > 0 && (in.revents & (POLLHUP | POLLERR | POLLNVAL))) {
                    Fail("hung up");
                }
            }
            return 0;
        }
    }

    void DropInput() override { ::tcflush(fd_, TCIFLUSH); }
    std::string Failure() const override { return failure_; }

    int Fd() const noexcept { return fd_; }
    // A line whose far end is gone reports itself readable for ever; once seen it is no
    // longer waited on, or the host would spin instead of waiting.
    bool HungUp() const noexcept { return !failure_.empty(); }
    void Fail(const std::string& why) {
        if (failure_.empty()) {
            failure_ = why;
        }
    }

private:
    int fd_;
    std::string failure_;
};

} // namespace

bool BaudRateSupported(std::uint32_t baud) {
    return platform::SpeedOfBaud(baud) != B0;
}

std::unique_ptr<SerialLine> OpenSerialLine(const std::string& device,
                                           const LineSettings& settings) {
    const speed_t speed = platform::SpeedOfBaud(settings.baud);
    if (speed == B0) {
        throw std::runtime_error(device + ": unsupported baud rate " +
                                 std::to_string(settings.baud));
    }
    UniqueFd fd(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        throw std::runtime_error(device + ": " + (errno == EBUSY ? kBusy : std::strerror(errno)));
    }
    termios tio{};
    if (::tcgetattr(fd.get(), &tio) != 0) {
        throw std::runtime_error(device + ": not a serial line (" + std::strerror(errno) + ")");
    }
    // Two hosts on one line would take each other's replies. The advisory lock also holds
    // against a privileged program, which exclusive mode does not stop.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        throw std::runtime_error(device + ": " +
                                 (errno == EWOULDBLOCK ? kBusy : std::strerror(errno)));
    }
    ::ioctl(fd.get(), TIOCEXCL);
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= SizeFlag(settings.dataBits) | CLOCAL | CREAD;
    if (settings.parity != 'N') {
        tio.c_cflag |= PARENB;
        if (settings.parity == 'O') {
            tio.c_cflag |= PARODD;
        }
    }
    if (settings.stopBits == 2) {
        tio.c_cflag |= CSTOPB;
    }
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    if (::tcsetattr(fd.get(), TCSANOW, &tio) != 0) {
        const std::string reason = std::strerror(errno);
        ::ioctl(fd.get(), TIOCNXCL);
        throw std::runtime_error(device + ": cannot set line parameters (" + reason + ")");
    }
    ::tcflush(fd.get(), TCIOFLUSH);
    return std::make_unique<TermiosLine>(fd.release());
}

void WaitForInput(const std::vector<SerialLine*>& lines, std::int64_t timeoutMs) {
    std::vector<pollfd> fds;
    std::vector<TermiosLine*> waited;
    for (SerialLine* line : lines) {
        auto* termios = dynamic_cast<TermiosLine*>(line);
        if (termios && !termios->HungUp()) {
            fds.push_back({termios->Fd(), POLLIN, 0});
            waited.push_back(termios);
        }
    }
    if (timeoutMs <= 0) {
        return;
    }
    if (fds.empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        return;
    }
    // An interrupted poll (the operator's Ctrl+C) simply ends the wait early.
    if (::poll(fds.data(), fds.size(), static_cast<int>(timeoutMs)) <= 0) {
        return;
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
        // What is still buffered is read all the same; nothing more will come.
        if (fds[i].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            waited[i]->Fail("hung up");
        }
    }
}

std::string DefaultDeviceFor(int portNumber) {
    return "/dev/ttyS" + std::to_string(portNumber);
}

bool DevicePresent(const std::string& device) {
    struct stat info {};
    return ::stat(device.c_str(), &info) == 0;
}

} // namespace vemox::host
