#include "host/gateway/mqtt/Publisher.h"

#include "host/gateway/mqtt/MqttTopics.h"
#include "host/output/Report.h"

namespace vemox::host {
namespace {

constexpr std::int64_t kMsPerSecond = 1000;

} // namespace

nlohmann::json ItemPayload(const SessionItem& item) {
    return PayloadJson(RecordOf(item));
}

Publisher::Publisher(const MqttConfig& config, MessageSink& sink, const HostClock& clock)
    : config_(config), sink_(sink), clock_(clock) {}

void Publisher::Forget() {
    marks_.clear();
    health_.clear();
}

void Publisher::Connected(const std::deque<SessionItem>& items) {
    connected_ = true;
    sink_.Publish(StatusTopic(config_.topicPrefix), kStatusOnline, true);
    marks_.resize(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].host.Counts().reads > 0) {
            PublishItem(items[i], marks_[i], ItemPayload(items[i]));
        }
    }
    for (auto& [node, mark] : health_) {
        PublishHealth(node, mark);
    }
}

bool Publisher::HeartbeatDue(std::int64_t publishedMs) const {
    return config_.heartbeatS > 0 &&
           clock_.NowMs() - publishedMs >= config_.heartbeatS * kMsPerSecond;
}

void Publisher::Publish(const std::deque<SessionItem>& items) {
    if (!connected_) {
        return;
    }
    marks_.resize(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        const SessionItem& item = items[i];
        Mark& mark = marks_[i];
        const std::uint32_t reads = item.host.Counts().reads;
        if (reads == 0) {
            continue;
        }
        const bool newRead = reads != mark.seenReads;
        // A heartbeat of 0 publishes every read and nothing in between.
        const bool due = config_.heartbeatS > 0 ? HeartbeatDue(mark.publishedMs) : newRead;
        if (!newRead && !due) {
            continue;
        }
        mark.seenReads = reads;
        nlohmann::json payload = ItemPayload(item);
        const bool changed = !mark.value || *mark.value != payload["value"] ||
                             mark.quality != item.host.Shown().wQuality;
        if (changed || due) {
            PublishItem(item, mark, std::move(payload));
        }
    }
}

void Publisher::PublishItem(const SessionItem& item, Mark& mark, nlohmann::json payload) {
    mark.seenReads = item.host.Counts().reads;
    mark.value = payload["value"];
    mark.quality = item.host.Shown().wQuality;
    mark.publishedMs = clock_.NowMs();
    sink_.Publish(ItemTopic(config_.topicPrefix, item.config.node, item.config.name),
                  payload.dump(), config_.retain);
}

void Publisher::Health(const std::string& node, nlohmann::json figures) {
    HealthMark& mark = health_[node];
    const bool changed = figures != mark.figures;
    mark.figures = std::move(figures);
    if (connected_ && (changed || mark.publishedMs < 0 || HeartbeatDue(mark.publishedMs))) {
        PublishHealth(node, mark);
    }
}

void Publisher::PublishHealth(const std::string& node, HealthMark& mark) {
    mark.publishedMs = clock_.NowMs();
    sink_.Publish(HealthTopic(config_.topicPrefix, node), mark.figures.dump(), config_.retain);
}

void Publisher::Result(const std::string& setTopic, const nlohmann::json& outcome) {
    if (connected_) {
        sink_.Publish(ResultTopic(setTopic), outcome.dump(), false);
    }
}

} // namespace vemox::host
