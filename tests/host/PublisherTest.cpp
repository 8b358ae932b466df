#include "host/Publisher.h"

#include "contract/Constants.h"
#include "platform/Com.h"
#include "platform/DateTime.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace vemox::host {
namespace {

class RecordingSink final : public MessageSink {
public:
    void Publish(const std::string& topic, const std::string& payload, bool retain) override {
        published.push_back(topic + (retain ? " (retained) " : " ") + payload);
    }
    // The topics published since the last call.
    std::vector<std::string> Topics() {
        std::vector<std::string> topics;
        for (const std::string& message : published) {
            topics.push_back(message.substr(0, message.find(' ')));
        }
        published.clear();
        return topics;
    }
    std::vector<std::string> published;
};

struct Step {
    const char* what;
    enum { Read, Advance, Connect, Disconnect } action;
    double value = 0; // Read: the value, Advance: seconds
    std::uint16_t quality = kQualityGood;
    std::vector<std::string> expected; // topics published by the step and the turn after it
};

struct Scenario {
    const char* name;
    std::int64_t heartbeatS;
    std::vector<Step> steps;
};

class PublisherTest : public ::testing::TestWithParam<Scenario> {};

// One item, Scale.net, read through its host item as the driver would complete it.
TEST_P(PublisherTest, PublishesOnChangeOnHeartbeatAndAfterEachConnection) {
    MqttConfig config;
    config.heartbeatS = GetParam().heartbeatS;
    RecordingSink sink;
    ManualClock clock;
    Publisher publisher(config, sink, clock);
    ItemConfig net;
    net.node = "Scale";
    net.name = "net";
    std::deque<SessionItem> items;
    items.emplace_back(net);
    HostItem& item = items.front().host;
    for (const Step& step : GetParam().steps) {
        switch (step.action) {
        case Step::Read: {
            const std::uint32_t id = item.BeginTask();
            platform::Variant value = platform::Variant::Double(step.value);
            platform::VariantCopyFrom(item.State().vDataValue, value.get());
            item.State().wQuality = step.quality;
            item.ReadComplete(id, S_OK);
            break;
        }
        case Step::Advance:
            clock.Advance(static_cast<std::int64_t>(step.value * 1000));
            break;
        case Step::Connect:
            publisher.Connected(items);
            break;
        case Step::Disconnect:
            publisher.Disconnected();
            break;
        }
        publisher.Publish(items);
        EXPECT_EQ(sink.Topics(), step.expected) << step.what;
    }
}

const std::string kItem = "vemox/Scale/net";
const std::string kStatus = "vemox/$status";

INSTANTIATE_TEST_SUITE_P(
    Publisher, PublisherTest,
    ::testing::Values(
        Scenario{"ChangesAndHeartbeats",
                 60,
                 {{"nothing read yet", Step::Connect, 0, kQualityGood, {kStatus}},
                  {"first read", Step::Read, 1.5, kQualityGood, {kItem}},
                  {"same value", Step::Read, 1.5, kQualityGood, {}},
                  {"new value", Step::Read, 2.5, kQualityGood, {kItem}},
                  {"new quality", Step::Read, 2.5, kQualityNotAnswer, {kItem}},
                  {"before the heartbeat", Step::Advance, 59.9, kQualityGood, {}},
                  {"heartbeat without a read", Step::Advance, 0.1, kQualityGood, {kItem}},
                  {"same value after it", Step::Read, 2.5, kQualityNotAnswer, {}}}},
        Scenario{"EveryReadAtHeartbeatZero",
                 0,
                 {{"connected", Step::Connect, 0, kQualityGood, {kStatus}},
                  {"read", Step::Read, 1, kQualityGood, {kItem}},
                  {"same value", Step::Read, 1, kQualityGood, {kItem}},
                  {"no read", Step::Advance, 3600, kQualityGood, {}}}},
        Scenario{"NothingWithoutAConnectionThenTheLatest",
                 60,
                 {{"read before any connection", Step::Read, 1, kQualityGood, {}},
                  {"connected", Step::Connect, 0, kQualityGood, {kStatus, kItem}},
                  {"lost", Step::Disconnect, 0, kQualityGood, {}},
                  {"changed meanwhile", Step::Read, 2, kQualityGood, {}},
                  {"heartbeat due meanwhile", Step::Advance, 120, kQualityGood, {}},
                  // The latest even when it equals what was published before.
                  {"read back", Step::Read, 1, kQualityGood, {}},
                  {"connected again", Step::Connect, 0, kQualityGood, {kStatus, kItem}}}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(PublisherTest, ItemsAreRetainedJsonAndWriteResultsAreNot) {
    MqttConfig config;
    config.topicPrefix = "plant/line1";
    RecordingSink sink;
    ManualClock clock;
    Publisher publisher(config, sink, clock);
    ItemConfig net;
    net.node = "Scale";
    net.name = "net";
    std::deque<SessionItem> items;
    items.emplace_back(net);
    SessionItem& item = items.front();
    const std::uint32_t id = item.host.BeginTask();
    platform::Variant value = platform::Variant::Double(63.12);
    platform::VariantCopyFrom(item.host.State().vDataValue, value.get());
    item.host.State().wQuality = kQualityGood;
    // 2024-05-14 09:30:12.345 UTC
    const std::int64_t ticks = 133601526123450000;
    item.host.State().ftTimeStamp = platform::MakeFileTime(ticks);
    item.host.ReadComplete(id, S_OK);
    item.replyTimeMs = 14;

    publisher.Connected(items);
    publisher.Result("plant/line1/Scale/level/set", {{"ok", true}});
    EXPECT_EQ(sink.published,
              (std::vector<std::string>{"plant/line1/$status (retained) online",
                                        "plant/line1/Scale/net (retained) "
                                        R"({"quality":192,"quality_text":"good","reply_ms":14,)"
                                        R"("timestamp":"2024-05-14T09:30:12.345Z","value":63.12})",
                                        R"(plant/line1/Scale/level/set/result {"ok":true})"}));
}

} // namespace
} // namespace vemox::host
