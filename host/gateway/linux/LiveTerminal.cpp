// The live view through ncurses: it knows each terminal's sequences (alternate screen,
// cursor, colours), redraws only what changed, decodes the keys and follows resizes.
#include "host/gateway/LiveTerminal.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <langinfo.h>
#include <stdexcept>
#include <string>

// Function forms only: the macro forms clash with the standard library's names.
#define NCURSES_NOMACROS
#include <curses.h>

namespace vemox::host {
namespace {

constexpr short kBadPair = 1;
constexpr short kNotePair = 2;

chtype ToneAttributes(LineTone tone, bool colours) {
    switch (tone) {
    case LineTone::Title:
        return A_BOLD;
    case LineTone::Heading:
        return A_REVERSE;
    case LineTone::Bad:
        return colours ? COLOR_PAIR(kBadPair) : A_BOLD;
    case LineTone::Note:
        return colours ? COLOR_PAIR(kNotePair) : A_DIM;
    case LineTone::Plain:
        break;
    }
    return A_NORMAL;
}

} // namespace

struct LiveTerminal::State {
    SCREEN* screen = nullptr;
    bool colours = false;
};

LiveTerminal::LiveTerminal() : state_(std::make_unique<State>()) {
    // Names and operations are UTF-8; curses draws them as characters only in such a locale,
    // so a session without one gets the C library's. Only the character type is taken:
    // numbers stay formatted without the locale.
    std::setlocale(LC_CTYPE, "");
    if (std::string(nl_langinfo(CODESET)) != "UTF-8") {
        std::setlocale(LC_CTYPE, "C.UTF-8");
    }
    state_->screen = newterm(nullptr, stdout, stdin);
    if (!state_->screen) {
        const char* term = std::getenv("TERM");
        throw std::runtime_error(std::string("cannot drive the terminal (TERM=") +
                                 (term ? term : "") + "); use --plain");
    }
    cbreak(); // Ctrl-C still interrupts, as everywhere else in the host
    noecho();
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    curs_set(0);
    if (has_colors()) {
        start_color();
        use_default_colors();
        init_pair(kBadPair, COLOR_RED, -1);
        init_pair(kNotePair, COLOR_CYAN, -1);
        state_->colours = true;
    }
}

LiveTerminal::~LiveTerminal() {
    endwin();
    delscreen(state_->screen);
}

std::size_t LiveTerminal::Width() const {
    const int width = getmaxx(stdscr);
    return width > 0 ? static_cast<std::size_t>(width) : 0;
}

std::size_t LiveTerminal::Height() const {
    const int height = getmaxy(stdscr);
    return height > 0 ? static_cast<std::size_t>(height) : 0;
}

LiveKey LiveTerminal::Next() {
    switch (wgetch(stdscr)) {
    case ERR:
        return {};
    case KEY_RESIZE:
        return {LiveInput::Resized};
    case 'q':
    case 'Q':
        return {LiveInput::Quit};
    case KEY_UP:
    case 'k':
        return {LiveInput::Scroll, ScrollKey::Up};
    case KEY_DOWN:
    case 'j':
        return {LiveInput::Scroll, ScrollKey::Down};
    case KEY_PPAGE:
        return {LiveInput::Scroll, ScrollKey::PageUp};
    case KEY_NPAGE:
    case ' ':
        return {LiveInput::Scroll, ScrollKey::PageDown};
    case KEY_HOME:
    case 'g':
        return {LiveInput::Scroll, ScrollKey::Home};
    case KEY_END:
    case 'G':
        return {LiveInput::Scroll, ScrollKey::End};
    default:
        return {LiveInput::Ignored};
    }
}

void LiveTerminal::Draw(const std::vector<ScreenLine>& lines) {
    werase(stdscr);
    int row = 0;
    for (const ScreenLine& line : lines) {
        const chtype attributes = ToneAttributes(line.tone, state_->colours);
        wattrset(stdscr, static_cast<int>(attributes));
        // The bottom right cell cannot be written without scrolling; curses says so and
        // leaves the rest in place, which is what the view wants.
        mvwaddstr(stdscr, row++, 0, line.text.c_str());
    }
    wattrset(stdscr, A_NORMAL);
    wrefresh(stdscr);
}

} // namespace vemox::host
