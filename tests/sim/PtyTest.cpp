// The simulator on a real pseudo-terminal: the in-process server and the vemox-sim program.
// Every wait is a poll() with a time limit, so a broken server fails the test instead of
// hanging it.
#include "SimTestSupport.h"

#include "sim/Endpoint.h"
#include "sim/Faults.h"
#include "sim/Server.h"

#include <cerrno>
#include <csignal>
#include <exception>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vemox::sim {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::LineOf;

const Bytes kNetRequest{0xFF, 0x05, 0xC2, 0x86, 0xFF, 0xFF};
const Bytes kNetReply{0xFF, 0x05, 0xC2, 0x45, 0x23, 0x01, 0x00, 0x4A, 0xFF, 0xFF};

Fd OpenClient(const std::string& path) {
    Fd fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    if (fd) {
        termios tio{};
        tcgetattr(fd.get(), &tio);
        cfmakeraw(&tio);
        tcsetattr(fd.get(), TCSANOW, &tio);
    }
    return fd;
}

void WriteAll(int fd, const Bytes& bytes) {
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// Reads until a frame's end marker has arrived after a start marker, or the time is up.
Bytes ReadReply(int fd, std::chrono::milliseconds limit) {
    Bytes got;
    const auto until = std::chrono::steady_clock::now() + limit;
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            return got;
        }
        std::uint8_t buffer[64];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            got.insert(got.end(), buffer, buffer + n);
        }
        FrameParser parser;
        if (!parser.Feed(got.data(), got.size()).empty()) {
            return got;
        }
    }
}

// A server on its own thread for the length of a test; stopped through its wake pipe.
class ServerThread {
public:
    ServerThread(const SimConfig& config, int line) : sim_(config), wake_(OpenWakePipe()) {
        thread_ = std::thread([this, line] {
            try {
                Server(sim_, line, wake_.read.get()).Run();
            } catch (...) {
                failure_ = std::current_exception();
            }
        });
    }

    ~ServerThread() {
        const char byte = 1;
        EXPECT_EQ(write(wake_.write.get(), &byte, 1), 1);
        thread_.join();
        EXPECT_FALSE(failure_) << "the server failed";
    }

private:
    Simulator sim_;
    WakePipe wake_;
    std::thread thread_;
    std::exception_ptr failure_;
};

class SimPty : public ::testing::Test {
protected:
    void Start(const SimConfig& config) {
        pty_ = OpenPty();
        server_ = std::make_unique<ServerThread>(config, pty_.master.get());
        client_ = OpenClient(pty_.path);
        ASSERT_TRUE(client_) << pty_.path;
    }

    Pty pty_;
    std::unique_ptr<ServerThread> server_;
    Fd client_;
};

TEST_F(SimPty, AnswersARequestOverThePty) {
    Start(LineOf(true));
    WriteAll(client_.get(), kNetRequest);
    EXPECT_EQ(ReadReply(client_.get(), 2000ms), kNetReply);

    // A request written in pieces and preceded by noise is still one request.
    WriteAll(client_.get(), {0x13, 0x00, 0xFF, 0x27});
    WriteAll(client_.get(), {0xC4, 0xFF, 0xFE, 0xFF, 0xFF});
    EXPECT_THAT(ReadReply(client_.get(), 2000ms),
                ElementsAre(0xFF, 0x27, 0xC4, 0xFF, 0xFE, 0x00, 0x00, 0xFF, 0xFF));
}

TEST_F(SimPty, SilenceForNobodyAndLineRateForEverybody) {
    SimConfig config = LineOf(true);
    config.timing = {1200, 20ms}; // ten bytes take about 83 ms at 1200 baud
    Start(config);
    WriteAll(client_.get(), {0xFF, 0x06, 0xC2, 0xEF, 0xFF, 0xFF});
    EXPECT_THAT(ReadReply(client_.get(), 150ms), ElementsAre());

    const auto sent = std::chrono::steady_clock::now();
    WriteAll(client_.get(), kNetRequest);
    EXPECT_EQ(ReadReply(client_.get(), 3000ms), kNetReply);
    // Turnaround plus nine character times at least; a lower bound, so load cannot break it.
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 20ms + 75ms);
}

TEST(SimSerialDevice, ServesATerminalDeviceInRawMode) {
    // The far end of a pty stands in for the wire; the simulator opens the near end as its
    // serial device.
    const Pty wire = OpenPty();
    termios tio{};
    ASSERT_EQ(tcgetattr(wire.slave.get(), &tio), 0);
    tio.c_lflag |= ECHO | ICANON;
    cfsetspeed(&tio, B1200);
    ASSERT_EQ(tcsetattr(wire.slave.get(), TCSANOW, &tio), 0); // as a cooked terminal starts out

    const Fd device = OpenSerialDevice(wire.path, 9600);
    ASSERT_EQ(tcgetattr(device.get(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B9600);
    EXPECT_EQ(tio.c_lflag & (ECHO | ICANON), 0u);
    {
        const ServerThread server(LineOf(true), device.get());
        WriteAll(wire.master.get(), kNetRequest);
        EXPECT_EQ(ReadReply(wire.master.get(), 2000ms), kNetReply);
    }
    EXPECT_THROW(OpenSerialDevice(wire.path, 12345), std::invalid_argument);
    EXPECT_THROW(OpenSerialDevice("/nonexistent/ttyS99", 9600), std::system_error);
}

// vemox-sim started by the test, with its stdout and stderr on one pipe.
struct Child {
    pid_t pid = -1;
    Fd output;
    std::string text;
    bool ended = false;

    // Reads output until `needle` shows up (true), or until the program closes its output
    // or the time is up (false, with `ended` telling which).
    bool WaitFor(const std::string& needle, std::chrono::milliseconds limit) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (needle.empty() || text.find(needle) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            pollfd p{output.get(), POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                return false;
            }
            char buffer[256];
            const ssize_t n = read(output.get(), buffer, sizeof buffer);
            if (n <= 0) {
                ended = true;
                return false;
            }
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    }

    // Exit status once the program has ended, or -1 when it did not end in time.
    int Wait(std::chrono::milliseconds limit) {
        WaitFor("", limit);
        int status = 0;
        if (!ended) {
            kill(pid, SIGKILL);
        }
        waitpid(pid, &status, 0);
        const bool inTime = ended;
        pid = -1;
        if (!inTime) {
            return -1;
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    ~Child() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
};

std::unique_ptr<Child> Spawn(std::vector<std::string> args) {
    args.insert(args.begin(), VEMOX_SIM_EXE);
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return nullptr;
    }
    auto child = std::make_unique<Child>();
    child->output = Fd(fds[0]);
    Fd writeEnd(fds[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDERR_FILENO);
    const int rc = posix_spawn(&child->pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        child->pid = -1;
        return nullptr;
    }
    return child;
}

TEST(SimProgram, ServesTheDemoLineThroughALinkAndStopsOnSigterm) {
    const std::string link = ::testing::TempDir() + "vemox-sim-link-" + std::to_string(getpid());
    auto child = Spawn({"--demo", "--baud", "0", "--link", link, "--verbose"});
    ASSERT_TRUE(child);
    ASSERT_TRUE(child->WaitFor("link: " + link + "\n", 5000ms)) << child->text;
    EXPECT_THAT(child->text, HasSubstr("pty: /dev/pts/"));

    const Fd client = OpenClient(link);
    ASSERT_TRUE(client);
    // Net weight of address 1, then gross weight of serial number 123456 (01 E2 40).
    WriteAll(client.get(), {0xFF, 0x01, 0xC2, 0x8A, 0xFF, 0xFF});
    auto reply = ReadReply(client.get(), 2000ms);
    FrameParser parser;
    auto bodies = parser.Feed(reply.data(), reply.size());
    ASSERT_EQ(bodies.size(), 1u) << child->text;
    EXPECT_EQ(bodies[0].size(), 7u);
    EXPECT_THAT(Bytes(bodies[0].begin(), bodies[0].begin() + 2), ElementsAre(0x01, 0xC2));

    WriteAll(client.get(), {0xFF, 0x00, 0x01, 0xE2, 0x40, 0xC3, 0x4E, 0xFF, 0xFF});
    reply = ReadReply(client.get(), 2000ms);
    bodies = parser.Feed(reply.data(), reply.size());
    ASSERT_EQ(bodies.size(), 1u);
    EXPECT_EQ(bodies[0].size(), 10u);
    EXPECT_THAT(Bytes(bodies[0].begin(), bodies[0].begin() + 5),
                ElementsAre(0x00, 0x01, 0xE2, 0x40, 0xC3));
    EXPECT_TRUE(child->WaitFor("#2 address 3 serial 123456", 2000ms)) << child->text;

    ASSERT_EQ(kill(child->pid, SIGTERM), 0);
    EXPECT_EQ(child->Wait(5000ms), 0) << child->text;
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link outlived the simulator";
}

TEST(SimProgram, ControllersChecksumAndFaultsFromTheCommandLine) {
    auto child = Spawn({"--controller", "addr=5,net=12345", "--no-crc", "--baud", "0",
                        "--fault-script", "1:no-reply,3:bad-crc"});
    ASSERT_TRUE(child);
    ASSERT_TRUE(child->WaitFor("\n", 5000ms)) << child->text;
    const std::string path = child->text.substr(child->text.find(' ') + 1,
                                                child->text.find('\n') - child->text.find(' ') - 1);
    const Fd client = OpenClient(path);
    ASSERT_TRUE(client) << child->text;

    const Bytes request{0xFF, 0x05, 0xC2, 0xFF, 0xFF};
    WriteAll(client.get(), request);
    EXPECT_THAT(ReadReply(client.get(), 300ms), ElementsAre()); // exchange 1 dropped
    WriteAll(client.get(), request);
    EXPECT_THAT(ReadReply(client.get(), 2000ms),
                ElementsAre(0xFF, 0x05, 0xC2, 0x45, 0x23, 0x01, 0x00, 0xFF, 0xFF));
    WriteAll(client.get(), request);
    EXPECT_THAT(ReadReply(client.get(), 2000ms), // the last byte, there being no checksum
                ElementsAre(0xFF, 0x05, 0xC2, 0x45, 0x23, 0x01, 0x01, 0xFF, 0xFF));

    ASSERT_EQ(kill(child->pid, SIGINT), 0);
    EXPECT_EQ(child->Wait(5000ms), 0) << child->text;
}

TEST(SimProgram, RefusesALineItCannotPlay) {
    struct Case {
        std::vector<std::string> args;
        const char* complaint;
    };
    for (const auto& c : {Case{{}, "no controller"},
                          Case{{"--controller", "addr=5", "--controller", "addr=5,serial=1"},
                               "two controllers have the address 5"},
                          Case{{"--controller", "addr=200"}, "outside 1..159"},
                          Case{{"--demo", "--fault-rate", "no-reply=0.7,late=0.7"}, "more than 1"},
                          Case{{"--demo", "--fault-script", "1:gremlins"}, "unknown fault"},
                          Case{{"--config", "/nonexistent/line.toml"},
                               "/nonexistent/line.toml: cannot be read: No such file"},
                          Case{{"--demo", "--colour"}, "--colour"}}) {
        auto child = Spawn(c.args);
        ASSERT_TRUE(child);
        EXPECT_EQ(child->Wait(5000ms), 2) << child->text;
        EXPECT_THAT(child->text, HasSubstr(c.complaint));
    }
    // Help names every fault the simulator can play.
    auto help = Spawn({"--help"});
    ASSERT_TRUE(help);
    EXPECT_EQ(help->Wait(5000ms), 0);
    const std::size_t at = help->text.find("the faults: ");
    ASSERT_NE(at, std::string::npos) << help->text;
    const std::string faults = help->text.substr(at, help->text.find('\n', at) - at);
    for (const auto kind : kAllFaults) {
        EXPECT_THAT(faults, HasSubstr(std::string(FaultName(kind))));
    }
}

} // namespace
} // namespace vemox::sim
