#include "host/gateway/mqtt/Publisher.h"

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

// A publisher of one item, Scale.net, read through its host item as the driver completes it.
struct OneItem {
    explicit OneItem(MqttConfig settings) : config(std::move(settings)) {
        ItemConfig net;
        net.node = "Scale";
        net.name = "net";
        net.operation = FindOperation(u"Вес Нетто");
        items.emplace_back(net);
    }
    void Read(double value, std::uint16_t quality, FILETIME stamp = {}) {
        HostItem& item = items.front().host;
        const std::uint32_t id = item.BeginTask();
        platform::Variant variant = platform::Variant::Double(value);
        platform::VariantCopyFrom(item.State().vDataValue, variant.get());
        item.State().wQuality = quality;
        item.State().ftTimeStamp = stamp;
        item.ReadComplete(id, S_OK);
    }
    MqttConfig config;
    RecordingSink sink;
    ManualClock clock;
    Publisher publisher{config, sink, clock};
    std::deque<SessionItem> items;
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

TEST_P(PublisherTest, PublishesOnChangeOnHeartbeatAndAfterEachConnection) {
    MqttConfig config;
    config.heartbeatS = GetParam().heartbeatS;
    OneItem one(config);
    for (const Step& step : GetParam().steps) {
        switch (step.action) {
        case Step::Read:
            one.Read(step.value, step.quality);
            break;
        case Step::Advance:
            one.clock.Advance(static_cast<std::int64_t>(step.value * 1000));
            break;
        case Step::Connect:
            one.publisher.Connected(one.items);
            break;
        case Step::Disconnect:
            one.publisher.Disconnected();
            break;
        }
        one.publisher.Publish(one.items);
        EXPECT_EQ(one.sink.Topics(), step.expected) << step.what;
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
    OneItem one(config);
    one.Read(63.12, kQualityGood, platform::MakeFileTime(133601526123450000)); // 09:30:12.345Z
    one.items.front().replyTimeMs = 14;

    one.publisher.Connected(one.items);
    one.publisher.Result("plant/line1/Scale/level/set", {{"ok", true}});
    EXPECT_EQ(one.sink.published,
              (std::vector<std::string>{"plant/line1/$status (retained) online",
                                        "plant/line1/Scale/net (retained) "
                                        R"({"quality":192,"quality_text":"good","reply_ms":14,)"
                                        R"("timestamp":"2024-05-14T09:30:12.345Z","value":63.12})",
                                        R"(plant/line1/Scale/level/set/result {"ok":true})"}));
}

} // namespace
} // namespace vemox::host
