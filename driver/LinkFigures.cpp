#include "driver/LinkFigures.h"

#include "driver/Process.h"
#include "platform/Com.h"
#include "platform/DateTime.h"
#include "protocol/Codec.h"

namespace vemox {

void CountGoodReply(TLinkFigures& link, double now, double sent) noexcept {
    const std::int64_t replyMs = ElapsedMs(now, sent);
    link.LinkUp = true;
    link.LastReplyMs = replyMs;
    link.MinReplyMs = link.Replies == 0 || replyMs < link.MinReplyMs ? replyMs : link.MinReplyMs;
    link.MaxReplyMs = link.Replies == 0 || replyMs > link.MaxReplyMs ? replyMs : link.MaxReplyMs;
    ++link.Replies;
    // Kept as it comes; turned into UTC only when a diagnostic item reads it.
    link.LastGoodReply = now;
}

void CountLinkDown(TLinkFigures& link, bool unanswered) noexcept {
    link.LinkUp = false;
    if (unanswered) {
        ++link.NoAnswer;
    }
}

namespace {

// The figures that are counts or times, with where each is kept.
struct Count {
    LinkFigure figure;
    std::uint64_t TLinkFigures::*count;
};
constexpr Count kCounts[] = {
    {LinkFigure::Replies, &TLinkFigures::Replies},
    {LinkFigure::NoAnswer, &TLinkFigures::NoAnswer},
    {LinkFigure::ChecksumErrors, &TLinkFigures::ChecksumErrors},
    {LinkFigure::Mismatches, &TLinkFigures::Mismatches},
    {LinkFigure::Repeats, &TLinkFigures::Repeats},
    {LinkFigure::RefusedWrites, &TLinkFigures::RefusedWrites},
    {LinkFigure::GoodWrites, &TLinkFigures::GoodWrites},
    {LinkFigure::FailedWrites, &TLinkFigures::FailedWrites},
};
struct Time {
    LinkFigure figure;
    std::int64_t TLinkFigures::*ms;
};
constexpr Time kTimes[] = {
    {LinkFigure::LastReplyMs, &TLinkFigures::LastReplyMs},
    {LinkFigure::MinReplyMs, &TLinkFigures::MinReplyMs},
    {LinkFigure::MaxReplyMs, &TLinkFigures::MaxReplyMs},
};

} // namespace

void ReadLinkFigure(const TLinkFigures& link, LinkFigure figure, VARIANT& out) {
    platform::VariantRelease(out);
    if (figure == LinkFigure::LinkUp || figure == LinkFigure::Reset) {
        out.vt = VT_BOOL;
        out.boolVal = figure == LinkFigure::LinkUp && link.LinkUp ? VARIANT_TRUE : VARIANT_FALSE;
        return;
    }
    if (figure == LinkFigure::LastGoodReply) {
        out.vt = VT_DATE;
        out.date = link.LastGoodReply == 0
                       ? 0
                       : platform::JoinDateTime(platform::FileTimeTicksToCivil(
                             platform::FileTimeTicks(DateTimeToOPCTime(link.LastGoodReply))));
        return;
    }
    out.vt = VT_R8;
    out.dblVal = 0;
    for (const Count& c : kCounts) {
        if (c.figure == figure) {
            out.dblVal = static_cast<double>(link.*c.count);
        }
    }
    for (const Time& t : kTimes) {
        if (t.figure == figure) {
            out.dblVal = static_cast<double>(link.*t.ms);
        }
    }
}

} // namespace vemox
