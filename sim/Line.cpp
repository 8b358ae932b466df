#include "sim/Line.h"

#include "sim/Crc8.h"

#include <set>

namespace vemox::sim {

namespace {
constexpr std::uint8_t kSerialAddressing = 0x00;
constexpr std::size_t kSerialSection = 4;
} // namespace

std::string_view SilenceName(Silence silence) {
    switch (silence) {
    case Silence::BadFrame:
        return "bad frame";
    case Silence::Nobody:
        return "no such controller";
    case Silence::NotUnderstood:
        return "not understood";
    default:
        return "answered";
    }
}

std::optional<std::string> CheckLine(const LineConfig& line) {
    if (line.controllers.empty()) {
        return "the line has no controller";
    }
    std::set<int> addresses;
    std::set<std::uint32_t> serials;
    for (const auto& c : line.controllers) {
        const std::string who = "controller " + std::to_string(c.address);
        if (c.address < kMinAddress || c.address > kMaxAddress) {
            return "address " + std::to_string(c.address) + " is outside 1..159";
        }
        if (c.serial > kMaxSerial) {
            return who + ": serial number " + std::to_string(c.serial) + " is outside 0..999999";
        }
        if (c.decimals > 7) {
            return who + ": decimal places must be 0..7";
        }
        if (c.outputBytes != 1 && c.outputBytes != 2) {
            return who + ": the output mask is 1 or 2 bytes";
        }
        for (const auto& p : c.points) {
            if (p.low > kMaxWeight || p.high > kMaxWeight) {
                return who + ": weight point levels are at most 999999";
            }
        }
        for (const auto value : c.counters) {
            if (value >= kCounterModulus) {
                return who + ": counters are at most 9999999999";
            }
        }
        if (!addresses.insert(c.address).second) {
            return "two controllers have the address " + std::to_string(c.address);
        }
        if (!serials.insert(c.serial).second) {
            return "two controllers have the serial number " + std::to_string(c.serial);
        }
    }
    return std::nullopt;
}

Line::Line(const LineConfig& config) : checksum_(config.checksum) {
    controllers_.reserve(config.controllers.size());
    for (const auto& c : config.controllers) {
        controllers_.emplace_back(c);
    }
}

void Line::Seal(Bytes& body) const {
    if (checksum_) {
        body.push_back(Crc8(body));
    }
}

std::optional<Answer> Line::Respond(const Bytes& request, SimTime now, Silence* why) {
    Silence ignored = Silence::None;
    Silence& silence = why != nullptr ? *why : ignored;
    silence = Silence::BadFrame;
    Bytes body = request;
    if (checksum_) {
        if (body.size() < 2 || Crc8(body) != 0) {
            return std::nullopt;
        }
        body.pop_back();
    }
    const std::size_t section = !body.empty() && body[0] == kSerialAddressing ? kSerialSection : 1;
    if (body.size() < section + 1) {
        return std::nullopt;
    }

    std::optional<std::size_t> found;
    const std::uint32_t serial =
        section == 1 ? 0 : (std::uint32_t{body[1]} << 16) | (std::uint32_t{body[2]} << 8) | body[3];
    for (std::size_t i = 0; i < controllers_.size() && !found; ++i) {
        const auto& c = controllers_[i].config();
        if (section == 1 ? c.address == body[0] : c.serial == serial) {
            found = i;
        }
    }
    if (!found) {
        silence = Silence::Nobody;
        return std::nullopt;
    }

    const std::uint8_t command = body[section];
    const Bytes data(body.begin() + static_cast<std::ptrdiff_t>(section) + 1, body.end());
    auto values = controllers_[*found].Handle(command, data, now);
    if (!values) {
        silence = Silence::NotUnderstood;
        return std::nullopt;
    }
    silence = Silence::None;
    Answer answer;
    answer.controller = *found;
    answer.addressSize = section;
    answer.body.assign(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(section) + 1);
    answer.body.insert(answer.body.end(), values->begin(), values->end());
    Seal(answer.body);
    return answer;
}

} // namespace vemox::sim
