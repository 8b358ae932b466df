#include "sim/Server.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <system_error>
#include <unistd.h>

namespace vemox::sim {

Server::Server(Simulator& simulator, int line, int stop)
    : simulator_(simulator), line_(line), stop_(stop), start_(std::chrono::steady_clock::now()) {}

// Writes what is due; answers false while the line takes no more bytes for now.
bool Server::Flush() {
    while (!unwritten_.empty()) {
        const ssize_t n = write(line_, unwritten_.data(), unwritten_.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return false;
            }
            throw std::system_error(errno, std::generic_category(), "write to the line");
        }
        unwritten_.erase(unwritten_.begin(), unwritten_.begin() + n);
    }
    return true;
}

void Server::Run() {
    std::uint8_t buffer[256];
    while (true) {
        const Bytes ready = simulator_.TakeDue(Now());
        unwritten_.insert(unwritten_.end(), ready.begin(), ready.end());
        const bool drained = Flush();

        timespec wait{};
        const timespec* timeout = nullptr; // nothing scheduled: sleep until bytes or stop
        const auto due = simulator_.NextDue();
        if (drained && due) {
            const auto left = std::max(SimTime{0}, *due - Now());
            wait.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
            wait.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
            timeout = &wait;
        }
        pollfd fds[2] = {{line_, static_cast<short>(POLLIN | (drained ? 0 : POLLOUT)), 0},
                         {stop_, POLLIN, 0}};
        if (ppoll(fds, 2, timeout, nullptr) < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw std::system_error(errno, std::generic_category(), "poll");
        }
        if (fds[1].revents != 0) {
            return;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            const ssize_t n = read(line_, buffer, sizeof buffer);
            if (n > 0) {
                simulator_.Receive(buffer, static_cast<std::size_t>(n), Now());
            } else if (n == 0) {
                throw std::system_error(EIO, std::generic_category(), "the line hung up");
            } else if (errno != EAGAIN && errno != EINTR) {
                throw std::system_error(errno, std::generic_category(), "read from the line");
            }
        } else if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            throw std::system_error(EIO, std::generic_category(), "the line hung up");
        }
    }
}

} // namespace vemox::sim
