// The simulator without I/O: request bytes go in with the moment they arrived, reply bytes
// come out with the moment each is due on the line. The pty server and the tests both drive
// it; neither the model nor the faults ever look at a wall clock.
#pragma once

#include "sim/Faults.h"
#include "sim/Frame.h"
#include "sim/Line.h"
#include "sim/Timing.h"

#include <deque>
#include <functional>

namespace vemox::sim {

struct SimConfig {
    LineConfig line;
    LineTiming timing;
    FaultConfig faults;
};

// What happened to one request frame, for logging and tests.
struct Exchange {
    SimTime at{0};            // arrival of the request's last byte
    Bytes request;            // unstuffed request body
    std::uint64_t number = 0; // answered exchange number, 0 when nobody answered
    std::optional<std::size_t> controller;
    Silence silence = Silence::None;
    Fault fault;
    Bytes sent;          // every reply byte that goes out, junk included
    SimTime firstDue{0}; // the reply's first start bit
};

class Simulator {
public:
    explicit Simulator(const SimConfig& config);

    // Bytes read from the line at `now`; every request they complete is answered.
    void Receive(const std::uint8_t* data, std::size_t size, SimTime now);

    bool HasOutput() const { return !pending_.empty(); }

    // When the next reply byte is due; nothing while no reply is under way.
    std::optional<SimTime> NextDue() const {
        return pending_.empty() ? std::nullopt : std::optional<SimTime>(pending_.front().due);
    }

    // Removes and answers the reply bytes due at or before `now`, in order.
    Bytes TakeDue(SimTime now);

    void SetObserver(std::function<void(const Exchange&)> observer) {
        observer_ = std::move(observer);
    }

    Line& line() { return line_; }
    const LineTiming& timing() const { return timing_; }
    std::uint64_t answered() const { return answered_; }

private:
    struct Due {
        SimTime due;
        std::uint8_t byte;
    };

    void Answer(Bytes request, SimTime now);

    Line line_;
    bool echo_;
    LineTiming timing_;
    FaultPlan faults_;
    FrameParser parser_;
    std::deque<Due> pending_;
    SimTime lineFree_{0}; // when the last scheduled reply byte has left the line
    std::uint64_t answered_ = 0;
    std::function<void(const Exchange&)> observer_;
};

} // namespace vemox::sim
