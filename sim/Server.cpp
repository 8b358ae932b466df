#include "sim/Server.h"

#include "sim/Mismatch.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace vemox::sim {

Server::Server(Simulator& simulator, int line, int stop, ServerOptions options)
    : simulator_(simulator), line_(line), stop_(stop), options_(std::move(options)),
      start_(std::chrono::steady_clock::now()) {}

void Server::Tap(const std::uint8_t* data, std::size_t size) const {
    if (options_.tap < 0 || size == 0) {
        return;
    }
    // A listener that does not keep up loses bytes; the line itself never waits for it.
    [[maybe_unused]] const ssize_t n = write(options_.tap, data, size);
}

Bytes Server::AcrossRates(Bytes bytes, bool toClient) const {
    if (bytes.empty() || !options_.clientBaud) {
        return bytes;
    }
    const std::uint32_t own = simulator_.timing().baud;
    const std::uint32_t client = options_.clientBaud();
    if (own == 0 || client == 0 || own == client) {
        return bytes;
    }
    return toClient ? HeardAt(bytes, own, client) : HeardAt(bytes, client, own);
}

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
        Tap(ready.data(), ready.size());
        const Bytes sent = AcrossRates(ready, true);
        unwritten_.insert(unwritten_.end(), sent.begin(), sent.end());
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
                Tap(buffer, static_cast<std::size_t>(n));
                const Bytes heard = AcrossRates(Bytes(buffer, buffer + n), false);
                simulator_.Receive(heard.data(), heard.size(), Now());
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
