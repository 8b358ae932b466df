// The property sets the host hands the driver with every task, built from the
// configuration file through the same builders the pages use, so the driver cannot tell
// the reference host from the real one.
#pragma once

#include "config/PropertySets.h"
#include "host/config/HostConfig.h"

namespace vemox::host {

PropertySet NodePropertiesOf(const NodeConfig& node);
// Throws ConfigError when the item's operation cannot be stored.
PropertySet ItemPropertiesOf(const ItemConfig& item, const NodeConfig& node,
                             PItemProperties nodeProps);

} // namespace vemox::host
