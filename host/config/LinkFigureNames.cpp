#include "host/config/LinkFigureNames.h"

#include "platform/Text.h"

#include <string>

namespace vemox::host {
namespace {

// By LinkFigure.
constexpr std::string_view kKeys[kLinkFigureCount] = {
    "link",         "replies",        "no_answer",       "checksum_errors", "mismatches",
    "repeats",      "refused_writes", "good_writes",     "failed_writes",   "last_reply_ms",
    "min_reply_ms", "max_reply_ms",   "last_good_reply", "reset",
};

} // namespace

std::string_view LinkFigureKey(LinkFigure figure) noexcept {
    return kKeys[static_cast<std::size_t>(figure)];
}

std::optional<LinkFigure> LinkFigureByName(std::string_view name) {
    for (int i = 0; i < kLinkFigureCount; ++i) {
        if (kKeys[i] == name ||
            FindLinkFigure(i)->caption == platform::Utf8ToUtf16(std::string(name))) {
            return static_cast<LinkFigure>(i);
        }
    }
    return std::nullopt;
}

} // namespace vemox::host
