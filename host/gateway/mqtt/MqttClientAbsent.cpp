// The client of builds that have no MQTT library (the Windows builds): a configuration that
// asks for a broker is refused before anything starts.
#include "host/gateway/mqtt/MqttClient.h"

namespace vemox::host {

struct MqttClient::Impl {};

MqttClient::MqttClient(const MqttConfig& config, const MqttWill&, std::vector<std::string>) {
    throw MqttSetupError(config.url + ": this build of vemox-host cannot publish to MQTT; "
                                      "remove the [mqtt] section or run the Linux build");
}

MqttClient::~MqttClient() = default;

void MqttClient::Publish(const std::string&, const std::string&, bool) {}

std::vector<MqttEvent> MqttClient::TakeEvents(std::size_t& dropped) {
    dropped = 0;
    return {};
}

} // namespace vemox::host
