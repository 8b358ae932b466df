#include "host/session/ControllerLinks.h"

#include "host/config/LinkFigureNames.h"
#include "platform/VariantConvert.h"

namespace vemox::host {
namespace {

constexpr std::size_t kShown = static_cast<std::size_t>(LinkFigure::Reset); // all but the reset

double FigureValue(const VARIANT& value) {
    if (value.vt == VT_BOOL) {
        return value.boolVal ? 1 : 0;
    }
    return value.vt == VT_DATE ? value.date : platform::VariantToDouble(value);
}

} // namespace

ControllerLinks::ControllerLinks(DriverSession& session) : session_(session) {
    const OperationInfo& diagnostics = OperationAt(static_cast<int>(Operation::LinkDiagnostics));
    for (SessionNode& node : session.Nodes()) {
        Probes probes;
        for (std::size_t i = 0; i < kShown; ++i) {
            ItemConfig config;
            config.node = node.config.name;
            config.name =
                std::string("link ") + std::string(LinkFigureKey(static_cast<LinkFigure>(i)));
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
        link.portOpen =
            session_.Ports().LineOpen(static_cast<TComPortNum>(link.node->config.portNumber));
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

} // namespace vemox::host
