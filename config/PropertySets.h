// The node and item property sets the host keeps for the driver: built from plain settings (the
// pages build them on save, the reference host from its configuration file), and read back into
// the plain values the protocol works with. Every reader finds a value with GetProperty.
#pragma once

#include "config/PropertySet.h"
#include "contract/Constants.h"
#include "contract/Operations.h"
#include "protocol/Request.h"

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
    std::int32_t linkFigure = 0; // what a diagnostic item reads (LinkFigure)
};

// The six node records; both address and serial number are stored whichever one identifies.
PropertySet BuildNodeProperties(const NodeSettings& node);

// The fourteen item records (fifteen for a diagnostic item, which stores the figure it reads and
// takes its data type and access rights from it), stamped with the local time of the call. The item
// keeps a scan rate of its own only when it differs from the one in the node's set. Nothing when
// the operation is not one of the table's captions: such an item cannot be stored.
std::optional<PropertySet> BuildItemProperties(const ItemSettings& item, PItemProperties nodeProps);

// ---- Reading the sets the host hands back ----
// A value that is missing is never an error: each reader has its default. A value of the wrong
// kind throws platform::ConversionError.

// Empty or Null: the property counts as missing.
bool UndefinedData(const VARIANT& value) noexcept;

// Finds the first property with the ID; an absent, Empty or Null value answers false and
// leaves the integer 0 (VT_I4) in the output.
bool GetProperty(std::int32_t id, PItemProperties props, VARIANT& value);

// A property as a 64-bit integer, 0 when missing.
std::int64_t ReadInteger(PItemProperties props, std::int32_t id);
// A property as an integer's low byte, 0 when missing.
std::uint8_t ReadByteProperty(PItemProperties props, std::int32_t id);

// Whether the node is addressed by its network address (property true or missing).
bool UsesNetworkAddress(PItemProperties nodeProperties);
// The node's address section: the address's low byte, or the serial number's low 32 bits.
Addressing ReadAddressing(PItemProperties nodeProperties);
// The node's port number 0..99; false when it has none in that range.
bool ReadPortNumber(PItemProperties nodeProperties, std::int32_t& port);

// The item's operation caption (property 5004), empty when missing.
std::u16string ReadOperationText(PItemProperties itemProperties);
// The number a read sends: the counter or the weight point number, 0 for other operations.
std::uint8_t ReadRequestParameter(Operation operation, PItemProperties itemProperties);
// The output bit, or the weight point and level, that a write of the item acts on.
WriteTarget ReadWriteTarget(Operation operation, PItemProperties itemProperties);

// The read request and the framed write for an item, as its set describes it.
bool ReadRequest(Operation operation, PItemProperties itemProperties, RequestBody& body);
std::vector<std::uint8_t> BuildWriteFrame(const Addressing& addressing,
                                          PItemProperties itemProperties, const VARIANT& value,
                                          const TSaveData& cache, bool withCrc);

} // namespace vemox
