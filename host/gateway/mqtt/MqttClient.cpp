// The client over libmosquitto. The library's own reconnecting loop gives up for good after a
// failed TLS handshake, so the network thread here runs the library's single turns itself and
// decides when to try again. Every try starts from a handle set up afresh: a handle that has
// failed a TLS handshake does not keep its certificate settings for the next one.
#include "host/gateway/mqtt/MqttClient.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <thread>

namespace vemox::host {
namespace {

using Clock = std::chrono::steady_clock;

// A turn of the network loop waits this long for the socket at most, so a stop is seen soon.
constexpr int kLoopTurnMs = 100;
// A clean stop waits this long at most for the broker to acknowledge the farewell, and this
// long in all to get it and the goodbye out.
constexpr auto kFarewellGrace = std::chrono::seconds(1);
constexpr auto kStopGrace = std::chrono::seconds(2);

// The library's global state, set up while any client lives.
class LibraryUse {
public:
    LibraryUse() {
        const std::lock_guard<std::mutex> lock(Mutex());
        if (Users()++ == 0) {
            mosquitto_lib_init();
        }
    }
    ~LibraryUse() {
        const std::lock_guard<std::mutex> lock(Mutex());
        if (--Users() == 0) {
            mosquitto_lib_cleanup();
        }
    }
    LibraryUse(const LibraryUse&) = delete;
    LibraryUse& operator=(const LibraryUse&) = delete;

private:
    static std::mutex& Mutex() {
        static std::mutex mutex;
        return mutex;
    }
    static int& Users() {
        static int users = 0;
        return users;
    }
};

struct HandleDeleter {
    void operator()(mosquitto* handle) const noexcept { mosquitto_destroy(handle); }
};

// The password is the file's first line, so that it never stands in the configuration.
std::string ReadPassword(const std::string& path) {
    std::ifstream file(path);
    if (!file) {
        throw MqttSetupError("password_file " + path + ": " + std::strerror(errno));
    }
    std::string password;
    std::getline(file, password);
    if (!password.empty() && password.back() == '\r') {
        password.pop_back();
    }
    return password;
}

void Check(int rc, const std::string& what) {
    if (rc != MOSQ_ERR_SUCCESS) {
        throw MqttSetupError(what + ": " + mosquitto_strerror(rc));
    }
}

// The library's texts are sentences; the host's messages go on after them.
std::string Phrase(const char* sentence) {
    std::string text = sentence;
    if (!text.empty() && text.back() == '.') {
        text.pop_back();
    }
    return text;
}

const char* OrNull(const std::string& text) {
    return text.empty() ? nullptr : text.c_str();
}

} // namespace

struct MqttClient::Impl {
    Impl(const MqttConfig& settings, const MqttWill& lastWill, std::vector<std::string> topics)
        : config(settings), will(lastWill), subscriptions(std::move(topics)),
          password(config.username.empty() || config.passwordFile.empty()
                       ? ""
                       : ReadPassword(config.passwordFile)) {
        handle.reset(mosquitto_new(OrNull(config.clientId), true, this));
        if (!handle) {
            throw MqttSetupError(config.url +
                                 ": the MQTT client cannot be created: " + std::strerror(errno));
        }
        SetUp();
        network = std::thread([this] { Run(); });
    }

    // Gives the handle every setting of the configuration; throws MqttSetupError.
    void SetUp() {
        mosquitto* h = handle.get();
        // Publishing comes from the host's thread while this client's thread runs the loop.
        Check(mosquitto_threaded_set(h, true), "MQTT client");
        // Values are small and each should go out the moment it is published.
        mosquitto_int_option(h, MOSQ_OPT_TCP_NODELAY, 1);
        // Only MQTT 5 tells the host a set message was published to be kept (see OnConnect),
        // so that it is refused the moment it comes, not only at the next connection; a
        // broker that has only 3.1.1 is spoken to in that.
        Check(mosquitto_int_option(h, MOSQ_OPT_PROTOCOL_VERSION, protocol), "MQTT version");
        if (!config.username.empty()) {
            Check(
                mosquitto_username_pw_set(h, config.username.c_str(),
                                          config.passwordFile.empty() ? nullptr : password.c_str()),
                "username");
        }
        if (config.tls) {
            if (config.caFile.empty()) {
                Check(mosquitto_int_option(h, MOSQ_OPT_TLS_USE_OS_CERTS, 1), "TLS");
            } else {
                Check(mosquitto_tls_set(h, config.caFile.c_str(), nullptr, OrNull(config.certFile),
                                        OrNull(config.keyFile), nullptr),
                      "ca_file " + config.caFile + ", cert_file, key_file");
            }
        }
        Check(mosquitto_will_set(h, will.topic.c_str(), static_cast<int>(will.payload.size()),
                                 will.payload.data(), config.qos, true),
              "last will");
        mosquitto_connect_callback_set(h, &Impl::OnConnect);
        mosquitto_message_callback_set(h, &Impl::OnMessage);
        mosquitto_publish_callback_set(h, &Impl::OnPublish);
        mosquitto_log_callback_set(h, &Impl::OnLog);
    }

    // Before a try after the first: the handle as new, under the publishing lock, since
    // the host's thread may publish on it meanwhile.
    void SetUpAgain() {
        const std::lock_guard<std::mutex> lock(handleMutex);
        Check(mosquitto_reinitialise(handle.get(), OrNull(config.clientId), true, this),
              "MQTT client");
        SetUp();
    }

    ~Impl() {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
            stopAt = Clock::now();
        }
        wake.notify_all();
        network.join();
    }

    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    static void OnConnect(mosquitto* h, void* self, int code) {
        auto& impl = *static_cast<Impl*>(self);
        const bool refusesVersion = code == CONNACK_REFUSED_PROTOCOL_VERSION ||
                                    code == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION;
        if (code != 0 && refusesVersion && impl.protocol == MQTT_PROTOCOL_V5) {
            impl.protocol = MQTT_PROTOCOL_V311;
            impl.refusedThisTry = true;
            impl.Push({MqttEvent::Kind::Lost,
                       "the broker has no MQTT 5, so MQTT 3.1.1: a set message published with "
                       "retain while the host is connected is taken as a write",
                       {}});
            return;
        }
        if (code != 0) {
            impl.refusedThisTry = true;
            impl.Push({MqttEvent::Kind::Refused, Phrase(mosquitto_reason_string(code)), {}});
            return;
        }
        impl.connectedThisTry = true;
        for (const std::string& topic : impl.subscriptions) {
            if (impl.protocol == MQTT_PROTOCOL_V311) {
                mosquitto_subscribe(h, nullptr, topic.c_str(), impl.config.qos);
                continue;
            }
            // The broker keeps the publisher's retain flag on what it hands on: a set message
            // to be kept is told from a fresh one also while the host is connected.
            mosquitto_subscribe_v5(h, nullptr, topic.c_str(), impl.config.qos,
                                   MQTT_SUB_OPT_RETAIN_AS_PUBLISHED, nullptr);
        }
        impl.Push({MqttEvent::Kind::Connected, {}, {}});
    }

    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
        auto& impl = *static_cast<Impl*>(self);
        // Longer than any value needs: kept only as far as the host will judge it.
        const auto length = std::min<std::size_t>(static_cast<std::size_t>(message->payloadlen),
                                                  kMqttMaxSetPayload + 1);
        impl.Push({MqttEvent::Kind::Message, message->topic,
                   std::string(static_cast<const char*>(message->payload), length),
                   message->retain});
    }

    static void OnPublish(mosquitto*, void* self, int id) {
        auto& impl = *static_cast<Impl*>(self);
        if (id == impl.farewellId) {
            impl.farewellDone = true;
        }
    }

    // The library tells why a TLS handshake failed only in its log.
    static void OnLog(mosquitto*, void* self, int level, const char* text) {
        if (level == MOSQ_LOG_ERR) {
            auto& impl = *static_cast<Impl*>(self);
            const std::lock_guard<std::mutex> lock(impl.mutex);
            if (impl.lastError.empty()) {
                impl.lastError = text;
            }
        }
    }

    void Push(MqttEvent event) {
        const std::lock_guard<std::mutex> lock(mutex);
        const auto waiting = std::count_if(events.begin(), events.end(), [](const MqttEvent& e) {
            return e.kind == MqttEvent::Kind::Message;
        });
        if (event.kind == MqttEvent::Kind::Message &&
            static_cast<std::size_t>(waiting) >= kMqttMaxWaitingMessages) {
            ++dropped;
            return;
        }
        events.push_back(std::move(event));
    }

    bool Stopping() {
        const std::lock_guard<std::mutex> lock(mutex);
        return stopping;
    }

    // Whether the client has been stopping for longer than `grace`.
    bool StoppingFor(Clock::duration grace) {
        const std::lock_guard<std::mutex> lock(mutex);
        return stopping && Clock::now() - stopAt > grace;
    }

    // Serves the connection until it ends. On a stop, says what the last will would say, and
    // disconnects once the broker has acknowledged it: closing with its acknowledgement still
    // unread would reset the connection, and the broker would drop the goodbye and send the
    // last will after all.
    int Serve(int rc) {
        mosquitto* h = handle.get();
        bool farewellSent = false;
        bool goodbyeSent = false;
        while (rc == MOSQ_ERR_SUCCESS && !StoppingFor(kStopGrace)) {
            if (Stopping() && !farewellSent) {
                farewellSent = true;
                farewellDone = !connectedThisTry;
                if (connectedThisTry) {
                    mosquitto_publish(h, &farewellId, will.topic.c_str(),
                                      static_cast<int>(will.payload.size()), will.payload.data(),
                                      config.qos, true);
                }
            }
            if (farewellSent && !goodbyeSent && (farewellDone || StoppingFor(kFarewellGrace))) {
                // Written at once: a message read first could end the loop before it goes out.
                goodbyeSent = true;
                mosquitto_disconnect(h);
                rc = mosquitto_loop_write(h, 1);
                continue;
            }
            rc = mosquitto_loop(h, kLoopTurnMs, 1);
        }
        return rc;
    }

    std::string Reason(int rc) {
        const int error = errno;
        const std::lock_guard<std::mutex> lock(mutex);
        if (!lastError.empty()) {
            return lastError;
        }
        return rc == MOSQ_ERR_ERRNO ? std::strerror(error) : Phrase(mosquitto_strerror(rc));
    }

    // Connects, serves the connection while it lasts, and tries again after a pause that
    // doubles with every failure in a row, until the client is stopped.
    void Run() {
        mosquitto* h = handle.get();
        std::int64_t pauseMs = kMqttFirstRetryMs;
        bool first = true;
        while (!Stopping()) {
            {
                const std::lock_guard<std::mutex> lock(mutex);
                lastError.clear();
            }
            connectedThisTry = false;
            refusedThisTry = false;
            int rc = MOSQ_ERR_SUCCESS;
            try {
                if (!first) {
                    SetUpAgain();
                }
                rc = mosquitto_connect_async(h, config.host.c_str(), config.port, kMqttKeepAliveS);
            } catch (const MqttSetupError& error) {
                const std::lock_guard<std::mutex> lock(mutex);
                lastError = error.what();
                rc = MOSQ_ERR_INVAL;
            }
            first = false;
            rc = Serve(rc);
            if (Stopping()) {
                break;
            }
            if (connectedThisTry) {
                pauseMs = kMqttFirstRetryMs;
            }
            // A refusal has been told already, with the broker's own reason.
            if (!refusedThisTry) {
                Push({MqttEvent::Kind::Lost, Reason(rc), {}});
            }
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait_for(lock, std::chrono::milliseconds(pauseMs), [this] { return stopping; });
            pauseMs = std::min(pauseMs * 2, kMqttLongestRetryMs);
        }
    }

    LibraryUse library;
    MqttConfig config;
    MqttWill will;
    std::vector<std::string> subscriptions;
    std::string password; // read once: the file may be gone by the time the broker is back
    std::unique_ptr<mosquitto, HandleDeleter> handle;
    std::mutex handleMutex; // publishing against setting the handle up again
    // Touched by the network thread only.
    int protocol = MQTT_PROTOCOL_V5;
    bool connectedThisTry = false;
    bool refusedThisTry = false;
    int farewellId = -1;
    bool farewellDone = false;
    // Shared between the threads, under `mutex`.
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    Clock::time_point stopAt;
    std::deque<MqttEvent> events;
    std::size_t dropped = 0;
    std::string lastError;
    std::thread network;
};

MqttClient::MqttClient(const MqttConfig& config, const MqttWill& will,
                       std::vector<std::string> subscriptions)
    : impl_(std::make_unique<Impl>(config, will, std::move(subscriptions))) {}

MqttClient::~MqttClient() = default;

void MqttClient::Publish(const std::string& topic, const std::string& payload, bool retain) {
    // Without a connection the library would keep the message until the next one; the
    // publisher does not publish then, and what slips through in between is at most a turn's.
    const std::lock_guard<std::mutex> lock(impl_->handleMutex);
    mosquitto_publish(impl_->handle.get(), nullptr, topic.c_str(), static_cast<int>(payload.size()),
                      payload.data(), impl_->config.qos, retain);
}

std::vector<MqttEvent> MqttClient::TakeEvents(std::size_t& dropped) {
    const std::lock_guard<std::mutex> lock(impl_->mutex);
    std::vector<MqttEvent> taken(std::make_move_iterator(impl_->events.begin()),
                                 std::make_move_iterator(impl_->events.end()));
    impl_->events.clear();
    dropped = impl_->dropped;
    impl_->dropped = 0;
    return taken;
}

} // namespace vemox::host
