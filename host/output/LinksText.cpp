#include "host/output/LinksText.h"

#include "host/config/LinkFigureNames.h"
#include "host/output/ReadRecord.h"

#include <cmath>

namespace vemox::host {
namespace {

constexpr std::size_t kShown = static_cast<std::size_t>(LinkFigure::Reset); // all but the reset

} // namespace

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
