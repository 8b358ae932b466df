#include "host/output/Report.h"

#include "config/Encodings.h"
#include "contract/Constants.h"
#include "platform/DateTime.h"
#include "platform/Text.h"
#include "platform/VariantConvert.h"

#include <cstdio>
#include <set>
#include <sstream>

namespace vemox::host {
namespace {

std::string Hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::string NodePlace(const NodeConfig& node) {
    const std::string port = platform::Utf16ToUtf8(PortNameOf(node.portNumber));
    return node.useAddress ? port + ", address " + std::to_string(node.address)
                           : port + ", serial " + std::to_string(node.serial);
}

std::string Pad(std::string text, std::size_t width) {
    // Columns are counted in characters, not bytes: UTF-8 continuation bytes take no room.
    std::size_t shown = 0;
    for (const char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            ++shown;
        }
    }
    if (shown < width) {
        text.append(width - shown, ' ');
    }
    return text;
}

} // namespace

std::string QualityWords(std::uint16_t quality) {
    switch (quality) {
    case kQualityGood:
        return "good";
    case kQualityBad:
        return "bad";
    case kQualityUncertain:
        return "uncertain";
    case kQualityErrorInit:
        return "bad: controller not initialised";
    case kQualityNotAnswer:
        return "bad: no reply";
    case kQualityChecksum:
        return "bad: checksum error";
    case kQualityWrongReply:
        return "bad: reply does not match the request";
    default:
        break;
    }
    // The OPC quality bits: 11 good, 01 uncertain, 00 bad.
    const char* kind = (quality & 0xC0) == 0xC0   ? "good"
                       : (quality & 0xC0) == 0x40 ? "uncertain"
                                                  : "bad";
    return std::string(kind) + " (" + Hex(quality, 4) + ")";
}

std::string OutcomeText(HRESULT result) {
    switch (result) {
    case S_OK:
        return "ok";
    case kOutcomeErrorInit:
        return "controller not initialised";
    case kOutcomeNotAnswer:
        return "no reply";
    case kOutcomeChecksum:
        return "checksum error";
    case kOutcomeWrongReply:
        return "reply does not match the request";
    case E_FAIL:
        return "failed";
    default:
        return Hex(static_cast<std::uint32_t>(result), 8);
    }
}

std::string ValueText(const VARIANT& value) {
    if (value.vt == VT_EMPTY || value.vt == VT_NULL) {
        return "-";
    }
    // A negated zero weight is still zero to the operator.
    if (value.vt == VT_R8 && value.dblVal == 0.0) {
        return "0";
    }
    if (value.vt == VT_BOOL) {
        return value.boolVal ? "true" : "false";
    }
    if (value.vt == VT_DATE) { // the driver's own dates (a link's last good reply) are UTC
        return value.date == 0
                   ? "-"
                   : TimeStampText(platform::MakeFileTime(
                         platform::CivilToFileTimeTicks(platform::SplitDateTime(value.date))));
    }
    try {
        return platform::Utf16ToUtf8(platform::VariantToText(value));
    } catch (const platform::ConversionError&) {
        return "?";
    }
}

std::string TimeStampText(const FILETIME& time) {
    const std::int64_t ticks = platform::FileTimeTicks(time);
    if (ticks == 0) {
        return "-";
    }
    const platform::CivilTime t = platform::FileTimeTicksToCivil(ticks);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03dZ", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.millisecond);
    return text;
}

std::string IsoTimeText(const FILETIME& time) {
    std::string text = TimeStampText(time);
    if (const std::size_t space = text.find(' '); space != std::string::npos) {
        text[space] = 'T';
    }
    return text;
}

bool IsGood(const SessionItem& item) {
    return item.host.EverCompleted() && item.host.LastResult() == S_OK &&
           item.host.Shown().wQuality == kQualityGood;
}

std::string TableText(const std::deque<SessionItem>& items,
                      const std::vector<std::string>& trends) {
    std::ostringstream out;
    out << Pad("ITEM", 24) << Pad("OPERATION", 26) << Pad("VALUE", 12) << Pad("QUALITY", 24)
        << Pad("TIME STAMP (UTC)", 26) << "OK/FAILED  REPLIES/NONE/REPEATS"
        << (trends.empty() ? "" : "  TREND") << "\n";
    std::size_t row = 0;
    for (const SessionItem& item : items) {
        const ExchangeCounts& c = item.host.Counts();
        const std::string exchanges = std::to_string(c.answered) + "/" +
                                      std::to_string(c.unanswered) + "/" +
                                      std::to_string(c.repeats);
        const std::string quality = item.config.WriteOnly() ? "write-only"
                                    : item.host.EverCompleted()
                                        ? QualityWords(item.host.Shown().wQuality)
                                        : "waiting";
        out << Pad(item.config.FullName(), 24)
            << Pad(platform::Utf16ToUtf8(item.config.operation->caption), 26)
            << Pad(ValueText(item.host.Shown().vDataValue), 12) << Pad(quality, 24)
            << Pad(TimeStampText(item.host.Shown().ftTimeStamp), 26)
            << Pad(std::to_string(c.completed - c.failed) + "/" + std::to_string(c.failed), 11)
            << (row < trends.size() && !trends[row].empty() ? Pad(exchanges, 22) + trends[row]
                                                            : exchanges)
            << "\n";
        ++row;
    }
    return out.str();
}

std::string PlainLine(const SessionItem& item) {
    const ExchangeCounts& c = item.host.Counts();
    std::ostringstream out;
    out << TimeStampText(item.host.Shown().ftTimeStamp) << " " << item.config.FullName() << " = "
        << ValueText(item.host.Shown().vDataValue) << " ["
        << QualityWords(item.host.Shown().wQuality) << "] " << OutcomeText(item.host.LastResult())
        << "; replies " << c.answered << ", none " << c.unanswered << ", repeats " << c.repeats;
    return out.str();
}

nlohmann::json ValueJson(const VARIANT& value) {
    if (value.vt == VT_EMPTY || value.vt == VT_NULL) {
        return nullptr;
    }
    if (value.vt == VT_BOOL) {
        return value.boolVal != 0;
    }
    if (value.vt == VT_DATE) {
        return ValueText(value);
    }
    try {
        return platform::VariantToDouble(value);
    } catch (const platform::ConversionError&) {
        return ValueText(value);
    }
}

nlohmann::json ItemsJson(const std::deque<SessionItem>& items) {
    nlohmann::json list = nlohmann::json::array();
    for (const SessionItem& item : items) {
        const OPCITEMSTATE& state = item.host.Shown();
        const ExchangeCounts& c = item.host.Counts();
        nlohmann::json entry = {
            {"name", item.config.FullName()},
            {"node", item.config.node},
            {"operation", platform::Utf16ToUtf8(item.config.operation->caption)},
            {"quality", state.wQuality},
            {"quality_text", item.host.EverCompleted() ? QualityWords(state.wQuality) : "waiting"},
            {"result",
             item.host.EverCompleted() ? OutcomeText(item.host.LastResult()) : "no outcome"},
            {"good", IsGood(item)},
            {"timestamp", TimeStampText(state.ftTimeStamp)},
            {"exchanges",
             {{"completed", c.completed},
              {"failed", c.failed},
              {"answered", c.answered},
              {"unanswered", c.unanswered},
              {"repeats", c.repeats}}},
        };
        entry["value"] = ValueJson(state.vDataValue);
        list.push_back(std::move(entry));
    }
    return {{"items", std::move(list)}, {"unreachable", UnreachableNodes(items)}};
}

std::vector<std::string> UnreachableNodes(const std::deque<SessionItem>& items) {
    std::vector<std::string> names;
    std::set<std::string> answered;
    std::set<std::string> listed;
    for (const SessionItem& item : items) {
        if (item.host.Counts().answered > 0) {
            answered.insert(item.config.node);
        }
    }
    for (const SessionItem& item : items) {
        const NodeConfig& node = item.node->config;
        // Items completed without any exchange (the dosing-control read, a refused task)
        // say nothing about the line.
        const bool triedLine = item.host.Counts().unanswered > 0;
        if (triedLine && !answered.count(node.name) && listed.insert(node.name).second) {
            names.push_back(node.name + " (" + NodePlace(node) + ")");
        }
    }
    return names;
}

} // namespace vemox::host
