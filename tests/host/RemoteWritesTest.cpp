#include "host/gateway/mqtt/RemoteWrites.h"

#include "host/config/MqttSection.h"
#include "host/gateway/mqtt/MqttTopics.h"
#include "platform/VariantConvert.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace vemox::host {
namespace {

struct PayloadCase {
    std::string payload;
    std::optional<double> value; // as a double; nothing when the payload is malformed
    VARTYPE type = VT_EMPTY;
};

TEST(RemoteWritesTest, APayloadIsAPlainOrAJsonValueAndNothingElse) {
    const PayloadCase cases[] = {
        {"true", -1, VT_BOOL},
        {" off\n", 0, VT_BOOL},
        {"3", 3, VT_I4},
        {"2500.5", 2500.5, VT_R8},
        {R"({"value": 2500.5})", 2500.5, VT_R8},
        {R"({"value": false})", 0, VT_BOOL},
        {R"({"value": 4294967296})", 4294967296.0, VT_R8},
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
            EXPECT_EQ(parsed->value.type(), c.type) << c.payload;
            EXPECT_DOUBLE_EQ(platform::VariantToDouble(parsed->value.get()), *c.value) << c.payload;
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
