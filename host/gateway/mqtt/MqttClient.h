// One connection to an MQTT broker, kept up by a network thread of its own: it connects,
// tries again with a growing pause when the broker cannot be reached or goes away, and sets
// the last will. That thread never touches the driver: what it learns (connected, refused,
// lost, a message on a subscribed topic) waits in a bounded queue until the host's own
// thread takes it between two driver calls. Publishing may be called from the host's thread
// at any time.
#pragma once

#include "host/config/MqttConfig.h"
#include "host/gateway/mqtt/MessageSink.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vemox::host {

// The configuration cannot be used by the client (a file it cannot read, a build without
// MQTT): the host does not start.
class MqttSetupError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct MqttEvent {
    enum class Kind {
        Connected, // the broker took the connection; subscriptions are renewed
        Refused,   // the broker answered but refused the connection (e.g. the credentials)
        Lost,      // no connection, or no longer: the reason; the client tries again
        Message,   // a message on a subscribed topic
    };
    Kind kind;
    std::string text;      // Refused, Lost: the reason; Message: the topic
    std::string payload;   // Message
    bool retained = false; // Message: kept by the broker, not published just now
};

struct MqttWill {
    std::string topic;
    std::string payload;
};

class MqttClient final : public MessageSink {
public:
    // Starts connecting at once; throws MqttSetupError.
    MqttClient(const MqttConfig& config, const MqttWill& will,
               std::vector<std::string> subscriptions);
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;
    // Says what the last will says (a clean goodbye keeps the broker from sending it),
    // disconnects cleanly and ends the thread.
    ~MqttClient() override;

    void Publish(const std::string& topic, const std::string& payload, bool retain) override;
    // What happened since the last call, oldest first; `dropped` counts messages that came
    // while the queue was full.
    std::vector<MqttEvent> TakeEvents(std::size_t& dropped);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace vemox::host
