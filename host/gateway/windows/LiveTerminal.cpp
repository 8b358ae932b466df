// The live view in a Windows console: its virtual-terminal mode gives the alternate screen
// and in-place redraws; the size is read from the console and compared before each draw.
#include "host/gateway/LiveTerminal.h"

#include <conio.h>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <windows.h>

namespace vemox::host {
namespace {

constexpr int kExtendedKey = 0xE0; // _getch's prefix of arrows and paging keys
constexpr int kFunctionKey = 0;

struct ConsoleSize {
    std::size_t width = 80;
    std::size_t height = 25;
};

ConsoleSize ReadSize(HANDLE output) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(output, &info)) {
        return {};
    }
    return {static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1),
            static_cast<std::size_t>(info.srWindow.Bottom - info.srWindow.Top + 1)};
}

LiveKey ExtendedKey(int code) {
    switch (code) {
    case 'H':
        return {LiveInput::Scroll, ScrollKey::Up};
    case 'P':
        return {LiveInput::Scroll, ScrollKey::Down};
    case 'I':
        return {LiveInput::Scroll, ScrollKey::PageUp};
    case 'Q':
        return {LiveInput::Scroll, ScrollKey::PageDown};
    case 'G':
        return {LiveInput::Scroll, ScrollKey::Home};
    case 'O':
        return {LiveInput::Scroll, ScrollKey::End};
    default:
        return {LiveInput::Ignored};
    }
}

} // namespace

struct LiveTerminal::State {
    HANDLE output = INVALID_HANDLE_VALUE;
    DWORD mode = 0;
    ConsoleSize size;
};

LiveTerminal::LiveTerminal() : state_(std::make_unique<State>()) {
    state_->output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!GetConsoleMode(state_->output, &state_->mode) ||
        !SetConsoleMode(state_->output, state_->mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
        throw std::runtime_error("this console shows no live view; use --plain");
    }
    state_->size = ReadSize(state_->output);
    std::fputs("\x1b[?1049h\x1b[?25l", stdout); // the alternate screen, no cursor
    std::fflush(stdout);
}

LiveTerminal::~LiveTerminal() {
    std::fputs("\x1b[0m\x1b[?25h\x1b[?1049l", stdout);
    std::fflush(stdout);
    SetConsoleMode(state_->output, state_->mode);
}

std::size_t LiveTerminal::Width() const {
    return state_->size.width;
}

std::size_t LiveTerminal::Height() const {
    return state_->size.height;
}

LiveKey LiveTerminal::Next() {
    const ConsoleSize size = ReadSize(state_->output);
    if (size.width != state_->size.width || size.height != state_->size.height) {
        state_->size = size;
        return {LiveInput::Resized};
    }
    if (!_kbhit()) {
        return {};
    }
    const int key = _getch();
    if (key == kExtendedKey || key == kFunctionKey) {
        return ExtendedKey(_getch());
    }
    switch (key) {
    case 'q':
    case 'Q':
        return {LiveInput::Quit};
    case 'k':
        return {LiveInput::Scroll, ScrollKey::Up};
    case 'j':
        return {LiveInput::Scroll, ScrollKey::Down};
    case ' ':
        return {LiveInput::Scroll, ScrollKey::PageDown};
    default:
        return {LiveInput::Ignored};
    }
}

void LiveTerminal::Draw(const std::vector<ScreenLine>& lines) {
    std::string screen = "\x1b[H";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const char* tone = lines[i].tone == LineTone::Title     ? "\x1b[1m"
                           : lines[i].tone == LineTone::Heading ? "\x1b[7m"
                           : lines[i].tone == LineTone::Bad     ? "\x1b[31m"
                           : lines[i].tone == LineTone::Note    ? "\x1b[36m"
                                                                : "";
        // Each line clears what is left of the old one; no newline after the last, so that
        // the screen never scrolls.
        screen += std::string(tone) + lines[i].text + "\x1b[0m\x1b[K";
        if (i + 1 < lines.size()) {
            screen += "\r\n";
        }
    }
    screen += "\x1b[J";
    std::fputs(screen.c_str(), stdout);
    std::fflush(stdout);
}

} // namespace vemox::host
