#include "driver/LinkFigures.h"

#include "platform/Clock.h"
#include "platform/Com.h"
#include "platform/DateTime.h"

namespace vemox {

void CountGoodReply(TLinkFigures& link, std::int64_t replyMs) noexcept {
    link.LinkUp = true;
    link.LastReplyMs = replyMs;
    link.MinReplyMs = link.Replies == 0 || replyMs < link.MinReplyMs ? replyMs : link.MinReplyMs;
    link.MaxReplyMs = link.Replies == 0 || replyMs > link.MaxReplyMs ? replyMs : link.MaxReplyMs;
    ++link.Replies;
    link.LastGoodReply = platform::JoinDateTime(
        platform::FileTimeTicksToCivil(platform::FileTimeTicks(platform::UtcNow())));
}

void CountLinkDown(TLinkFigures& link, bool unanswered) noexcept {
    link.LinkUp = false;
    if (unanswered) {
        ++link.NoAnswer;
    }
}

void ReadLinkFigure(const TLinkFigures& link, LinkFigure figure, VARIANT& out) {
    platform::VariantRelease(out);
    const auto number = [&out](double value) {
        out.vt = VT_R8;
        out.dblVal = value;
    };
    switch (figure) {
    case LinkFigure::LinkUp:
    case LinkFigure::Reset:
        out.vt = VT_BOOL;
        out.boolVal = figure == LinkFigure::LinkUp && link.LinkUp ? VARIANT_TRUE : VARIANT_FALSE;
        return;
    case LinkFigure::LastGoodReply:
        out.vt = VT_DATE;
        out.date = link.LastGoodReply;
        return;
    case LinkFigure::Replies:
        return number(static_cast<double>(link.Replies));
    case LinkFigure::NoAnswer:
        return number(static_cast<double>(link.NoAnswer));
    case LinkFigure::ChecksumErrors:
        return number(static_cast<double>(link.ChecksumErrors));
    case LinkFigure::Mismatches:
        return number(static_cast<double>(link.Mismatches));
    case LinkFigure::Repeats:
        return number(static_cast<double>(link.Repeats));
    case LinkFigure::RefusedWrites:
        return number(static_cast<double>(link.RefusedWrites));
    case LinkFigure::GoodWrites:
        return number(static_cast<double>(link.GoodWrites));
    case LinkFigure::FailedWrites:
        return number(static_cast<double>(link.FailedWrites));
    case LinkFigure::LastReplyMs:
        return number(static_cast<double>(link.LastReplyMs));
    case LinkFigure::MinReplyMs:
        return number(static_cast<double>(link.MinReplyMs));
    case LinkFigure::MaxReplyMs:
        return number(static_cast<double>(link.MaxReplyMs));
    }
}

} // namespace vemox
