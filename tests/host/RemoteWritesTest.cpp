#include "host/gateway/mqtt/RemoteWrites.h"

#include "host/config/MqttSection.h"
#include "host/gateway/mqtt/MqttTopics.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace vemox::host {
namespace {

struct PayloadCase {
    std::string payload;
    std::optional<AskedValue> value; // nothing when the payload is malformed
};

TEST(RemoteWritesTest, APayloadIsAPlainOrAJsonValueAndNothingElse) {
    const PayloadCase cases[] = {
        {"true", "true"},
        {" off\n", "off"},
        {"3", "3"},
        {"2500.5", "2500.5"},
        {R"({"value": 2500.5})", 2500.5},
        {R"({"value": false})", "false"},
        {R"({"value": 4294967296})", 4294967296.0},
        {"banana", std::nullopt},
        {"", std::nullopt},
        {R"("3")", std::nullopt},
        {R"({"value": "3"})", std::nullopt},
        {R"({"value": 3, "unit": "kg"})", std::nullopt},
        {R"({"level": 3})", std::nullopt},
        {"[3]", std::nullopt},
        {"null", std::nullopt},
        {std::string(300, '1'), std::nullopt},
    };
    for (const PayloadCase& c : cases) {
        const auto parsed = ValueOfPayload(c.payload);
        ASSERT_EQ(parsed.has_value(), c.value.has_value()) << c.payload;
        if (parsed) {
            EXPECT_EQ(parsed->value, *c.value) << c.payload;
        }
    }
}

TEST(RemoteWritesTest, OnlyTheSetTopicOfAnItemNamesOne) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"plant/a/Scale/net/set", "Scale.net"},         {"plant/a/Scale/net", std::nullopt},
        {"plant/a/Scale/net/set/result", std::nullopt}, {"plant/a/Scale/set", std::nullopt},
        {"plant/a/Scale/x/y/set", std::nullopt},        {"plant/b/Scale/net/set", std::nullopt},
        {"plant/aa/Scale/net/set", std::nullopt},
    };
    for (const auto& [topic, item] : cases) {
        EXPECT_EQ(ItemOfSetTopic("plant/a", topic), item) << topic;
    }
    for (const char* bad : {"", "a/b", "a+", "#", "$SYS"}) {
        EXPECT_TRUE(TopicLevelFault(bad)) << bad;
    }
    EXPECT_FALSE(TopicLevelFault("point0_high"));
}

} // namespace
} // namespace vemox::host
