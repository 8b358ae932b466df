// The live view of `run`, laid out for a terminal of a given size: the item table, the
// controllers panel and the latest notices, as lines that never exceed the width. Pure text:
// the terminal itself is driven elsewhere.
#pragma once

#include "host/session/ControllerLinks.h"

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

namespace vemox::host {

// How a column gives way when the width shrinks, in the order it gives way.
enum class ColumnFit {
    Keep,      // always shown in full
    Shorten,   // a name: shortened with an ellipsis
    DropFirst, // dropped first (the trend)
    DropNext,  // dropped next (the counts)
    TimeStamp, // loses its date part after the counts are gone
};

struct ScreenColumn {
    std::string heading;
    ColumnFit fit = ColumnFit::Keep;
};

enum class LineTone { Plain, Title, Heading, Bad, Note };

struct ScreenTable {
    std::vector<ScreenColumn> columns;
    std::vector<std::vector<std::string>> rows; // one cell per column
    std::vector<LineTone> tones;                // per row; Plain when missing
};

struct LiveContent {
    std::string title;
    ScreenTable items;
    ScreenTable controllers;
    std::deque<std::string> notices; // oldest first
};

struct ScreenLine {
    std::string text;
    LineTone tone = LineTone::Plain;
};

enum class ScrollKey { Up, Down, PageUp, PageDown, Home, End };

// Characters shown, not bytes: names and operations are often Cyrillic.
std::size_t TextWidth(const std::string& text);
// `text` in at most `width` characters, its end replaced by "…" when it had to be cut.
std::string Shorten(const std::string& text, std::size_t width);

// The cells of the item table and of the controllers panel.
ScreenTable ItemCells(const std::deque<SessionItem>& items, const std::vector<std::string>& trends);
ScreenTable ControllerCells(const std::vector<ControllerLink>& links);

class LiveScreen {
public:
    // Moves through the item rows; the next layout keeps the view within them.
    void Scroll(ScrollKey key);
    // At most `height` lines of at most `width` characters. The title, the table's heading
    // and the controllers panel stay; item rows that do not fit are counted in "+N more".
    std::vector<ScreenLine> Lay(const LiveContent& content, std::size_t width, std::size_t height);

private:
    std::size_t first_ = 0; // the first item row shown
    std::size_t page_ = 1;  // item rows shown by the last layout
    std::size_t rows_ = 0;  // item rows in the last layout
};

} // namespace vemox::host
