#include "host/session/WriteLimits.h"

#include "platform/VariantConvert.h"
#include "protocol/Codec.h"
#include "protocol/Reply.h"

#include <cmath>

namespace vemox::host {
namespace {

// "0 .. 9999.99" for two decimal places.
std::string LevelRange(int decimals) {
    std::string digits = std::to_string(kLevelRawMax);
    if (decimals > 0) {
        const auto places = static_cast<std::size_t>(decimals);
        if (digits.size() <= places) {
            digits.insert(0, places + 1 - digits.size(), '0');
        }
        digits.insert(digits.size() - places, ".");
    }
    return "0 .. " + digits;
}

// Judged by the very conversions the driver makes when it builds the write, so that host
// and driver draw the line at the same value.
std::optional<std::string> RefusedLevel(const VARIANT& value, int decimals) {
    const double level = platform::VariantToDouble(value);
    const std::string range = LevelRange(decimals) + " (" + std::to_string(decimals) +
                              (decimals == 1 ? " decimal place)" : " decimal places)");
    if (!std::isfinite(level)) {
        return "not a finite number; a level lies in " + range;
    }
    try {
        ScaleLevel(level, decimals);
    } catch (const platform::ConversionError&) {
        return "outside " + range;
    }
    return std::nullopt;
}

std::optional<std::string> RefusedDosing(const VARIANT& value) {
    try {
        DosingByte(value);
    } catch (const platform::ConversionError&) {
        return "outside 0 .. 255 (or true, false)";
    }
    return std::nullopt;
}

} // namespace

std::optional<std::uint8_t> NetWeightStatus(const std::vector<std::uint8_t>& bytes,
                                            const Addressing& addressing, bool withCrc) {
    RequestBody command;
    command.command = kCmdReadNet;
    std::vector<std::uint8_t> request = FrameRequest(addressing, command, withCrc);
    std::uint8_t* requestBody = request.data();
    std::int32_t requestLength = static_cast<std::int32_t>(request.size());
    ExtractFrame(requestBody, requestLength);

    std::vector<std::uint8_t> received = bytes;
    std::uint8_t* reply = received.data();
    std::int32_t length = static_cast<std::int32_t>(received.size());
    ExtractFrame(reply, length);
    if (withCrc && (length <= 0 || CalcCRC(reply, length, 0) != 0)) {
        return std::nullopt;
    }
    const std::uint8_t addressSize = addressing.network ? kNetworkAddressSize : kSerialAddressSize;
    const RequestView view{requestBody, requestLength, addressSize, withCrc};
    ReplyValues values;
    if (CheckEcho(view, reply, length) != EchoResult::Match ||
        !ParseReply(kCmdReadNet, reply, length, addressSize, withCrc, values)) {
        return std::nullopt;
    }
    return values.status;
}

int DecimalsOf(std::uint8_t status) noexcept {
    return status & kDecimalsMask;
}

std::optional<std::string> RefusedWrite(Operation operation, const VARIANT& value, int decimals) {
    switch (operation) {
    case Operation::WeightPoints:
        return RefusedLevel(value, decimals);
    case Operation::DosingControl:
        return RefusedDosing(value);
    default:
        return std::nullopt; // outputs: any value other than 0 switches on
    }
}

} // namespace vemox::host
