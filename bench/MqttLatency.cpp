// How long a value takes from the line to a subscriber: the time from the moment the host
// reads the last bytes of a reply off the serial line to the moment a subscriber on the
// broker has the message with that read. The host here is vemox-host's own run loop and
// gateway (DriverSession, MqttGateway) with the real driver library, on a simulator's
// pseudo-terminal; the subscriber is a second client of the same broker in this process, so
// both moments come from one clock.
//
// One net weight at scan rate 0 and a heartbeat of 0, so every read is published. A message
// is matched to its reply by its UTC time stamp: the driver stamps the read a few
// microseconds after the reply came in, and replies are milliseconds apart.
//
// Usage: vemox_bench_mqtt_latency PTY BROKER_PORT [READS] [QOS]
#include "host/config/HostConfig.h"
#include "host/gateway/mqtt/MqttGateway.h"
#include "host/line/HostClock.h"
#include "host/session/ControllerLinks.h"
#include "host/session/DriverSession.h"

#include <mosquitto.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

namespace vemox::bench {
namespace {

using Steady = std::chrono::steady_clock;

constexpr int kWarmUpReads = 20;
constexpr std::int64_t kGiveUpMs = 300000;

std::int64_t WallMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// "2024-05-14T09:30:12.345Z" in milliseconds since 1970.
std::int64_t StampMs(const std::string& text) {
    std::tm t{};
    int ms = 0;
    std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d.%dZ", &t.tm_year, &t.tm_mon, &t.tm_mday,
                &t.tm_hour, &t.tm_min, &t.tm_sec, &ms);
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return static_cast<std::int64_t>(timegm(&t)) * 1000 + ms;
}

struct Moment {
    std::int64_t wallMs;
    Steady::time_point at;
};

// The serial line as the host reads it, noting when the end marker of a reply came in.
class TimedLine final : public host::SerialLine {
public:
    explicit TimedLine(std::unique_ptr<host::SerialLine> line) : line_(std::move(line)) {}
    bool Write(const std::uint8_t* data, std::size_t size) override {
        return line_->Write(data, size);
    }
    std::size_t Read(std::uint8_t* buffer, std::size_t capacity) override {
        const std::size_t got = line_->Read(buffer, capacity);
        for (std::size_t i = 0; i < got; ++i) {
            if (last_ == 0xFF && buffer[i] == 0xFF) {
                replies.push_back({WallMs(), Steady::now()});
            }
            last_ = buffer[i];
        }
        return got;
    }
    void DropInput() override { line_->DropInput(); }
    std::string Failure() const override { return line_->Failure(); }
    SerialLine* Waitable() override { return line_->Waitable(); }

    std::vector<Moment> replies;

private:
    std::unique_ptr<host::SerialLine> line_;
    std::uint8_t last_ = 0;
};

// A second client of the broker, noting when each item message arrives.
struct Subscriber {
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
        const auto at = Steady::now();
        auto& subscriber = *static_cast<Subscriber*>(self);
        const std::string payload(static_cast<const char*>(message->payload),
                                  static_cast<std::size_t>(message->payloadlen));
        const auto json = nlohmann::json::parse(payload, nullptr, false);
        if (message->retain || !json.is_object() || !json.contains("timestamp")) {
            return;
        }
        const std::lock_guard<std::mutex> lock(subscriber.mutex);
        subscriber.messages.push_back({StampMs(json["timestamp"].get<std::string>()), at});
    }
    std::size_t Count() {
        const std::lock_guard<std::mutex> lock(mutex);
        return messages.size();
    }
    std::mutex mutex;
    std::vector<Moment> messages;
};

int Run(const std::string& pty, int port, std::size_t reads, int qos) {
    Subscriber subscriber;
    mosquitto_lib_init();
    mosquitto* client = mosquitto_new(nullptr, true, &subscriber);
    mosquitto_message_callback_set(client, &Subscriber::OnMessage);
    mosquitto_int_option(client, MOSQ_OPT_TCP_NODELAY, 1);
    if (mosquitto_connect(client, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS ||
        mosquitto_subscribe(client, nullptr, "bench/A/net", qos) != MOSQ_ERR_SUCCESS ||
        mosquitto_loop_start(client) != MOSQ_ERR_SUCCESS) {
        std::cerr << "cannot subscribe at 127.0.0.1:" << port << "\n";
        return 1;
    }

    const std::string url = "mqtt://127.0.0.1:" + std::to_string(port);
    host::HostConfig config = host::ParseHostConfig(R"([driver]
WaitTimeout = 1000
[[port]]
name = "COM1"
device = ")" + pty + R"("
[[node]]
name = "A"
port = "COM1"
address = 1
scan_rate = 0
[[item]]
node = "A"
name = "net"
operation = "Вес Нетто"
[mqtt]
url = ")" + url + R"("
topic_prefix = "bench"
heartbeat_s = 0
qos = )" + std::to_string(qos) + "\n",
                                                    "bench.toml");
    host::SteadyClock clock;
    TimedLine* line = nullptr;
    host::DriverSession session(
        config, VEMOX_DRIVER_PATH, clock, {}, [&line](const host::PortConfig& serial) {
            auto timed = std::make_unique<TimedLine>(host::OpenConfiguredLine(serial));
            line = timed.get();
            return timed;
        });
    const host::RunHooks waits{};
    host::ControllerLinks links(session);
    host::MqttGateway gateway(*session.Config().mqtt, session, links, clock, waits,
                              [](const std::string& notice) { std::cerr << notice << "\n"; });
    const std::size_t wanted = reads + kWarmUpReads;
    session.RunUntil([&] { return subscriber.Count() >= wanted; }, clock.NowMs() + kGiveUpMs, true,
                     {{}, {}, [&] { gateway.AfterCycle(); }});

    std::vector<double> latencies;
    {
        const std::lock_guard<std::mutex> lock(subscriber.mutex);
        for (std::size_t i = kWarmUpReads; i < subscriber.messages.size(); ++i) {
            const Moment& message = subscriber.messages[i];
            // The last reply in before the driver stamped the read.
            const auto reply =
                std::find_if(line->replies.rbegin(), line->replies.rend(),
                             [&](const Moment& r) { return r.wallMs <= message.wallMs; });
            if (reply != line->replies.rend()) {
                latencies.push_back(
                    std::chrono::duration<double, std::milli>(message.at - reply->at).count());
            }
        }
    }
    mosquitto_disconnect(client);
    mosquitto_loop_stop(client, false);
    mosquitto_destroy(client);
    mosquitto_lib_cleanup();
    if (latencies.empty()) {
        std::cerr << "no message matched a reply\n";
        return 1;
    }
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](double share) {
        return latencies[static_cast<std::size_t>(share *
                                                  static_cast<double>(latencies.size() - 1))];
    };
    std::printf("reply to subscriber, QoS %d, %zu reads: median %.3f ms, 90%% %.3f ms, "
                "99%% %.3f ms, max %.3f ms\n",
                qos, latencies.size(), at(0.5), at(0.9), at(0.99), latencies.back());
    return 0;
}

} // namespace
} // namespace vemox::bench

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: vemox_bench_mqtt_latency PTY BROKER_PORT [READS] [QOS]\n";
        return 2;
    }
    const std::size_t reads = argc > 3 ? std::stoul(argv[3]) : 1000;
    const int qos = argc > 4 ? std::stoi(argv[4]) : 1;
    return vemox::bench::Run(argv[1], std::stoi(argv[2]), reads, qos);
}
