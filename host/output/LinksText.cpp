#include "host/output/LinksText.h"

#include "host/config/LinkFigureNames.h"
#include "host/output/ReadRecord.h"

#include <cmath>
#include <cstdio>
#include <sstream>

namespace vemox::host {
namespace {

constexpr std::size_t kShown = static_cast<std::size_t>(LinkFigure::Reset); // all but the reset

std::string Whole(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", value);
    return text;
}

} // namespace

std::string LinksTableText(const std::vector<ControllerLink>& links) {
    std::ostringstream out;
    out << "CONTROLLER              LINK     REPLIES  NO REPLY  CHECKSUM  MISMATCH  REPEATS"
           "  REPLY MS LAST/MIN/MAX  LAST GOOD REPLY (UTC)\n";
    for (const ControllerLink& link : links) {
        char row[160];
        std::snprintf(row, sizeof row, "%-24s%-9s%-9s%-10s%-10s%-10s%-9s%-22s",
                      link.node->config.name.c_str(),
                      !link.portOpen                         ? "no port"
                      : !link.read                           ? "?"
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
        out << row << TimeStampText(DateTicks(link.Figure(LinkFigure::LastGoodReply))) << "\n";
    }
    return out.str();
}

nlohmann::json LinksJson(const std::vector<ControllerLink>& links) {
    nlohmann::json list = nlohmann::json::array();
    for (const ControllerLink& link : links) {
        nlohmann::json entry = {
            {"node", link.node->config.name}, {"read", link.read}, {"port_open", link.portOpen}};
        for (std::size_t i = 0; i < kShown; ++i) {
            const auto figure = static_cast<LinkFigure>(i);
            const std::string key(LinkFigureKey(figure));
            if (figure == LinkFigure::LinkUp) {
                entry[key] = link.figures[i] != 0;
            } else if (figure == LinkFigure::LastGoodReply) {
                entry[key] = TimeStampJson(DateTicks(link.figures[i]));
            } else {
                // Counts and milliseconds are whole numbers, kept by the driver as doubles.
                entry[key] = std::llround(link.figures[i]);
            }
        }
        list.push_back(std::move(entry));
    }
    return list;
}

} // namespace vemox::host
