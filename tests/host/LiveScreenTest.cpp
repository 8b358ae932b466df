#include "host/output/LiveScreen.h"

#include <gtest/gtest.h>

namespace vemox::host {
namespace {

// Twelve items of the demo's kind, three controllers and two notices.
LiveContent Content() {
    LiveContent content;
    content.title = "vemox-host run  plant.toml  12 items  (q or Ctrl-C stops)";
    content.items.columns = {{"ITEM", ColumnFit::Shorten},
                             {"OPERATION", ColumnFit::Shorten},
                             {"VALUE", ColumnFit::Keep},
                             {"TIME (UTC)", ColumnFit::TimeStamp},
                             {"REPLIES/NONE/REPEATS", ColumnFit::DropNext},
                             {"TREND", ColumnFit::DropFirst}};
    for (int i = 0; i < 12; ++i) {
        content.items.rows.push_back(
            {"Бункер.вес_нетто_" + std::to_string(i), "Уровень точки взвешивания", "141.5",
             "2026-12-09T15:33:23.881Z", "7/0/0", "▁▂▃▄▅▆▇█▁▂▃▄▅▆▇█▁▂▃▄▅▆▇█▁▂▃▄▅▆"});
    }
    content.controllers = {
        {{"CONTROLLER", ColumnFit::Shorten},
         {"LINK", ColumnFit::Keep},
         {"LAST GOOD REPLY (UTC)", ColumnFit::TimeStamp}},
        {{"Hopper", "up", "2026-12-09 15:33:23.881Z"}, {"Belt", "up", "-"}, {"Tank", "down", "-"}},
        {LineTone::Plain, LineTone::Plain, LineTone::Bad}};
    content.notices = {"COM1: /dev/ttyUSB0 opened", "log: COM1 Tx: FF 01 C2"};
    return content;
}

std::string Joined(const std::vector<ScreenLine>& lines) {
    std::string text;
    for (const ScreenLine& line : lines) {
        text += line.text + "\n";
    }
    return text;
}

TEST(LiveScreenTest, NamesShortenByCharacters) {
    EXPECT_EQ(Shorten("Бункер.нетто", 20), "Бункер.нетто");
    EXPECT_EQ(Shorten("Бункер.нетто", 7), "Бункер…");
    EXPECT_EQ(TextWidth(Shorten("Бункер.нетто", 7)), 7u);
    EXPECT_EQ(Shorten("abc", 0), "");
}

// Columns give way in a fixed order as the width shrinks; no line is ever wider.
TEST(LiveScreenTest, ColumnsGiveWayInOrder) {
    const struct {
        std::size_t width;
        bool trend, counts, date, cut;
    } cases[] = {
        {200, true, true, true, false},  {120, true, true, true, true},
        {110, false, true, true, false}, {90, false, true, true, true},
        {80, false, false, true, false}, {70, false, false, true, true},
        {60, false, false, false, true}, {40, false, false, false, true},
        {12, false, false, false, true},
    };
    for (const auto& c : cases) {
        LiveScreen screen;
        const std::vector<ScreenLine> lines = screen.Lay(Content(), c.width, 60);
        for (const ScreenLine& line : lines) {
            EXPECT_LE(TextWidth(line.text), c.width) << line.text;
        }
        const std::string text = Joined(lines);
        const std::string items = text.substr(0, text.find("\n\n")); // above the panel
        EXPECT_EQ(items.find("TREND") != std::string::npos, c.trend) << c.width;
        EXPECT_EQ(items.find("7/0/0") != std::string::npos, c.counts) << c.width;
        EXPECT_EQ(items.find("2026-12-09") != std::string::npos, c.date) << c.width;
        EXPECT_EQ(items.find("Уровень точки взвешивания") == std::string::npos, c.cut) << c.width;
        EXPECT_EQ(items.find("15:33:23.881Z") != std::string::npos, c.width >= 40) << c.width;
    }
}

TEST(LiveScreenTest, RowsThatDoNotFitScrollUnderAFixedPanel) {
    LiveScreen screen;
    std::vector<ScreenLine> lines = screen.Lay(Content(), 80, 14);
    ASSERT_EQ(lines.size(), 14u);
    std::string text = Joined(lines);
    // 14 lines: title, heading, 4 rows, "+8 more", blank, panel heading, 3 controllers, 2 notices.
    EXPECT_NE(text.find("+8 more (rows 1-4 of 12"), std::string::npos) << text;
    EXPECT_NE(text.find("CONTROLLER"), std::string::npos);
    EXPECT_EQ(lines.back().text, "log: COM1 Tx: FF 01 C2");
    screen.Scroll(ScrollKey::PageDown);
    screen.Scroll(ScrollKey::Down);
    EXPECT_NE(Joined(screen.Lay(Content(), 80, 14)).find("rows 6-9 of 12"), std::string::npos);
    screen.Scroll(ScrollKey::End);
    EXPECT_NE(Joined(screen.Lay(Content(), 80, 14)).find("rows 9-12 of 12"), std::string::npos);
    // A taller terminal shows every row, and a later shrink keeps the view within the rows.
    EXPECT_EQ(Joined(screen.Lay(Content(), 80, 40)).find("more"), std::string::npos);
    EXPECT_LE(screen.Lay(Content(), 80, 3).size(), 3u);
}

} // namespace
} // namespace vemox::host
