#include "host/output/Report.h"

#include "contract/Constants.h"
#include "host/gateway/mqtt/Publisher.h"
#include "host/output/LinksText.h"
#include "host/output/LiveScreen.h"
#include "host/output/Recording.h"
#include "platform/Com.h"
#include "platform/DateTime.h"
#include "platform/VariantConvert.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace vemox::host {
namespace {

TEST(ReportTest, QualitiesInWords) {
    EXPECT_EQ(QualityWords(kQualityGood), "good");
    EXPECT_EQ(QualityWords(kQualityNotAnswer), "bad: no reply");
    EXPECT_EQ(QualityWords(kQualityChecksum), "bad: checksum error");
    EXPECT_EQ(QualityWords(kQualityWrongReply), "bad: reply does not match the request");
    EXPECT_EQ(QualityWords(0x00D8), "good (0x00D8)");
    EXPECT_EQ(QualityWords(0x0044), "uncertain (0x0044)");
    EXPECT_EQ(OutcomeText(kOutcomeNotAnswer), "no reply");
    EXPECT_EQ(OutcomeText(static_cast<HRESULT>(0x80070005u)), "0x80070005");
}

// 2024-01-02 03:04:05.678 UTC.
constexpr std::int64_t kTicks = 133486382456780000;
const std::string kTime = "2024-01-02T03:04:05.678Z";

TEST(ReportTest, TimeStampsInUtc) {
    EXPECT_EQ(TimeStampText(0), "-");
    EXPECT_EQ(TimeStampText(kTicks), kTime);
}

struct Shown {
    const char* name;
    const char16_t* operation;
    int figure;                            // of a link-diagnostic item
    std::optional<platform::Variant> read; // none: never read
    std::uint16_t quality;
    const char* text;    // in plain lines, the table and CSV
    nlohmann::json json; // in every JSON document
};

// The same finished reads through every output: plain line, table, `read --json`, the MQTT
// payload, JSON lines, CSV and the controllers' figures agree on values and time texts.
TEST(ReportTest, EveryFormatShowsTheSameRead) {
    const double date = platform::JoinDateTime(platform::FileTimeTicksToCivil(kTicks));
    const int up = static_cast<int>(LinkFigure::LinkUp);
    const int lastGood = static_cast<int>(LinkFigure::LastGoodReply);
    const std::vector<Shown> cases = {
        {"net", u"Вес Нетто", 0, platform::Variant::Double(141.5), kQualityGood, "141.5", 141.5},
        {"link", u"Диагностика связи", up, platform::Variant::Bool(true), kQualityGood, "true",
         true},
        {"output3", u"Дискретные выходы", 0, platform::Variant::Int32(1), kQualityGood, "1", 1},
        {"last_good", u"Диагностика связи", lastGood, platform::Variant::Date(date), kQualityGood,
         kTime.c_str(), kTime},
        // The last good value is still in the item, yet this read brought none.
        {"gross", u"Вес Брутто", 0, platform::Variant::Double(99), kQualityNotAnswer, "-", nullptr},
        {"counter1", u"Счетчик", 0, std::nullopt, 0, "-", nullptr},
    };
    std::deque<SessionNode> nodes(2);
    nodes[0].config.name = "Hopper";
    nodes[1].config.name = "Tank";
    std::deque<SessionItem> items;
    for (const Shown& c : cases) {
        ItemConfig config;
        config.node = "Hopper";
        config.name = c.name;
        config.operation = FindOperation(c.operation);
        config.parameter = c.figure;
        SessionItem& item = items.emplace_back(config);
        item.node = &nodes[0];
        if (c.read) {
            const std::uint32_t id = item.host.BeginTask();
            platform::VariantCopyFrom(item.host.State().vDataValue, c.read->get());
            item.host.State().wQuality = c.quality;
            item.host.State().ftTimeStamp = platform::MakeFileTime(kTicks);
            if (c.figure == 0) { // diagnostic items are answered without an exchange
                item.host.ReportExchange(c.quality == kQualityGood ? 1 : 0, 0, 0);
                item.replyTimeMs = 13;
            }
            item.host.ReadComplete(id, c.quality == kQualityGood ? S_OK : kOutcomeNotAnswer);
        }
    }
    const nlohmann::json document = ItemsJson(items);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Shown& c = cases[i];
        SCOPED_TRACE(c.name);
        const ReadRecord record = RecordOf(items[i]);
        const std::string time = c.read ? kTime : "-";
        const std::string item = std::string("Hopper.") + c.name;
        const bool replied = c.json != nullptr && c.figure == 0;
        EXPECT_EQ(PlainLine(record).rfind(time + " " + item + " = " + c.text + " [", 0), 0u);
        EXPECT_EQ(TableCells(record)[2] + " " + TableCells(record)[4], c.text + (" " + time));

        const nlohmann::json payload = PayloadJson(record);
        EXPECT_EQ(payload.at("value"), c.json);
        EXPECT_EQ(payload.at("timestamp"), c.read ? nlohmann::json(kTime) : nullptr);
        EXPECT_EQ(payload.at("reply_ms"), replied ? nlohmann::json(13) : nullptr);
        EXPECT_EQ(ItemPayload(items[i]), payload) << "what MQTT publishes";
        nlohmann::json listed = document.at("items")[i];
        EXPECT_EQ(listed.at("exchanges").at("answered").dump(), replied ? "1" : "0");
        EXPECT_EQ(listed.at("good"), c.json != nullptr);
        nlohmann::json line = nlohmann::json::parse(JsonLine(record));
        for (nlohmann::json* rendered : {&listed, &line}) {
            for (const auto& [key, value] : payload.items()) {
                EXPECT_EQ(rendered->at(key), value) << key;
            }
        }
        EXPECT_EQ(line.at("item"), item);
        EXPECT_EQ(CsvRow(record), (c.read ? kTime : "") + "," + item + "," +
                                      (c.json == nullptr ? "" : c.text) + "," +
                                      std::to_string(c.quality) + "," + record.qualityText + "," +
                                      (replied ? "13" : ""));
    }

    // A controller heard from and one never heard from, in the panel and its JSON ($health).
    std::vector<ControllerLink> links = {{&nodes[0], true, {}}, {&nodes[1], true, {}}};
    links[0].figures[up] = 1;
    links[0].figures[static_cast<int>(LinkFigure::Replies)] = 7;
    links[0].figures[lastGood] = date;
    const nlohmann::json figures = LinksJson(links);
    EXPECT_EQ(figures[0].at("link").dump() + figures[0].at("replies").dump() +
                  figures[1].at("no_answer").dump(),
              "true70");
    EXPECT_EQ(figures[0].at("last_good_reply"), kTime);
    EXPECT_TRUE(figures[1].at("last_good_reply").is_null());
    const ScreenTable panel = ControllerCells(links);
    EXPECT_EQ(panel.rows[0].back(), kTime);
    EXPECT_EQ(panel.rows[1].back(), "-");
}

} // namespace
} // namespace vemox::host
