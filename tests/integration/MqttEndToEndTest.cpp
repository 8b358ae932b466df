// vemox-host as an MQTT gateway, end to end: the real host, driver and simulator with the
// real broker (mosquitto) on a loopback port of its own, and the broker's command-line
// clients as the plant's subscribers and writers.
#include "Fixtures.h"
#include "Process.h"

#include "host/config/HostConfig.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>

namespace vemox::testing {
namespace {

// Conditions are normally met within a few seconds; the deadline is for a loaded machine.
constexpr int kWaitMs = 20000;
constexpr char kPrefix[] = "vemox/";

int FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    auto* generic = reinterpret_cast<sockaddr*>(&address);
    const bool bound = ::bind(fd, generic, length) == 0 && ::getsockname(fd, generic, &length) == 0;
    ::close(fd);
    return bound ? ntohs(address.sin_port) : 0;
}

// mosquitto with a configuration file of the test's own, on a loopback port that stays the
// same across restarts.
class Broker {
public:
    explicit Broker(const TempDir& dir) : dir_(dir), port_(FreeLoopbackPort()) {}

    // `settings` follow the listener: security, TLS files. Returns once it listens.
    void Start(const std::string& settings = "allow_anonymous true\n") {
        // Started as root, the broker would switch to its own user and lose the test's files.
        const std::string config =
            dir_.Write("mosquitto.conf", "listener " + std::to_string(port_) +
                                             " 127.0.0.1\nlog_dest stderr\nuser " +
                                             ::getpwuid(::geteuid())->pw_name + "\n" + settings);
        process_ =
            std::make_unique<Process>(std::vector<std::string>{MOSQUITTO_PATH, "-c", config});
        ASSERT_TRUE(process_->WaitForText(" running", kStartMs, Stream::Err)) << process_->Errors();
    }
    void Stop() {
        process_->Signal(SIGTERM);
        process_->Wait(kStartMs);
    }
    std::string Port() const { return std::to_string(port_); }

private:
    const TempDir& dir_;
    int port_;
    std::unique_ptr<Process> process_;
};

// A broker of MQTT 3.1.1 only, as older ones are, on `port`: a CONNECT of MQTT 5 is answered
// "unacceptable protocol version", one of 3.1.1 is taken. Returns what the client sent on the
// connection it took, read until `until` came or the time was up.
std::string OldBroker(int port, const std::string& until) {
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(server, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    ::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(server, 1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    const auto read = [&](int fd, std::string& in, auto done) {
        char buffer[4096];
        pollfd ready{fd, POLLIN, 0};
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            if (::poll(&ready, 1, 100) == 1) {
                const ssize_t got = ::read(fd, buffer, sizeof buffer);
                if (got <= 0) {
                    return;
                }
                in.append(buffer, static_cast<std::size_t>(got));
            }
        }
    };
    // The protocol level follows the protocol name in the CONNECT; -1 until it has come.
    const auto level = [](const std::string& in) {
        const std::size_t at = in.find("MQTT");
        return at != std::string::npos && at + 4 < in.size() ? int{in[at + 4]} : -1;
    };
    std::string taken;
    while (taken.empty() && std::chrono::steady_clock::now() < deadline) {
        pollfd waiting{server, POLLIN, 0};
        if (::poll(&waiting, 1, 100) != 1) {
            continue;
        }
        const int client = ::accept(server, nullptr, nullptr);
        std::string in;
        read(client, in, [&] { return level(in) >= 0; });
        const bool five = level(in) == 5;
        const char connack[] = {0x20, 0x02, 0x00, static_cast<char>(five ? 0x01 : 0x00)};
        EXPECT_EQ(::write(client, connack, sizeof connack), 4);
        if (!five) {
            read(client, in, [&] { return in.find(until) != std::string::npos; });
            taken = in;
        }
        ::close(client);
    }
    ::close(server);
    return taken;
}

struct Message {
    bool retained;
    std::string topic; // below the prefix: "Hopper/net", "$status"
    std::string payload;
};

// A subscriber's lines, "RETAIN TOPIC PAYLOAD", the latest message of each topic.
std::map<std::string, Message> Latest(const std::string& out) {
    std::map<std::string, Message> latest;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto topicAt = line.find(' ') + 1;
        const auto payloadAt = line.find(' ', topicAt);
        std::string topic = line.substr(topicAt, payloadAt - topicAt);
        if (topic.rfind(kPrefix, 0) == 0 && payloadAt != std::string::npos) {
            topic.erase(0, sizeof kPrefix - 1);
            latest[topic] = {line[0] == '1', topic, line.substr(payloadAt + 1)};
        }
    }
    return latest;
}

// What the demo line publishes, by topic: every item it reads (dosing control is only
// written) with a good value, and every controller's health with its link up.
std::map<std::string, std::string> DemoTopics() {
    const host::HostConfig demo = host::LoadHostConfig(VEMOX_DEMO_CONFIG);
    std::map<std::string, std::string> topics;
    for (const host::ItemConfig& item : demo.items) {
        if (!item.WriteOnly()) {
            topics[item.node + "/" + item.name] = R"("quality":192,)";
        }
    }
    for (const host::NodeConfig& node : demo.nodes) {
        topics[node.name + "/$health"] = R"("link":true,)";
    }
    return topics;
}

// All of DemoTopics among `messages`, published as they were read when `live` (not handed
// out by the broker from what it kept).
bool PlantPublished(const std::map<std::string, Message>& messages, bool live = false) {
    for (const auto& [topic, good] : DemoTopics()) {
        const auto found = messages.find(topic);
        if (found == messages.end() || (live && found->second.retained) ||
            found->second.payload.find(good) == std::string::npos) {
            return false;
        }
    }
    return true;
}

// The demo line on a simulator that logs every exchange, and a broker for the host.
class MqttGateway : public ::testing::Test {
protected:
    // The demo configuration with an [mqtt] section: the broker's url, then `settings`.
    std::string Config(const std::string& settings, const std::string& scheme = "mqtt",
                       const std::string& name = "gateway.toml") {
        std::ifstream demo(VEMOX_DEMO_CONFIG);
        std::stringstream text;
        text << demo.rdbuf() << "\n[mqtt]\nurl = \"" << scheme << "://127.0.0.1:" << broker_.Port()
             << "\"\n"
             << settings;
        return dir_.Write(name, text.str());
    }
    std::vector<std::string> HostArgs(const std::string& config) {
        return {VEMOX_HOST_PATH,      "--config", config,   "--device",
                "COM1=" + sim_.Pty(), "run",      "--plain"};
    }
    std::unique_ptr<Process> Host(const std::string& config) {
        return std::make_unique<Process>(HostArgs(config));
    }
    std::vector<std::string> ClientArgs(const char* program, std::vector<std::string> extra) {
        std::vector<std::string> argv = {program,        "-h", "127.0.0.1", "-p",
                                         broker_.Port(), "-q", "1"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return argv;
    }
    // Prints "RETAIN TOPIC PAYLOAD" per message under the prefix; reconnects by itself.
    std::unique_ptr<Process> Subscriber(std::vector<std::string> extra = {}) {
        extra.insert(extra.end(), {"-t", "vemox/#", "-F", "%r %t %p"});
        return std::make_unique<Process>(ClientArgs(MOSQUITTO_SUB_PATH, extra));
    }
    // What the broker holds for a subscriber that comes now: `count` retained messages.
    std::map<std::string, Message> Retained(std::size_t count,
                                            std::vector<std::string> extra = {}) {
        extra.insert(extra.end(), {"-t", "vemox/#", "-F", "%r %t %p", "--retained-only", "-C",
                                   std::to_string(count)});
        return Latest(RunToEnd(ClientArgs(MOSQUITTO_SUB_PATH, extra), kWaitMs).out);
    }
    void Set(const std::string& item, const std::string& payload, bool retain = false) {
        std::vector<std::string> args = {"-t", kPrefix + item + "/set", "-m", payload};
        if (retain) {
            args.push_back("-r");
        }
        RunToEnd(ClientArgs(MOSQUITTO_PUB_PATH, args), kWaitMs);
    }
    // The outcome published for the next write to `item`, as published.
    std::string Result(Process& subscriber, const std::string& item) {
        const std::string topic = item + "/set/result";
        EXPECT_TRUE(subscriber.WaitForText(kPrefix + topic + " ", kWaitMs)) << subscriber.Output();
        return Latest(subscriber.Output())[topic].payload;
    }
    // The simulator's log of every exchange.
    std::string LineLog() { return sim_.Stop().err; }
    void StopHost(Process& host) {
        host.Signal(SIGINT);
        EXPECT_EQ(host.Wait(kStartMs).exitCode, 0) << host.Errors();
    }

    TempDir dir_;
    Broker broker_{dir_};
    Sim sim_{{"--demo", "-v"}};
};

TEST_F(MqttGateway, WithTheDefaultsEveryItemIsRetainedAndNothingCanBeWritten) {
    broker_.Start();
    auto live = Subscriber();
    auto host = Host(Config(""));
    ASSERT_TRUE(live->WaitUntil([](const std::string& out) { return PlantPublished(Latest(out)); },
                                kWaitMs))
        << live->Output() << host->Errors();
    // A subscriber that comes later is handed the latest of everything at once.
    const auto retained = Retained(DemoTopics().size() + 1);
    EXPECT_TRUE(PlantPublished(retained));
    EXPECT_EQ(retained.at("$status").payload, "online");

    Set("Hopper/output0", "false");
    const std::string result = Result(*live, "Hopper/output0");
    EXPECT_NE(result.find(R"("ok":false)"), std::string::npos) << result;
    EXPECT_NE(result.find("not listed in [mqtt] writable"), std::string::npos) << result;
    EXPECT_TRUE(
        host->WaitForText("mqtt: Hopper.output0 <- false: not listed", kWaitMs, Stream::Err));
    StopHost(*host);
    EXPECT_EQ(LineLog().find("Rx 01 D0"), std::string::npos) << "nothing was written";
}

TEST_F(MqttGateway, AWriteReachesTheControllerAndItsOutcomeIsPublished) {
    broker_.Start();
    auto live = Subscriber();
    auto host = Host(Config("writable = [\"Hopper.output8\", \"Hopper.point0_high\"]\n"));
    // Online is published after the host subscribed to writes.
    ASSERT_TRUE(live->WaitForText("vemox/$status online", kWaitMs)) << host->Errors();
    Set("Hopper/output8", "false");
    Set("Hopper/point0_high", R"({"value": 2500.5})");
    const auto output = nlohmann::json::parse(Result(*live, "Hopper/output8"));
    EXPECT_EQ(output.at("ok"), true) << output;
    EXPECT_EQ(output.at("quality"), 192);
    const auto level = nlohmann::json::parse(Result(*live, "Hopper/point0_high"));
    EXPECT_EQ(level.at("ok"), true) << level;
    EXPECT_EQ(level.at("value"), 2500.5);
    // The next reads show the controller's new state.
    EXPECT_TRUE(live->WaitUntil(
        [](const std::string& out) {
            const auto latest = Latest(out);
            return latest.count("Hopper/output8") &&
                   latest.at("Hopper/output8").payload.find(R"("value":0})") != std::string::npos;
        },
        kWaitMs))
        << live->Output();
    StopHost(*host);
    const std::string log = LineLog();
    EXPECT_NE(log.find("Rx 01 D0"), std::string::npos) << "the outputs written";
    EXPECT_NE(log.find("Rx 01 D1"), std::string::npos) << "the weight point written";
}

struct RefusedWrite {
    std::string item;
    std::string payload;
    std::string reason;
};

TEST_F(MqttGateway, RefusedWritesAreAnsweredAndNeverReachTheLine) {
    broker_.Start();
    // Kept by the broker, it would be written again at every connection.
    Set("Hopper/dosing", "3", true);
    auto live = Subscriber();
    auto host = Host(Config("writable = [\"Hopper.dosing\"]\n"));
    EXPECT_NE(Result(*live, "Hopper/dosing").find("a retained message is not a write"),
              std::string::npos);
    const RefusedWrite cases[] = {
        {"Hopper/output0", "true", "Hopper.output0 <- true: not listed in [mqtt] writable"},
        {"Hopper/dosing", "banana", "Hopper.dosing <- banana: malformed payload"},
        {"Hopper/dosing", R"({"value": "3"})", "malformed payload"},
        {"Hopper/dosing", "256", "Hopper.dosing <- 256: outside 0 .. 255"},
        {"Hopper/ghost", "1", "Hopper.ghost <- 1: no such item"}};
    for (const RefusedWrite& c : cases) {
        Set(c.item, c.payload);
        const std::string result = Result(*live, c.item);
        EXPECT_NE(result.find(R"("result":"refused")"), std::string::npos)
            << c.payload << ": " << result;
        EXPECT_NE(result.find(c.reason), std::string::npos) << result;
        EXPECT_TRUE(host->WaitUntil(
            [&](const std::string& err) { return err.find(c.reason) != std::string::npos; },
            kWaitMs, Stream::Err))
            << host->Errors();
    }
    // Published to be kept while the host listens: refused the moment it comes all the same.
    Set("Hopper/dosing", "4", true);
    EXPECT_NE(Result(*live, "Hopper/dosing").find("a retained message is not a write"),
              std::string::npos);
    StopHost(*host);
    const std::string log = LineLog();
    for (const char* write : {"Rx 01 D0", "Rx 01 D1", "Rx 01 DF"}) {
        EXPECT_EQ(log.find(write), std::string::npos) << write;
    }
}

struct GateRow {
    std::string item; // of Hopper
    std::string value;
    std::string sent;    // the request the simulator gets; "" for none
    std::string refusal; // "" when the write is done
};

TEST_F(MqttGateway, EveryWritePassesOneGateFromTheCommandLineAndOverMqtt) {
    const std::string config =
        Config("writable = [\"Hopper.output8\", \"Hopper.point0_high\", \"Hopper.dosing\", "
               "\"Hopper.reset\"]\n[[item]]\nnode = \"Hopper\"\nname = \"reset\"\n"
               "operation = \"Диагностика связи\"\ncounter = \"reset\"\n");
    const std::string onOff = "takes only 0, 1, true, false, on or off";
    const std::string endless = "not a finite number";
    const GateRow rows[] = {
        {"output8", "off", "Rx 01 D0 01 00 ", ""},
        {"output8", "TRUE", "Rx 01 D0 01 01 ", ""},
        {"output8", "0.4", "", onOff},
        {"output8", "-1", "", onOff},
        {"output8", "NaN", "", endless},
        {"output8", "1e999", "", endless},
        {"point0_high", "inf", "", endless},
        {"point0_high", "10000", "", "outside 0 .. 9999.99 (2 decimal places)"},
        {"point0_high", "2500.5", "Rx 01 D1 00 ", ""},
        {"dosing", "3", "Rx 01 DF 03 ", ""},
        {"dosing", "on", "Rx 01 DF FF ", ""},
        {"dosing", "-1", "", "outside 0 .. 255 (or true, false)"},
        {"reset", "true", "", ""}, // the driver clears its own figures: nothing on the line
        {"reset", "0.4", "", onOff}};
    broker_.Start();
    // One host at a time on the line: the command line's writes first, then the gateway's.
    for (const bool mqtt : {false, true}) {
        std::unique_ptr<Process> live, host;
        if (mqtt) {
            live = Subscriber();
            host = Host(config);
            ASSERT_TRUE(live->WaitForText("vemox/$status online", kWaitMs)) << host->Errors();
        }
        for (const GateRow& row : rows) {
            const std::size_t from = sim_.Log().Errors().size();
            std::string answer;
            if (mqtt) {
                Set("Hopper/" + row.item, row.value);
                answer = Result(*live, "Hopper/" + row.item);
            } else {
                const Finished write =
                    RunToEnd(::vemox::testing::HostArgs(config, sim_.Pty(),
                                                        {"write", "Hopper." + row.item, row.value}),
                             kWaitMs);
                EXPECT_EQ(write.exitCode, row.refusal.empty() ? 0 : 2) << write.err;
                answer = write.out + write.err;
            }
            const std::string expected = !row.refusal.empty()
                                             ? ": " + row.refusal + "; nothing written"
                                         : mqtt ? R"("result":"ok")"
                                                : ": ok";
            EXPECT_NE(answer.find(expected), std::string::npos) << row.value << ": " << answer;
            const std::string wanted = row.sent.empty() ? "Rx 01 D" : row.sent;
            sim_.Log().WaitUntil(
                [&](const std::string& log) { return log.find(wanted, from) != std::string::npos; },
                row.sent.empty() ? 300 : kWaitMs, Stream::Err);
            EXPECT_EQ(sim_.Log().Errors().find(wanted, from) != std::string::npos,
                      !row.sent.empty())
                << (mqtt ? "mqtt " : "write ") << row.item << " <- " << row.value;
        }
        if (mqtt) {
            StopHost(*host);
        }
    }
}

TEST_F(MqttGateway, TheHostWaitsForTheBrokerAndComesBackToIt) {
    auto host = Host(Config(""));
    EXPECT_TRUE(host->WaitForText("mqtt: mqtt://127.0.0.1:" + broker_.Port() +
                                      ": Connection refused; trying again",
                                  kWaitMs, Stream::Err))
        << host->Errors();
    EXPECT_TRUE(host->WaitForText("[good]", kWaitMs)) << "polling goes on";
    // The watcher's session outlives the broker's restart, so that the last will it is owed
    // reaches it even when the broker has no time to hand it out as it goes.
    broker_.Start("allow_anonymous true\npersistence true\npersistence_location " + dir_.Path() +
                  "/\n");
    auto live = Subscriber({"-c", "-i", "vemox-test-watch"});
    EXPECT_TRUE(host->WaitForText("mqtt: connected to", kWaitMs, Stream::Err)) << host->Errors();
    // Everything is published once; from now on only the weights change.
    EXPECT_TRUE(live->WaitUntil([](const std::string& out) { return PlantPublished(Latest(out)); },
                                kWaitMs))
        << live->Output();

    broker_.Stop();
    EXPECT_TRUE(host->WaitForText("; trying again", kWaitMs, Stream::Err)) << host->Errors();
    EXPECT_TRUE(host->WaitForText("[good]", kWaitMs)) << "polling goes on";
    broker_.Start("allow_anonymous true\npersistence true\npersistence_location " + dir_.Path() +
                  "/\n");
    EXPECT_TRUE(host->WaitForText("mqtt: connected to", kWaitMs, Stream::Err)) << host->Errors();
    // Offline, then online as published again; right behind it the latest of everything,
    // also what has not changed.
    EXPECT_TRUE(live->WaitUntil(
        [](const std::string& out) {
            const auto offline = out.find("vemox/$status offline");
            const auto online = out.find("0 vemox/$status online", offline);
            return offline != std::string::npos && online != std::string::npos &&
                   PlantPublished(Latest(out.substr(online)), true);
        },
        kWaitMs))
        << live->Output();
    StopHost(*host);
}

TEST_F(MqttGateway, SpeaksMqtt311ToABrokerThatHasNoMqtt5) {
    auto host = Host(Config(""));
    const std::string sent = OldBroker(std::stoi(broker_.Port()), "vemox/Hopper/net");
    EXPECT_NE(sent.find("vemox/Hopper/net"), std::string::npos) << host->Errors();
    EXPECT_TRUE(host->WaitForText("the broker has no MQTT 5", kWaitMs, Stream::Err));
    EXPECT_TRUE(host->WaitForText("mqtt: connected to", kWaitMs, Stream::Err)) << host->Errors();
    StopHost(*host);
}

TEST_F(MqttGateway, PublishesOverTlsToABrokerOfAThrowawayAuthority) {
    const std::string dir = dir_.Path() + "/";
    const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ";
    dir_.Write("san.cnf", "subjectAltName = IP:127.0.0.1\n");
    for (const std::string& command :
         {"req -x509 -days 1 -subj /CN=vemox-test-ca " + key + dir + "ca.key -out " + dir +
              "ca.crt",
          "req -subj /CN=127.0.0.1 " + key + dir + "broker.key -out " + dir + "broker.csr",
          "x509 -req -days 1 -in " + dir + "broker.csr -CA " + dir + "ca.crt -CAkey " + dir +
              "ca.key -CAcreateserial -extfile " + dir + "san.cnf -out " + dir + "broker.crt"}) {
        std::vector<std::string> argv = {OPENSSL_PATH};
        std::istringstream words(command);
        for (std::string word; words >> word;) {
            argv.push_back(word);
        }
        const Finished made = RunToEnd(argv, kWaitMs);
        ASSERT_EQ(made.exitCode, 0) << command << "\n" << made.err;
    }
    const std::string tls = "allow_anonymous true\ncafile " + dir + "ca.crt\ncertfile " + dir +
                            "broker.crt\nkeyfile " + dir + "broker.key\n";
    broker_.Start(tls);
    auto live = Subscriber({"--cafile", dir + "ca.crt"});
    auto host = Host(Config("ca_file = \"" + dir + "ca.crt\"\n", "mqtts"));
    EXPECT_TRUE(live->WaitUntil([](const std::string& out) { return PlantPublished(Latest(out)); },
                                kWaitMs))
        << live->Output() << host->Errors();
    EXPECT_TRUE(host->WaitForText("mqtt: connected to", kWaitMs, Stream::Err));

    // Gone and back: noticed at once, and connected again within two seconds of the restart,
    // with the same authority.
    broker_.Stop();
    EXPECT_TRUE(host->WaitForText("; trying again", kWaitMs, Stream::Err)) << host->Errors();
    broker_.Start(tls);
    const auto restarted = std::chrono::steady_clock::now();
    EXPECT_TRUE(host->WaitForText("mqtt: connected to", kWaitMs, Stream::Err)) << host->Errors();
    EXPECT_LT(std::chrono::steady_clock::now() - restarted, std::chrono::seconds(2))
        << host->Errors();
    auto again = Subscriber({"--cafile", dir + "ca.crt"});
    EXPECT_TRUE(again->WaitUntil([](const std::string& out) { return PlantPublished(Latest(out)); },
                                 kWaitMs))
        << again->Output() << host->Errors();
    StopHost(*host);
}

TEST_F(MqttGateway, RefusedCredentialsStopTheHostAtStartAndAreWaitedOutLater) {
    const auto users = [&](const std::string& password) {
        const std::string file = dir_.Path() + "/users";
        std::remove(file.c_str());
        ASSERT_EQ(RunToEnd({MOSQUITTO_PASSWD_PATH, "-b", "-c", file, "gateway", password}, kWaitMs)
                      .exitCode,
                  0);
        broker_.Start("allow_anonymous false\npassword_file " + file + "\n");
    };
    users("right");
    const std::string identity = "username = \"gateway\"\npassword_file = \"";
    const std::string wrong =
        Config(identity + dir_.Write("wrong", "wrong\n") + "\"\n", "mqtt", "wrong.toml");
    const Finished refused = RunToEnd(HostArgs(wrong), kWaitMs);
    EXPECT_EQ(refused.exitCode, 2) << refused.err;
    EXPECT_NE(refused.err.find("Not authorized (check username and password_file)"),
              std::string::npos)
        << refused.err;

    auto host = Host(Config(identity + dir_.Write("right", "right\n") + "\"\n"));
    ASSERT_TRUE(host->WaitForText("mqtt: connected to", kWaitMs, Stream::Err)) << host->Errors();
    // The broker's users change under a running host: it says so, polls on and tries again.
    broker_.Stop();
    users("changed");
    EXPECT_TRUE(host->WaitForText("refused the connection: Not authorized; trying again", kWaitMs,
                                  Stream::Err))
        << host->Errors();
    EXPECT_TRUE(host->WaitForText("[good]", kWaitMs)) << "polling goes on";
    broker_.Stop();
    users("right");
    EXPECT_TRUE(host->WaitForText("mqtt: connected to", kWaitMs, Stream::Err)) << host->Errors();
    StopHost(*host);
}

} // namespace
} // namespace vemox::testing
