// What a controller takes in a write, so that the host refuses a value before anything is
// sent instead of letting it reach the line truncated: a weight-point level is at most six
// decimal digits once scaled by the controller's decimal places, dosing control one byte.
#pragma once

#include "contract/Operations.h"
#include "protocol/Request.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vemox::host {

// The weight status byte (decimal places in bits 0..2) of a net weight reply, as received,
// from the controller so addressed; nothing when `bytes` are not such a reply.
std::optional<std::uint8_t> NetWeightStatus(const std::vector<std::uint8_t>& bytes,
                                            const Addressing& addressing, bool withCrc);

int DecimalsOf(std::uint8_t status) noexcept;

// Why `value` cannot be written to an item of `operation` on a controller with `decimals`
// places, naming the range it allows (e.g. "outside 0 .. 9999.99"); nothing when it can.
// Throws platform::ConversionError for a value that is no number at all.
std::optional<std::string> RefusedWrite(Operation operation, const VARIANT& value, int decimals);

} // namespace vemox::host
