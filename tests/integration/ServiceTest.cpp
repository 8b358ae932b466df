// vemox-host run as a service: a datagram socket of the test's own stands in for the service
// manager's, and hears READY, the watchdog, reloads and the stop. Reloads against the
// simulator: a bad file changes nothing, a good one changes the polled controllers over the
// same open line.
#include "Fixtures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>

namespace vemox::testing {
namespace {

constexpr int kWatchdogMs = 1000; // the host pings at half of it

class ManagerSocket {
public:
    explicit ManagerSocket(const TempDir& dir) : path_(dir.Path() + "/notify") {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path_.copy(address.sun_path, sizeof address.sun_path - 1);
        ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        // The host started next inherits these, as from the manager.
        ::setenv("NOTIFY_SOCKET", path_.c_str(), 1);
        ::setenv("WATCHDOG_USEC", std::to_string(kWatchdogMs * 1000).c_str(), 1);
    }
    ~ManagerSocket() {
        ::unsetenv("NOTIFY_SOCKET");
        ::unsetenv("WATCHDOG_USEC");
        ::close(fd_);
    }
    ManagerSocket(const ManagerSocket&) = delete;
    ManagerSocket& operator=(const ManagerSocket&) = delete;

    // Receives until a message holds `text` (true) or the time is up; each later wait looks
    // only at what came after.
    bool WaitFor(const std::string& text, int timeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            pollfd wait{fd_, POLLIN, 0};
            if (::poll(&wait, 1, 50) <= 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
            if (got <= 0) {
                continue;
            }
            const std::string message(buffer, static_cast<std::size_t>(got));
            heard_.push_back({std::chrono::steady_clock::now(), message});
            if (message.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
    // The times of the watchdog pings heard so far, in milliseconds after the first.
    std::vector<long> PingTimes() const {
        std::vector<long> times;
        for (const auto& [when, message] : heard_) {
            if (message.find("WATCHDOG=1") != std::string::npos) {
                times.push_back(static_cast<long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(when - FirstPing())
                        .count()));
            }
        }
        return times;
    }
    std::string All() const {
        std::string all;
        for (const auto& heard : heard_) {
            all += heard.second + "|";
        }
        return all;
    }

private:
    std::chrono::steady_clock::time_point FirstPing() const {
        for (const auto& [when, message] : heard_) {
            if (message.find("WATCHDOG=1") != std::string::npos) {
                return when;
            }
        }
        return {};
    }

    std::string path_;
    int fd_ = -1;
    std::vector<std::pair<std::chrono::steady_clock::time_point, std::string>> heard_;
};

TEST(Service, TheManagerHearsReadyTheWatchdogAReloadAndTheStop) {
    TempDir dir;
    const std::string config = dir.Write(
        "s.toml", ConfigText(200, 2, true, kDemoNodes, {{"Belt", "net", "Вес Нетто", ""}}));
    Sim sim({"--demo"});
    ManagerSocket manager(dir);
    Process host(HostArgs(config, sim.Pty(), {"run", "--plain"}));
    ASSERT_TRUE(manager.WaitFor("READY=1", kRunMs)) << host.Errors();
    EXPECT_TRUE(host.WaitForText("Belt.net = ", kRunMs));
    EXPECT_NE(manager.All().find("STATUS=1 line"), std::string::npos) << manager.All();
    // Pings at half the interval, from the poll loop: over 3 s, every one in time.
    manager.WaitFor("never sent", 3000);
    const std::vector<long> pings = manager.PingTimes();
    ASSERT_GE(pings.size(), 4u) << manager.All();
    for (std::size_t i = 1; i < pings.size(); ++i) {
        EXPECT_LT(pings[i] - pings[i - 1], kWatchdogMs) << i;
    }
    host.Signal(SIGHUP);
    EXPECT_TRUE(manager.WaitFor("RELOADING=1", kStartMs)) << manager.All();
    EXPECT_TRUE(manager.WaitFor("READY=1", kStartMs)) << manager.All();
    host.Signal(SIGTERM);
    EXPECT_TRUE(manager.WaitFor("STOPPING=1", kStartMs)) << manager.All();
    EXPECT_EQ(host.Wait(kStartMs).exitCode, 0);
    sim.Stop();
}

// Every finished read the host printed since `from` was good.
void ExpectEveryReadGood(const std::string& out, std::size_t from) {
    std::istringstream lines(out.substr(from));
    for (std::string line; std::getline(lines, line);) {
        if (line.find(" = ") != std::string::npos) {
            EXPECT_NE(line.find("[good] ok;"), std::string::npos) << line;
        }
    }
}

TEST(Service, AReloadRefusesABadFileAndChangesThePolledSetOverTheOpenLine) {
    TempDir dir;
    const Item hopper{"Hopper", "net", "Вес Нетто", ""};
    const Item belt{"Belt", "net", "Вес Нетто", ""};
    const Item tank{"Tank", "net", "Вес Нетто", ""};
    const std::string config = dir.Write(
        "s.toml", ConfigText(200, 2, true, {kDemoNodes[0], kDemoNodes[1]}, {hopper, belt}));
    Sim sim({"--demo"});
    ManagerSocket manager(dir);
    Process host(HostArgs(config, sim.Pty(), {"run", "--plain"}));
    ASSERT_TRUE(host.WaitForText("Hopper.net = ", kRunMs)) << host.Errors();

    dir.Write("s.toml", "[driver]\nCountTry = 0\n[[port]]\nname = \"COM1\"\nparity = \"mark\"\n");
    host.Signal(SIGHUP);
    EXPECT_TRUE(host.WaitForText("s.toml:2: 'CountTry' = 0 is outside", kStartMs, Stream::Err));
    EXPECT_TRUE(host.WaitForText("s.toml:5: parity", kStartMs, Stream::Err)) << host.Errors();
    EXPECT_TRUE(host.WaitForText("running configuration stays", kStartMs, Stream::Err));
    EXPECT_TRUE(manager.WaitFor("READY=1", kStartMs));
    const std::size_t afterBad = host.Output().size();
    EXPECT_TRUE(host.WaitUntil(
        [&](const std::string& out) { return out.find("Hopper.net = ", afterBad) != out.npos; },
        kRunMs));

    dir.Write("s.toml", ConfigText(200, 2, true, {kDemoNodes[1], kDemoNodes[2]}, {belt, tank}));
    host.Signal(SIGHUP);
    EXPECT_TRUE(host.WaitForText("1 line(s) kept open, 0 opened, 0 closed", kStartMs, Stream::Err))
        << host.Errors();
    const std::size_t afterGood = host.Output().size();
    EXPECT_TRUE(host.WaitUntil(
        [&](const std::string& out) { return out.find("Tank.net = ", afterGood) != out.npos; },
        kRunMs));
    host.Signal(SIGTERM);
    const Finished end = host.Wait(kStartMs);
    EXPECT_EQ(end.exitCode, 0) << end.err;
    const std::size_t firstTank = end.out.find("Tank.net = ");
    EXPECT_EQ(end.out.find("Hopper.net = ", firstTank), std::string::npos) << "Hopper removed";
    ExpectEveryReadGood(end.out, 0);
    sim.Stop();
}

} // namespace
} // namespace vemox::testing
