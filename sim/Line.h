// The controllers that share one serial line. Each listens to its network address and to its
// serial number; the checksum is a setting of the whole line, for both directions.
#pragma once

#include "sim/Controller.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vemox::sim {

struct LineConfig {
    bool checksum = true;
    // Every request comes back to the host before any reply, as on a two-wire RS-485
    // adapter that hears its own transmitter.
    bool echo = false;
    std::vector<ControllerConfig> controllers;
};

// Refuses a line the model cannot play: numbers out of range, or two controllers that would
// both answer one request. Answers the first problem found, or nothing.
std::optional<std::string> CheckLine(const LineConfig& line);

// Why a request got no reply.
enum class Silence {
    None,
    BadFrame,      // checksum wrong or missing, or too short to hold an address and a command
    Nobody,        // no controller of the line has that address or serial number
    NotUnderstood, // unknown command, wrong length or a number out of range
};

std::string_view SilenceName(Silence silence);

struct Answer {
    std::size_t controller = 0;  // index in the line
    std::size_t addressSize = 1; // 1 for network addressing, 4 for serial addressing
    Bytes body;                  // the reply body, checksum included while the line has one
};

class Line {
public:
    explicit Line(const LineConfig& config);

    bool checksum() const { return checksum_; }
    std::size_t size() const { return controllers_.size(); }
    Controller& controller(std::size_t index) { return controllers_.at(index); }
    const Controller& controller(std::size_t index) const { return controllers_.at(index); }

    // The reply to one request body (unstuffed, checksum included while the line has one), or
    // nothing: a bad checksum, an address nobody has, or a request nobody understands get
    // silence, as on a real line.
    // `why`, when given, receives the reason for silence.
    std::optional<Answer> Respond(const Bytes& request, SimTime now, Silence* why = nullptr);

    // Appends the line's checksum to a body when the line has one.
    void Seal(Bytes& body) const;

private:
    bool checksum_;
    std::vector<Controller> controllers_;
};

} // namespace vemox::sim
