#include "host/ControllerLinks.h"

#include "host/Report.h"
#include "platform/Text.h"
#include "platform/VariantConvert.h"

#include <cstdio>
#include <sstream>

namespace vemox::host {
namespace {

// By LinkFigure.
constexpr std::string_view kKeys[kLinkFigureCount] = {
    "link",         "replies",        "no_answer",       "checksum_errors", "mismatches",
    "repeats",      "refused_writes", "good_writes",     "failed_writes",   "last_reply_ms",
    "min_reply_ms", "max_reply_ms",   "last_good_reply", "reset",
};

constexpr std::size_t kShown = static_cast<std::size_t>(LinkFigure::Reset); // all but the reset

double FigureValue(const VARIANT& value) {
    if (value.vt == VT_BOOL) {
        return value.boolVal ? 1 : 0;
    }
    return value.vt == VT_DATE ? value.date : platform::VariantToDouble(value);
}

std::string LastGoodText(double date) {
    VARIANT value{};
    value.vt = VT_DATE;
    value.date = date;
    return ValueText(value);
}

std::string Whole(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", value);
    return text;
}

} // namespace

std::string_view LinkFigureKey(LinkFigure figure) noexcept {
    return kKeys[static_cast<std::size_t>(figure)];
}

std::optional<LinkFigure> LinkFigureByName(std::string_view name) {
    for (int i = 0; i < kLinkFigureCount; ++i) {
        if (kKeys[i] == name ||
            FindLinkFigure(i)->caption == platform::Utf8ToUtf16(std::string(name))) {
            return static_cast<LinkFigure>(i);
        }
    }
    return std::nullopt;
}

ControllerLinks::ControllerLinks(DriverSession& session) : session_(session) {
    const OperationInfo& diagnostics = OperationAt(static_cast<int>(Operation::LinkDiagnostics));
    for (SessionNode& node : session.Nodes()) {
        Probes probes;
        for (std::size_t i = 0; i < kShown; ++i) {
            ItemConfig config;
            config.node = node.config.name;
            config.name = std::string("link ") + std::string(kKeys[i]);
            config.operation = &diagnostics;
            config.parameter = static_cast<int>(i);
            probes.figures.push_back(&session.AddProbe(node, config));
        }
        probes_.push_back(std::move(probes));
        ControllerLink link;
        link.node = &node;
        links_.push_back(link);
    }
}

const std::vector<ControllerLink>& ControllerLinks::Read() {
    std::vector<SessionItem*> all;
    for (const Probes& probes : probes_) {
        all.insert(all.end(), probes.figures.begin(), probes.figures.end());
    }
    // The driver answers these inside RunTasks: they are complete when Read returns.
    session_.Read(all);
    for (std::size_t n = 0; n < probes_.size(); ++n) {
        ControllerLink& link = links_[n];
        link.read = true;
        for (std::size_t i = 0; i < kShown; ++i) {
            const SessionItem& probe = *probes_[n].figures[i];
            const bool good = !probe.host.Busy() && probe.host.LastResult() == S_OK;
            link.read = link.read && good;
            link.figures[i] = good ? FigureValue(probe.host.State().vDataValue) : 0;
        }
    }
    return links_;
}

std::string LinksTableText(const std::vector<ControllerLink>& links) {
    std::ostringstream out;
    out << "CONTROLLER              LINK  REPLIES  NO REPLY  CHECKSUM  MISMATCH  REPEATS"
           "  REPLY MS LAST/MIN/MAX  LAST GOOD REPLY (UTC)\n";
    for (const ControllerLink& link : links) {
        char row[160];
        std::snprintf(row, sizeof row, "%-24s%-6s%-9s%-10s%-10s%-10s%-9s%-22s",
                      link.node->config.name.c_str(),
                      !link.read                             ? "?"
                      : link.Figure(LinkFigure::LinkUp) != 0 ? "up"
                                                             : "down",
                      Whole(link.Figure(LinkFigure::Replies)).c_str(),
                      Whole(link.Figure(LinkFigure::NoAnswer)).c_str(),
                      Whole(link.Figure(LinkFigure::ChecksumErrors)).c_str(),
                      Whole(link.Figure(LinkFigure::Mismatches)).c_str(),
                      Whole(link.Figure(LinkFigure::Repeats)).c_str(),
                      (Whole(link.Figure(LinkFigure::LastReplyMs)) + "/" +
                       Whole(link.Figure(LinkFigure::MinReplyMs)) + "/" +
                       Whole(link.Figure(LinkFigure::MaxReplyMs)))
                          .c_str());
        out << row << LastGoodText(link.Figure(LinkFigure::LastGoodReply)) << "\n";
    }
    return out.str();
}

nlohmann::json LinksJson(const std::vector<ControllerLink>& links) {
    nlohmann::json list = nlohmann::json::array();
    for (const ControllerLink& link : links) {
        nlohmann::json entry = {{"node", link.node->config.name}, {"read", link.read}};
        for (std::size_t i = 0; i < kShown; ++i) {
            const auto figure = static_cast<LinkFigure>(i);
            const std::string key(kKeys[i]);
            if (figure == LinkFigure::LinkUp) {
                entry[key] = link.figures[i] != 0;
            } else if (figure == LinkFigure::LastGoodReply) {
                entry[key] = LastGoodText(link.figures[i]);
            } else {
                entry[key] = link.figures[i];
            }
        }
        list.push_back(std::move(entry));
    }
    return list;
}

} // namespace vemox::host
