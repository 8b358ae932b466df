#include "host/line/StandardError.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace vemox::host {
namespace {

constexpr char kEscape = '\x1b';

// The rest of a terminal control sequence after ESC: "[" parameters and one final letter.
std::size_t ControlSequenceEnd(std::string_view text, std::size_t escape) {
    std::size_t end = escape + 1;
    if (end < text.size() && text[end] == '[') {
        ++end;
        while (end < text.size() && !(text[end] >= '@' && text[end] <= '~')) {
            ++end;
        }
    }
    return std::min(end + 1, text.size());
}

} // namespace

std::string JournalText(Priority priority, std::string_view text) {
    const std::string prefix = "<" + std::to_string(static_cast<int>(priority)) + ">";
    std::string out = prefix;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == kEscape) {
            i = ControlSequenceEnd(text, i);
            continue;
        }
        out += text[i];
        if (text[i] == '\n' && i + 1 < text.size()) {
            out += prefix;
        }
        ++i;
    }
    return out;
}

void ErrorLine(Priority priority, std::string_view text) {
    static const bool journal = StderrIsJournal();
    std::string line = journal ? JournalText(priority, text) : std::string(text);
    if (line.empty() || line.back() != '\n') {
        line += '\n';
    }
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

} // namespace vemox::host
