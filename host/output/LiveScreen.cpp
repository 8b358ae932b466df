#include "host/output/LiveScreen.h"

#include "contract/Constants.h"
#include "host/output/Report.h"
#include "platform/Text.h"

#include <algorithm>
#include <cstdio>

namespace vemox::host {
namespace {

constexpr std::size_t kGap = 2;               // spaces between two columns
constexpr std::size_t kComfortableWidth = 14; // a name shortened this far still reads well
constexpr std::size_t kShortestWidth = 6;     // the last resort before lines are cut
constexpr int kLastLevel = 3;                 // trend gone, counts gone, dates gone

bool IsContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// "2026-12-09 15:33:23.881Z" (or with "T") without its date; other texts as they are.
std::string TimeOfDay(const std::string& stamp) {
    constexpr std::size_t kDateLength = 10; // 2026-12-09
    const bool dated = stamp.size() > kDateLength + 1 && stamp[4] == '-' && stamp[7] == '-' &&
                       (stamp[kDateLength] == ' ' || stamp[kDateLength] == 'T');
    return dated ? stamp.substr(kDateLength + 1) : stamp;
}

struct Fitted {
    std::vector<std::size_t> shown; // column indexes
    std::vector<std::size_t> widths;
    bool timeOnly = false;
    std::size_t total = 0;
};

std::string CellText(const ScreenTable& table, const Fitted& fitted, std::size_t column,
                     const std::string& text) {
    return fitted.timeOnly && table.columns[column].fit == ColumnFit::TimeStamp ? TimeOfDay(text)
                                                                                : text;
}

// The columns at one level of giving way, names shortened down to `floor` when needed.
Fitted Try(const ScreenTable& table, int level, std::size_t width, std::size_t floor) {
    Fitted fitted;
    fitted.timeOnly = level >= kLastLevel;
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
        const ColumnFit fit = table.columns[c].fit;
        if ((fit == ColumnFit::DropFirst && level >= 1) ||
            (fit == ColumnFit::DropNext && level >= 2)) {
            continue;
        }
        std::size_t natural = TextWidth(table.columns[c].heading);
        for (const std::vector<std::string>& row : table.rows) {
            natural = std::max(natural, TextWidth(CellText(table, fitted, c, row[c])));
        }
        fitted.shown.push_back(c);
        fitted.widths.push_back(natural);
    }
    const auto total = [&] {
        std::size_t sum = fitted.shown.empty() ? 0 : kGap * (fitted.shown.size() - 1);
        for (const std::size_t w : fitted.widths) {
            sum += w;
        }
        return sum;
    };
    // The widest name gives way first, one character at a time.
    for (std::size_t sum = total(); sum > width; --sum) {
        std::size_t* widest = nullptr;
        for (std::size_t i = 0; i < fitted.shown.size(); ++i) {
            std::size_t& w = fitted.widths[i];
            if (table.columns[fitted.shown[i]].fit == ColumnFit::Shorten && w > floor &&
                (!widest || w > *widest)) {
                widest = &w;
            }
        }
        if (!widest) {
            break;
        }
        --*widest;
    }
    fitted.total = total();
    return fitted;
}

Fitted Fit(const ScreenTable& table, std::size_t width) {
    for (int level = 0;; ++level) {
        const bool last = level == kLastLevel;
        Fitted fitted = Try(table, level, width, last ? kShortestWidth : kComfortableWidth);
        if (fitted.total <= width || last) {
            return fitted;
        }
    }
}

std::string RowText(const ScreenTable& table, const Fitted& fitted,
                    const std::vector<std::string>& cells, std::size_t width) {
    std::string line;
    for (std::size_t i = 0; i < fitted.shown.size(); ++i) {
        const std::size_t c = fitted.shown[i];
        const std::string cell = Shorten(CellText(table, fitted, c, cells[c]), fitted.widths[i]);
        line += cell;
        if (i + 1 < fitted.shown.size()) {
            line.append(fitted.widths[i] - TextWidth(cell) + kGap, ' ');
        }
    }
    return Shorten(line, width);
}

std::vector<ScreenLine> TableLines(const ScreenTable& table, const Fitted& fitted,
                                   std::size_t width, std::size_t first, std::size_t count) {
    std::vector<std::string> headings;
    for (const ScreenColumn& column : table.columns) {
        headings.push_back(column.heading);
    }
    std::vector<ScreenLine> lines{{RowText(table, fitted, headings, width), LineTone::Heading}};
    for (std::size_t r = first; r < first + count && r < table.rows.size(); ++r) {
        lines.push_back({RowText(table, fitted, table.rows[r], width),
                         r < table.tones.size() ? table.tones[r] : LineTone::Plain});
    }
    return lines;
}

std::string Whole(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", value);
    return text;
}

} // namespace

std::size_t TextWidth(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return !IsContinuation(c); }));
}

std::string Shorten(const std::string& text, std::size_t width) {
    if (TextWidth(text) <= width) {
        return text;
    }
    if (width == 0) {
        return {};
    }
    // Keep width - 1 characters, whole, and let the ellipsis stand for the rest.
    std::size_t kept = 0;
    std::size_t end = 0;
    while (end < text.size()) {
        if (!IsContinuation(text[end]) && kept++ == width - 1) {
            break;
        }
        ++end;
    }
    return text.substr(0, end) + "…";
}

ScreenTable ItemCells(const std::deque<SessionItem>& items,
                      const std::vector<std::string>& trends) {
    const bool withTrend =
        std::any_of(trends.begin(), trends.end(), [](const std::string& t) { return !t.empty(); });
    ScreenTable table;
    table.columns = {{"ITEM", ColumnFit::Shorten},
                     {"OPERATION", ColumnFit::Shorten},
                     {"VALUE", ColumnFit::Keep},
                     {"QUALITY", ColumnFit::Shorten},
                     {"TIME (UTC)", ColumnFit::TimeStamp},
                     {"OK/FAILED", ColumnFit::DropNext},
                     {"REPLIES/NONE/REPEATS", ColumnFit::DropNext}};
    if (withTrend) {
        table.columns.push_back({"TREND", ColumnFit::DropFirst});
    }
    std::size_t row = 0;
    for (const SessionItem& item : items) {
        const ReadRecord record = RecordOf(item);
        const bool waiting = item.config.WriteOnly() || !record.completed;
        const std::uint16_t quality = record.quality;
        std::vector<std::string> cells = TableCells(record);
        if (withTrend) {
            cells.push_back(row < trends.size() ? trends[row] : "");
        }
        table.rows.push_back(std::move(cells));
        table.tones.push_back(!waiting && quality != kQualityGood ? LineTone::Bad
                                                                  : LineTone::Plain);
        ++row;
    }
    return table;
}

ScreenTable ControllerCells(const std::vector<ControllerLink>& links) {
    ScreenTable table;
    table.columns = {{"CONTROLLER", ColumnFit::Shorten},
                     {"LINK", ColumnFit::Keep},
                     {"REPLIES", ColumnFit::DropNext},
                     {"NO REPLY", ColumnFit::DropNext},
                     {"CHECKSUM", ColumnFit::DropNext},
                     {"MISMATCH", ColumnFit::DropNext},
                     {"REPEATS", ColumnFit::DropNext},
                     {"REPLY MS LAST/MIN/MAX", ColumnFit::DropFirst},
                     {"LAST GOOD REPLY (UTC)", ColumnFit::TimeStamp}};
    for (const ControllerLink& link : links) {
        const bool up = link.read && link.Figure(LinkFigure::LinkUp) != 0;
        table.rows.push_back(
            {link.node->config.name,
             !link.portOpen ? "no port"
             : !link.read   ? "?"
             : up           ? "up"
                            : "down",
             Whole(link.Figure(LinkFigure::Replies)), Whole(link.Figure(LinkFigure::NoAnswer)),
             Whole(link.Figure(LinkFigure::ChecksumErrors)),
             Whole(link.Figure(LinkFigure::Mismatches)), Whole(link.Figure(LinkFigure::Repeats)),
             Whole(link.Figure(LinkFigure::LastReplyMs)) + "/" +
                 Whole(link.Figure(LinkFigure::MinReplyMs)) + "/" +
                 Whole(link.Figure(LinkFigure::MaxReplyMs)),
             TimeStampText(DateTicks(link.Figure(LinkFigure::LastGoodReply)))});
        table.tones.push_back((!link.portOpen || (link.read && !up)) ? LineTone::Bad
                                                                     : LineTone::Plain);
    }
    return table;
}

void LiveScreen::Scroll(ScrollKey key) {
    const std::size_t last = rows_ > page_ ? rows_ - page_ : 0;
    switch (key) {
    case ScrollKey::Up:
        first_ = first_ > 0 ? first_ - 1 : 0;
        break;
    case ScrollKey::Down:
        first_ = std::min(first_ + 1, last);
        break;
    case ScrollKey::PageUp:
        first_ = first_ > page_ ? first_ - page_ : 0;
        break;
    case ScrollKey::PageDown:
        first_ = std::min(first_ + page_, last);
        break;
    case ScrollKey::Home:
        first_ = 0;
        break;
    case ScrollKey::End:
        first_ = last;
        break;
    }
}

std::vector<ScreenLine> LiveScreen::Lay(const LiveContent& content, std::size_t width,
                                        std::size_t height) {
    const Fitted items = Fit(content.items, width);
    const Fitted controllers = Fit(content.controllers, width);
    // The title, both headings, the panel's rows and the blank line above the panel stay.
    const std::size_t fixed = 4 + content.controllers.rows.size();
    const std::size_t room = height > fixed ? height - fixed : 0;
    const std::size_t rows = content.items.rows.size();
    std::size_t notices = content.notices.size();
    std::size_t shown = rows;
    if (rows + notices > room) {
        if (rows < room) {
            notices = room - rows;
        } else {
            // Rows first, but the latest notices keep a third of the room; "+N more" takes a line.
            notices = std::min(notices, room / 3);
            shown = room > notices ? room - notices - 1 : 0;
        }
    }
    rows_ = rows;
    page_ = std::max<std::size_t>(shown, 1);
    first_ = std::min(first_, rows - shown);

    std::vector<ScreenLine> lines{{Shorten(content.title, width), LineTone::Title}};
    for (ScreenLine& line : TableLines(content.items, items, width, first_, shown)) {
        lines.push_back(std::move(line));
    }
    if (shown < rows) {
        const std::string more = "+" + std::to_string(rows - shown) + " more (rows " +
                                 std::to_string(first_ + 1) + "-" + std::to_string(first_ + shown) +
                                 " of " + std::to_string(rows) + "; ↑ ↓ PgUp PgDn Home End scroll)";
        lines.push_back({Shorten(more, width), LineTone::Note});
    }
    lines.push_back({});
    for (ScreenLine& line :
         TableLines(content.controllers, controllers, width, 0, content.controllers.rows.size())) {
        lines.push_back(std::move(line));
    }
    for (std::size_t i = content.notices.size() - notices; i < content.notices.size(); ++i) {
        lines.push_back({Shorten(content.notices[i], width), LineTone::Note});
    }
    if (lines.size() > height) {
        lines.resize(height);
    }
    return lines;
}

} // namespace vemox::host
