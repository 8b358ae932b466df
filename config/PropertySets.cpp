#include "config/PropertySets.h"

#include "config/Encodings.h"
#include "driver/Globals.h"
#include "platform/Clock.h"
#include "platform/VariantConvert.h"

namespace vemox {
namespace {

using platform::Variant;

// The item's own numbers, each stored only for the operation it parameterises.
struct ParameterRecord {
    std::int32_t id;
    const char16_t* description;
    Operation owner;
    std::int32_t ItemSettings::*field;
};

const ParameterRecord kParameters[] = {
    {kPropCounter, kTextCounter, Operation::Counter, &ItemSettings::counter},
    {kPropDigitalInput, kTextDigitalInput, Operation::DigitalInputs, &ItemSettings::input},
    {kPropDigitalOutput, kTextDigitalOutput, Operation::DigitalOutputs, &ItemSettings::output},
    {kPropWeightPoint, kTextWeightPoint, Operation::WeightPoints, &ItemSettings::weightPoint},
    {kPropWeightPointLevel, kTextWeightPointLevel, Operation::WeightPoints,
     &ItemSettings::levelIndex},
    {kPropStateBit, kTextStateBit, Operation::State, &ItemSettings::stateBit},
};

// Null lets the item follow its node's rate. A node rate that cannot be compared with a
// number (a host-side text that is no number) counts as different, so the item keeps the
// rate the operator gave it rather than silently losing it.
Variant ItemScanRate(std::int32_t seconds, PItemProperties nodeProps) {
    Variant nodeRate;
    if (!GetProperty(kPropScanRate, nodeProps, nodeRate.get())) {
        return Variant::Null();
    }
    Variant own = Variant::Int64(ScanRateSecondsToMs(seconds));
    bool same = false;
    try {
        same = platform::VariantEquals(nodeRate.get(), own.get());
    } catch (const platform::ConversionError&) {
        same = false;
    }
    return same ? Variant::Null() : own;
}

} // namespace

PropertySet BuildNodeProperties(const NodeSettings& node) {
    PropertySet set;
    set.Append(kPropDescription, VT_BSTR, kTextNodeDescription, Variant::Text(node.description));
    set.Append(kPropScanRate, VT_R4, kTextScanRate,
               Variant::Int64(ScanRateSecondsToMs(node.scanRateSeconds)));
    set.Append(kPropComPort, VT_UI1, kTextComPort, Variant::Int32(PortIndexOf(node.portName)));
    set.Append(kPropUseAddress, VT_BOOL, kTextUseAddress, Variant::Bool(node.useAddress));
    set.Append(kPropAddress, VT_UI1, kTextAddress, Variant::Int64(node.address));
    set.Append(kPropSerial, VT_UI4, kTextSerial, Variant::Int64(node.serial));
    return set;
}

std::optional<PropertySet> BuildItemProperties(const ItemSettings& item,
                                               PItemProperties nodeProps) {
    const OperationInfo* operation = FindOperation(item.operation);
    if (!operation) {
        return std::nullopt;
    }
    PropertySet set;
    set.Append(kPropCanonicalType, VT_I2, kTextCanonicalType,
               Variant::Int32(operation->canonicalType));
    set.Append(kPropValue, VT_VARIANT, kTextValue, Variant::Int32(0));
    set.Append(kPropQuality, VT_I2, kTextQuality, Variant::Int32(kQualityUncertain));
    set.Append(kPropTimeStamp, VT_DATE, kTextTimeStamp, Variant::Date(platform::LocalNow()));
    set.Append(kPropAccessRights, VT_I4, kTextAccessRights,
               Variant::Int32(static_cast<std::int32_t>(operation->accessRights)));
    set.Append(kPropDescription, VT_BSTR, kTextItemDescription, Variant::Text(item.description));
    set.Append(kPropScanRate, VT_R4, kTextScanRate, ItemScanRate(item.scanRateSeconds, nodeProps));
    set.Append(kPropOperation, VT_BSTR, kTextOperation, Variant::Text(operation->caption));
    for (const ParameterRecord& parameter : kParameters) {
        set.Append(parameter.id, VT_UI1, parameter.description,
                   parameter.owner == operation->operation ? Variant::Int32(item.*parameter.field)
                                                           : Variant::Null());
    }
    return set;
}

} // namespace vemox
