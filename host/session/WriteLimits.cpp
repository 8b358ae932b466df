#include "host/session/WriteLimits.h"

#include "platform/Text.h"
#include "platform/VariantConvert.h"
#include "protocol/Codec.h"
#include "protocol/Reply.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

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

constexpr char kNotFinite[] = "not a finite number";
constexpr char kOnOff[] = "takes only 0, 1, true, false, on or off";
constexpr char kDosingRange[] = "0 .. 255 (or true, false)";

GateAnswer Refuse(std::string why) {
    return {std::nullopt, std::move(why)};
}

GateAnswer Pass(platform::Variant value) {
    return {std::move(value), {}};
}

// The operator's words, read as on or off, or as a number; neither for anything else.
struct Asked {
    std::optional<bool> onOff;
    std::optional<double> number;
};

Asked Read(const AskedValue& asked) {
    if (const double* number = std::get_if<double>(&asked)) {
        return {std::nullopt, *number};
    }
    std::string word = std::get<std::string>(asked);
    std::transform(word.begin(), word.end(), word.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (word == "true" || word == "on") {
        return {true, std::nullopt};
    }
    if (word == "false" || word == "off") {
        return {false, std::nullopt};
    }
    char* end = nullptr;
    const double number = std::strtod(word.c_str(), &end);
    if (word.empty() || std::isspace(static_cast<unsigned char>(word.front())) ||
        end != word.c_str() + word.size()) {
        return {};
    }
    return {std::nullopt, number};
}

// Judged by the very conversion the driver makes when it builds the write, so that host and
// driver draw the line at the same value.
GateAnswer Level(double level, std::optional<int> decimals) {
    if (decimals) {
        try {
            ScaleLevel(level, *decimals);
        } catch (const platform::ConversionError&) {
            return Refuse("outside " + LevelRange(*decimals) + " (" + std::to_string(*decimals) +
                          (*decimals == 1 ? " decimal place)" : " decimal places)"));
        }
    }
    return Pass(platform::Variant::Double(level));
}

GateAnswer Dosing(const Asked& asked) {
    if (asked.onOff) {
        return Pass(
            platform::Variant::Bool(*asked.onOff)); // all bits or none, as the driver has it
    }
    const double number = *asked.number;
    if (number != std::trunc(number)) {
        return Refuse(std::string("not a whole number; dosing takes ") + kDosingRange);
    }
    if (number < 0 || number > kDosingMax) {
        return Refuse(std::string("outside ") + kDosingRange);
    }
    return Pass(platform::Variant::Int32(static_cast<std::int32_t>(number)));
}

GateAnswer OnOff(const Asked& asked) {
    if (asked.onOff) {
        return Pass(platform::Variant::Bool(*asked.onOff));
    }
    if (*asked.number == 0 || *asked.number == 1) {
        return Pass(platform::Variant::Bool(*asked.number == 1));
    }
    return Refuse(kOnOff);
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

bool IsValueText(const std::string& text) {
    const Asked asked = Read(text);
    return asked.onOff || asked.number;
}

GateAnswer GateWrite(const ItemConfig& item, const AskedValue& asked, std::optional<int> decimals) {
    const Operation operation = item.operation->operation;
    if (!item.Writable()) {
        const LinkFigureInfo* figure =
            operation == Operation::LinkDiagnostics ? FindLinkFigure(item.parameter) : nullptr;
        return Refuse(platform::Utf16ToUtf8(figure ? figure->caption : item.operation->caption) +
                      " cannot be written");
    }
    const Asked value = Read(asked);
    if (!value.onOff && !value.number) {
        return Refuse("'" + std::get<std::string>(asked) +
                      "' is not a value: give true, false, on, off or a number");
    }
    if (value.number && !std::isfinite(*value.number)) {
        return Refuse(kNotFinite);
    }
    switch (operation) {
    case Operation::WeightPoints:
        if (value.onOff) {
            return Refuse("a level is a number, not on or off");
        }
        return Level(*value.number, decimals);
    case Operation::DosingControl:
        return Dosing(value);
    default: // outputs and the reset figure
        return OnOff(value);
    }
}

} // namespace vemox::host
