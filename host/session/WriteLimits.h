// The gate every write passes, whoever asks for it (the command line, the configuration, a
// gateway): what each item takes, so that the host refuses a value before anything is sent
// instead of letting the driver make something else of it. An output or a Boolean is on or
// off and nothing in between; a weight-point level is at most six decimal digits once scaled
// by the controller's decimal places; dosing control is one byte.
#pragma once

#include "contract/Operations.h"
#include "host/config/HostConfig.h"
#include "platform/Com.h"
#include "protocol/Request.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace vemox::host {

// The weight status byte (decimal places in bits 0..2) of a net weight reply, as received,
// from the controller so addressed; nothing when `bytes` are not such a reply.
std::optional<std::uint8_t> NetWeightStatus(const std::vector<std::uint8_t>& bytes,
                                            const Addressing& addressing, bool withCrc);

int DecimalsOf(std::uint8_t status) noexcept;

// A value as asked for: the operator's words ("on", "TRUE", "2500.5") or a protocol's number.
using AskedValue = std::variant<std::string, double>;

// What passed the gate: the value to hand the driver, or why nothing may be written.
struct GateAnswer {
    std::optional<platform::Variant> value;
    std::string refusal; // e.g. "not a finite number", "outside 0 .. 9999.99 (2 decimal places)"
};

// Whether the words are a value at all: on, off, true, false (any case) or a number.
bool IsValueText(const std::string& text);

// The one judgement of a write of `asked` to `item`. A weight-point level's range follows
// the controller's `decimals`; without them everything but that range is judged, so that a
// value no controller takes is refused before the controller is asked for its places.
GateAnswer GateWrite(const ItemConfig& item, const AskedValue& asked,
                     std::optional<int> decimals = std::nullopt);

} // namespace vemox::host
