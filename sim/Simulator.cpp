#include "sim/Simulator.h"

#include <algorithm>

namespace vemox::sim {

Simulator::Simulator(const SimConfig& config)
    : line_(config.line), echo_(config.line.echo), timing_(config.timing), faults_(config.faults) {}

void Simulator::Receive(const std::uint8_t* data, std::size_t size, SimTime now) {
    if (echo_) {
        // The host's own bytes are on the wire as it sends them: ahead of anything still due.
        auto at = std::find_if(pending_.begin(), pending_.end(),
                               [now](const Due& due) { return due.due > now; });
        for (std::size_t i = 0; i < size; ++i) {
            at = pending_.insert(at, Due{now, data[i]}) + 1;
        }
    }
    for (auto& body : parser_.Feed(data, size)) {
        Answer(std::move(body), now);
    }
}

void Simulator::Answer(Bytes request, SimTime now) {
    Exchange exchange;
    exchange.at = now;
    exchange.request = std::move(request);

    if (auto answer = line_.Respond(exchange.request, now, &exchange.silence)) {
        exchange.number = ++answered_;
        exchange.controller = answer->controller;
        exchange.fault = faults_.Pick(exchange.number);
        // A controller does not talk over a reply still on the line.
        SimTime start = std::max(now + timing_.turnaround, lineFree_);
        bool first = true;
        for (auto& burst : faults_.Shape(*answer, line_, exchange.fault)) {
            start += burst.delay;
            // A byte is due once its stop bit has left the line, as a receiver would have it.
            for (std::size_t i = 0; i < burst.bytes.size(); ++i) {
                pending_.push_back({timing_.ByteDue(start, i + 1), burst.bytes[i]});
            }
            if (first) {
                exchange.firstDue = start;
                first = false;
            }
            start = timing_.ByteDue(start, burst.bytes.size());
            exchange.sent.insert(exchange.sent.end(), burst.bytes.begin(), burst.bytes.end());
        }
        if (!first) {
            lineFree_ = start;
        }
    }
    if (observer_) {
        observer_(exchange);
    }
}

Bytes Simulator::TakeDue(SimTime now) {
    Bytes out;
    while (!pending_.empty() && pending_.front().due <= now) {
        out.push_back(pending_.front().byte);
        pending_.pop_front();
    }
    return out;
}

} // namespace vemox::sim
