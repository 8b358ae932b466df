#include "host/config/ConfigSets.h"

#include "config/Encodings.h"
#include "platform/Text.h"

namespace vemox::host {

PropertySet NodePropertiesOf(const NodeConfig& node) {
    NodeSettings settings;
    settings.description = platform::Utf8ToUtf16(node.description);
    settings.scanRateSeconds = node.scanSeconds;
    settings.portName = PortNameOf(node.portNumber);
    settings.useAddress = node.useAddress;
    settings.address = node.address;
    settings.serial = static_cast<std::int32_t>(node.serial);
    return BuildNodeProperties(settings);
}

PropertySet ItemPropertiesOf(const ItemConfig& item, const NodeConfig& node,
                             PItemProperties nodeProps) {
    ItemSettings settings;
    settings.description = platform::Utf8ToUtf16(item.description);
    // Without a rate of its own the item follows its node: handing the builder the node's
    // rate makes it store none, as the page does.
    settings.scanRateSeconds = item.scanSeconds.value_or(node.scanSeconds);
    settings.operation = std::u16string(item.operation->caption);
    settings.counter = item.parameter;
    settings.input = item.parameter;
    settings.output = item.parameter;
    settings.weightPoint = item.parameter;
    settings.stateBit = item.parameter;
    settings.levelIndex = item.level;
    settings.linkFigure = item.parameter;
    auto set = BuildItemProperties(settings, nodeProps);
    if (!set) {
        throw ConfigError("item '" + item.FullName() + "': operation cannot be stored");
    }
    return std::move(*set);
}

} // namespace vemox::host
