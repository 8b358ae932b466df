// Decides what the broker is told and when: each item's latest read as JSON when its value or
// quality changed, and again at least every heartbeat; each controller's link figures when
// they changed, and at least every heartbeat; the whole plant at once after every
// (re)connection; nothing while there is no connection, so that nothing piles up meanwhile.
#pragma once

#include "host/config/MqttConfig.h"
#include "host/gateway/mqtt/MessageSink.h"
#include "host/line/HostClock.h"
#include "host/session/DriverSession.h"

#include <nlohmann/json.hpp>

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vemox::host {

// {"value": 63.12, "quality": 192, "quality_text": "good",
//  "timestamp": "2024-05-14T09:30:12.345Z", "reply_ms": 14}
nlohmann::json ItemPayload(const SessionItem& item);

class Publisher {
public:
    Publisher(const MqttConfig& config, MessageSink& sink, const HostClock& clock);

    // The broker took the connection: online, then the latest read of every item, so that
    // a broker that restarted and subscribers that came late see the whole plant at once.
    void Connected(const std::deque<SessionItem>& items);
    // Until the next connection nothing is handed to the client: it would only queue.
    void Disconnected() noexcept { connected_ = false; }
    bool IsConnected() const noexcept { return connected_; }
    // The items were replaced: what was published of the old ones no longer counts.
    void Forget();

    // Once per turn of the run loop: reads finished since the last turn, and heartbeats due.
    void Publish(const std::deque<SessionItem>& items);
    // A controller's latest link figures, as `read --once --json` lists them.
    void Health(const std::string& node, nlohmann::json figures);
    // The outcome of a write asked for on `setTopic`.
    void Result(const std::string& setTopic, const nlohmann::json& outcome);

private:
    struct Mark {
        std::uint32_t seenReads = 0;
        std::optional<nlohmann::json> value; // with the quality, as last published
        std::uint16_t quality = 0;
        std::int64_t publishedMs = 0;
    };
    struct HealthMark {
        nlohmann::json figures; // the latest, published or not
        std::int64_t publishedMs = -1;
    };
    void PublishItem(const SessionItem& item, Mark& mark, nlohmann::json payload);
    void PublishHealth(const std::string& node, HealthMark& mark);
    bool HeartbeatDue(std::int64_t publishedMs) const;

    const MqttConfig& config_;
    MessageSink& sink_;
    const HostClock& clock_;
    std::vector<Mark> marks_;
    std::map<std::string, HealthMark> health_;
    bool connected_ = false;
};

} // namespace vemox::host
