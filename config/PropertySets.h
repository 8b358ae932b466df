// The node and item property sets the host keeps for the driver, built from plain settings.
// The pages build them on save; the reference host builds them from its configuration file.
#pragma once

#include "config/Operations.h"
#include "config/PropertySet.h"
#include "driver/Constants.h"

#include <cstdint>
#include <optional>
#include <string>

namespace vemox {

// What the node page shows; the defaults are a new node's first content.
struct NodeSettings {
    std::u16string description = kTextNodeDescription;
    std::int32_t scanRateSeconds = 1;
    std::u16string portName; // as listed, e.g. "COM3"
    bool useAddress = true;  // false: the controller is found by its serial number
    std::int32_t address = 1;
    std::int32_t serial = 1;
};

// What the item page shows; the defaults are a new item's first content. Only the numbers
// that belong to the chosen operation are stored.
struct ItemSettings {
    std::u16string description;
    std::int32_t scanRateSeconds = 1;
    std::u16string operation{CaptionOf(Operation::State)}; // as the operation table names it
    std::int32_t counter = 0;
    std::int32_t input = 0;
    std::int32_t output = 0;
    std::int32_t weightPoint = 0;
    std::int32_t levelIndex = 0; // 0 lower level, 1 upper level
    std::int32_t stateBit = 0;
};

// The six node records; both address and serial number are stored whichever one identifies.
PropertySet BuildNodeProperties(const NodeSettings& node);

// The fourteen item records, stamped with the local time of the call. The item keeps a scan
// rate of its own only when it differs from the one in the node's set. Nothing when the
// operation is not one of the table's captions: such an item cannot be stored.
std::optional<PropertySet> BuildItemProperties(const ItemSettings& item, PItemProperties nodeProps);

} // namespace vemox
