#include "host/gateway/mqtt/MqttGateway.h"

#include "host/gateway/mqtt/MqttTopics.h"
#include "host/output/LinksText.h"

namespace vemox::host {

MqttGateway::MqttGateway(const MqttConfig& config, DriverSession& session, ControllerLinks& links,
                         const HostClock& clock, const RunHooks& writeHooks, LogSink notices)
    : config_(config), session_(&session), links_(&links), clock_(clock),
      notices_(std::move(notices)),
      client_(config_, {StatusTopic(config_.topicPrefix), kStatusOffline},
              {SetFilter(config_.topicPrefix)}),
      publisher_(config_, client_, clock), writeHooks_(writeHooks),
      writes_(std::make_unique<RemoteWrites>(config_, session, clock, writeHooks_, notices_)) {}

void MqttGateway::Rebind(DriverSession& session, ControllerLinks& links) {
    session_ = &session;
    links_ = &links;
    writes_ = std::make_unique<RemoteWrites>(config_, session, clock_, writeHooks_, notices_);
    publisher_.Forget();
}

void MqttGateway::Tell(const std::string& line) {
    if (notices_) {
        notices_("mqtt: " + line);
    }
}

void MqttGateway::Trouble(const std::string& reason) {
    if (reason != lastTrouble_) {
        lastTrouble_ = reason;
        Tell(config_.url + ": " + reason + "; trying again");
    }
}

void MqttGateway::AfterCycle() {
    std::size_t dropped = 0;
    for (const MqttEvent& event : client_.TakeEvents(dropped)) {
        switch (event.kind) {
        case MqttEvent::Kind::Connected:
            everConnected_ = true;
            lastTrouble_.clear();
            Tell("connected to " + config_.url);
            publisher_.Connected(session_->Items());
            break;
        case MqttEvent::Kind::Refused:
            // Credentials that never worked are a configuration to fix, not a broker to wait
            // for; once they did, the broker's users may be changing and the host waits.
            if (!everConnected_) {
                throw MqttRefusedAtStart(config_.url + ": the broker refused the connection: " +
                                         event.text + " (check username and password_file)");
            }
            publisher_.Disconnected();
            Trouble("the broker refused the connection: " + event.text);
            break;
        case MqttEvent::Kind::Lost:
            publisher_.Disconnected();
            Trouble(event.text);
            break;
        case MqttEvent::Kind::Message:
            publisher_.Result(event.text,
                              writes_->Handle(event.text, event.payload, event.retained));
            break;
        }
    }
    if (dropped > 0) {
        Tell(std::to_string(dropped) + " set message(s) dropped: more writes asked for than the "
                                       "line takes; nothing written for them");
    }
    publisher_.Publish(session_->Items());
    // The figures are read from the driver, not the line; once a period is plenty.
    if (publisher_.IsConnected() && clock_.NowMs() - healthReadMs_ >= kMqttHealthPeriodMs) {
        healthReadMs_ = clock_.NowMs();
        for (nlohmann::json& figures : LinksJson(links_->Read())) {
            const std::string node = figures.at("node").get<std::string>();
            publisher_.Health(node, std::move(figures));
        }
    }
}

} // namespace vemox::host
