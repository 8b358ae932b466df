// Writes asked for over MQTT, closed by default: only the items listed in [mqtt] writable are
// written, each exactly as `vemox-host write` writes it (through the same gate); a payload
// that is no value never reaches the driver. Every request is logged and answered.
#pragma once

#include "host/config/MqttConfig.h"
#include "host/session/DriverSession.h"
#include "host/session/WriteLimits.h"
#include "platform/Com.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace vemox::host {

struct PayloadValue {
    AskedValue value;
    std::string text; // as the log and the messages show it
};

// true, false, a number, or a JSON object {"value": ...} holding one of those; nothing for
// anything else.
std::optional<PayloadValue> ValueOfPayload(std::string_view payload);

class RemoteWrites {
public:
    // `hooks` serve the waits of each write on the line.
    RemoteWrites(const MqttConfig& config, DriverSession& session, const HostClock& clock,
                 RunHooks hooks, LogSink log);

    // One message on a set topic; answers the outcome for its result topic. Runs in the
    // host's own thread between driver calls, and returns once the write has ended.
    // `retained`: the broker kept the message from before.
    nlohmann::json Handle(const std::string& topic, std::string_view payload, bool retained);

private:
    // Logs `why` and answers it, without writing.
    nlohmann::json Refuse(const std::string& result, const std::string& why);

    const MqttConfig& config_;
    DriverSession& session_;
    const HostClock& clock_;
    RunHooks hooks_;
    LogSink log_;
    std::set<std::string> writable_;
};

} // namespace vemox::host
