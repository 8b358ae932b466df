// `vemox-host run` as a gateway to an MQTT broker: the connection, what is published, and the
// writes asked for over MQTT, all handled between two turns of the run loop in the host's own
// thread, so that the driver's calls never overlap.
#pragma once

#include "host/gateway/mqtt/MqttClient.h"
#include "host/gateway/mqtt/Publisher.h"
#include "host/gateway/mqtt/RemoteWrites.h"
#include "host/session/ControllerLinks.h"
#include "host/session/DriverSession.h"

#include <memory>
#include <stdexcept>
#include <string>

namespace vemox::host {

// The broker refused the credentials before it ever took them: the host does not start.
class MqttRefusedAtStart : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class MqttGateway {
public:
    // Starts connecting at once. `links` give each controller's link figures; `writeHooks`
    // serve the waits of writes on the line; `notices` tell the operator about the connection
    // and every write asked for. Throws MqttSetupError.
    MqttGateway(const MqttConfig& config, DriverSession& session, ControllerLinks& links,
                const HostClock& clock, const RunHooks& writeHooks, LogSink notices);
    MqttGateway(const MqttGateway&) = delete;
    MqttGateway& operator=(const MqttGateway&) = delete;

    // Between two turns of the run loop: what the connection brought, then what to publish.
    // Throws MqttRefusedAtStart.
    void AfterCycle();
    // A reloaded configuration brought a new session with the same [mqtt] section: the
    // connection stays, publishing and writes go on with the new items.
    void Rebind(DriverSession& session, ControllerLinks& links);
    bool Connected() const noexcept { return publisher_.IsConnected(); }

private:
    void Tell(const std::string& line);
    void Trouble(const std::string& reason);

    const MqttConfig config_; // its own copy: it outlives the session of a reload
    DriverSession* session_;
    ControllerLinks* links_;
    const HostClock& clock_;
    LogSink notices_;
    MqttClient client_;
    Publisher publisher_;
    RunHooks writeHooks_;
    std::unique_ptr<RemoteWrites> writes_;
    bool everConnected_ = false;
    std::int64_t healthReadMs_ = 0;
    std::string lastTrouble_; // told once until the connection is back
};

} // namespace vemox::host
