#include "host/output/Report.h"

#include "config/Encodings.h"
#include "contract/Constants.h"
#include "platform/Text.h"
#include "platform/VariantConvert.h"

#include <cstdio>
#include <cstdlib>
#include <iterator>
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

bool IsGood(const SessionItem& item) {
    return item.host.EverCompleted() && item.host.LastResult() == S_OK &&
           item.host.Shown().wQuality == kQualityGood;
}

std::vector<std::string> TableCells(const ReadRecord& record) {
    const ExchangeCounts& c = record.counts;
    return {record.item,
            record.operation,
            ValueText(record.value),
            record.qualityText,
            TimeStampText(record.timeTicks),
            std::to_string(c.completed - c.failed) + "/" + std::to_string(c.failed),
            std::to_string(c.answered) + "/" + std::to_string(c.unanswered) + "/" +
                std::to_string(c.repeats)};
}

std::string PlainLine(const ReadRecord& record) {
    const ExchangeCounts& c = record.counts;
    std::ostringstream out;
    out << TimeStampText(record.timeTicks) << " " << record.item << " = " << ValueText(record.value)
        << " [" << record.qualityText << "] " << record.outcome << "; replies " << c.answered
        << ", none " << c.unanswered << ", repeats " << c.repeats;
    if (record.replyMs) {
        out << "; reply in " << *record.replyMs << " ms";
    }
    return out.str();
}

nlohmann::json PayloadJson(const ReadRecord& record) {
    return {{"value", ValueJson(record.value)},
            {"quality", record.quality},
            {"quality_text", record.qualityText},
            {"timestamp", TimeStampJson(record.timeTicks)},
            {"reply_ms", record.replyMs ? nlohmann::json(*record.replyMs) : nullptr}};
}

nlohmann::json ItemJson(const ReadRecord& record) {
    const ExchangeCounts& c = record.counts;
    nlohmann::json entry = PayloadJson(record);
    entry.update({{"name", record.item},
                  {"node", record.node},
                  {"operation", record.operation},
                  {"result", record.outcome},
                  {"good", record.good},
                  {"exchanges",
                   {{"completed", c.completed},
                    {"failed", c.failed},
                    {"answered", c.answered},
                    {"unanswered", c.unanswered},
                    {"repeats", c.repeats}}}});
    return entry;
}

nlohmann::json ItemsJson(const std::deque<SessionItem>& items) {
    nlohmann::json list = nlohmann::json::array();
    for (const SessionItem& item : items) {
        list.push_back(ItemJson(RecordOf(item)));
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
