// Serial devices and pseudo-terminals through termios, opened non-blocking.
#include "host/SerialLine.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace vemox::host {
namespace {

speed_t SpeedOf(std::uint32_t baud) {
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    default:
        return B0;
    }
}

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

class TermiosLine final : public SerialLine {
public:
    explicit TermiosLine(int fd) : fd_(fd) {}
    ~TermiosLine() override { ::close(fd_); }
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
            if (n < 0 && errno == EAGAIN && ::poll(&out, 1, 100) > 0) {
                continue;
            }
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
            // Nothing there (EAGAIN), or the other end of a pseudo-terminal is gone (EIO):
            // either way nothing arrived, and the driver's time-outs report the silence.
            return 0;
        }
    }

private:
    int fd_;
};

} // namespace

std::unique_ptr<SerialLine> OpenSerialLine(const std::string& device,
                                           const LineSettings& settings) {
    const speed_t speed = SpeedOf(settings.baud);
    if (speed == B0) {
        throw std::runtime_error(device + ": unsupported baud rate " +
                                 std::to_string(settings.baud));
    }
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        throw std::runtime_error(device + ": " + std::strerror(errno));
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        const std::string reason = std::strerror(errno);
        ::close(fd);
        throw std::runtime_error(device + ": not a serial line (" + reason + ")");
    }
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
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        const std::string reason = std::strerror(errno);
        ::close(fd);
        throw std::runtime_error(device + ": cannot set line parameters (" + reason + ")");
    }
    ::tcflush(fd, TCIOFLUSH);
    return std::make_unique<TermiosLine>(fd);
}

std::string DefaultDeviceFor(int portNumber) {
    return "/dev/ttyS" + std::to_string(portNumber);
}

} // namespace vemox::host
