#include "host/WriteLimits.h"

#include "platform/VariantConvert.h"
#include "protocol/Codec.h"
#include "protocol/Reply.h"

#include <cmath>

namespace vemox::host {
namespace {

constexpr std::uint32_t kMaxRawLevel = 999999; // three bytes of packed BCD
// Far above any level: values beyond it are refused before they are scaled to 32 bits.
constexpr double kBeyondAnyLevel = 1e7;
constexpr double kMaxDosing = 255;

// "0 .. 9999.99" for two decimal places.
std::string LevelRange(int decimals) {
    std::string digits = std::to_string(kMaxRawLevel);
    if (decimals > 0) {
        const auto places = static_cast<std::size_t>(decimals);
        if (digits.size() <= places) {
            digits.insert(0, places + 1 - digits.size(), '0');
        }
        digits.insert(digits.size() - places, ".");
    }
    return "0 .. " + digits;
}

std::optional<std::string> RefusedLevel(const VARIANT& value, int decimals) {
    const double level = platform::VariantToDouble(value);
    const std::string range = LevelRange(decimals) + " (" + std::to_string(decimals) +
                              (decimals == 1 ? " decimal place)" : " decimal places)");
    if (!std::isfinite(level)) {
        return "not a finite number; a level lies in " + range;
    }
    // Scaled as the driver scales it, so that both draw the line at the same value.
    if (level < 0 || level * std::pow(10.0, decimals) >= kBeyondAnyLevel ||
        ScaleLevel(level, decimals) > kMaxRawLevel) {
        return "outside " + range;
    }
    return std::nullopt;
}

std::optional<std::string> RefusedDosing(const VARIANT& value) {
    if (value.vt == VT_BOOL) {
        return std::nullopt; // true goes out as FF, false as 00
    }
    const double dosing = platform::VariantToDouble(value);
    // The driver rounds to the nearest integer, halves to the even one, as nearbyint does.
    if (!std::isfinite(dosing) || std::nearbyint(dosing) < 0 ||
        std::nearbyint(dosing) > kMaxDosing) {
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
