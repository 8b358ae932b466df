// The host's own exchanges, decoded as they happen (`--trace`): each request as it is written
// and each reply as it is delivered, timed and in words beside the raw bytes, with echoes,
// stray frames, checksum errors and time-outs named. The driver's own log lines are untouched:
// this is what the host saw on its lines.
#pragma once

#include "host/commission/FrameText.h"
#include "host/line/LineObserver.h"
#include "host/session/DriverSession.h"

#include <functional>
#include <map>
#include <string>

namespace vemox::host {

class LineTrace final : public LineObserver {
public:
    using Sink = std::function<void(const std::string&)>;
    explicit LineTrace(Sink sink) : sink_(std::move(sink)) {}

    // Whether the frames carry a checksum (the driver's CalcCRC setting).
    void SetChecksum(bool on) noexcept { withCrc_ = on; }

    void Written(TComPortNum port, const std::uint8_t* data, std::size_t size, bool accepted,
                 std::int64_t nowMs) override;
    void Delivered(TComPortNum port, const std::vector<std::uint8_t>& bytes,
                   std::int64_t nowMs) override;
    void Released(TComPortNum port, std::int64_t nowMs) override;

private:
    struct PortTrace {
        Bytes request; // the body of the last request written
        std::string asked;
        bool awaiting = false; // the request awaits its reply
        std::int64_t sentMs = 0;
        int attempt = 1;
        bool answered = false; // a frame came that is taken as the answer
        bool retry = false;    // the last attempt failed: the same request next is a repeat
    };

    Sink sink_;
    bool withCrc_ = true;
    std::map<TComPortNum, PortTrace> ports_;
};

// Shows the session's lines to the trace, when there is one.
void TraceLines(DriverSession& session, LineTrace* trace);

} // namespace vemox::host
