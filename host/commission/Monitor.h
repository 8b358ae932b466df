// A line that another master polls, heard without ever writing to it: both directions decoded
// (requests, their replies and how long each took, echoes, stray frames, noise, checksum errors,
// requests that got no reply), and a tally per controller for the summary.
#pragma once

#include "host/commission/FrameText.h"
#include "host/commission/ReplyTimes.h"
#include "host/line/HostClock.h"
#include "host/line/ReplyAssembler.h"
#include "host/line/SerialLine.h"

#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <utility>

namespace vemox::host {

class LineMonitor {
public:
    using Sink = std::function<void(const std::string&)>;
    // `gapMs`: a quiet line this long ends a frame that has no end marker. `baud` tells an
    // echo (the request back at once, as it goes out) from the master's repeat of a request.
    LineMonitor(bool withCrc, std::uint32_t baud, std::int64_t gapMs, Sink sink);

    // Bytes heard at `nowMs`; every frame they complete is judged at once.
    void Feed(const std::uint8_t* data, std::size_t size, std::int64_t nowMs);
    // Judges a partial frame once the line has been quiet for the gap.
    void Tick(std::int64_t nowMs);
    // The tally per controller, as a table.
    std::string Summary() const;

private:
    struct Tally {
        int requests = 0;
        int good = 0;
        int checksumErrors = 0;
        int wrongReplies = 0;
        int unanswered = 0;
        ReplyTimes times; // of the good replies
    };
    struct Pending {
        Bytes body;
        std::string asked;
        std::int64_t atMs = 0;
        bool answered = false;
        bool echoed = false;
    };
    using Who = std::pair<bool, std::uint32_t>; // serial addressing, address or serial number

    void Judge(const LineFrame& frame, std::int64_t nowMs);
    bool TakeAsReply(const LineFrame& frame, std::int64_t nowMs);
    void Unanswered(const std::string& why, std::int64_t nowMs);
    Tally& TallyOf(const Bytes& body);

    bool withCrc_;
    std::int64_t echoWindowMs_;
    ReplyAssembler assembler_;
    Sink sink_;
    std::optional<Pending> pending_;
    std::map<Who, Tally> tallies_;
    int stray_ = 0;
    int noise_ = 0;
};

// Listens on `line` until `stop` answers true, feeding `monitor`; never writes to the line.
void Listen(SerialLine& line, const HostClock& clock, LineMonitor& monitor,
            const std::function<bool()>& stop);

} // namespace vemox::host
