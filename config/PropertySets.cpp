#include "config/PropertySets.h"

#include "config/Encodings.h"
#include "platform/Clock.h"
#include "platform/Com.h"
#include "platform/VariantConvert.h"

namespace vemox {
namespace {

using platform::Variant;

// The item's own numbers, each stored only for the operation it parameterises. The records of
// the eight operations the host has always known are in every set (Null when not theirs); a
// later operation's record is in its own items' sets only, so that every other set stays as
// it always was.
struct ParameterRecord {
    std::int32_t id;
    const char16_t* description;
    Operation owner;
    std::int32_t ItemSettings::*field;
    bool inEverySet;
};

const ParameterRecord kParameters[] = {
    {kPropCounter, kTextCounter, Operation::Counter, &ItemSettings::counter, true},
    {kPropDigitalInput, kTextDigitalInput, Operation::DigitalInputs, &ItemSettings::input, true},
    {kPropDigitalOutput, kTextDigitalOutput, Operation::DigitalOutputs, &ItemSettings::output,
     true},
    {kPropWeightPoint, kTextWeightPoint, Operation::WeightPoints, &ItemSettings::weightPoint, true},
    {kPropWeightPointLevel, kTextWeightPointLevel, Operation::WeightPoints,
     &ItemSettings::levelIndex, true},
    {kPropStateBit, kTextStateBit, Operation::State, &ItemSettings::stateBit, true},
    {kPropLinkFigure, kTextLinkFigure, Operation::LinkDiagnostics, &ItemSettings::linkFigure,
     false},
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

constexpr std::int32_t kHighestPort = 99;

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
    const ItemType type = ItemTypeOf(*operation, item.linkFigure);
    PropertySet set;
    set.Append(kPropCanonicalType, VT_I2, kTextCanonicalType, Variant::Int32(type.canonicalType));
    set.Append(kPropValue, VT_VARIANT, kTextValue, Variant::Int32(0));
    set.Append(kPropQuality, VT_I2, kTextQuality, Variant::Int32(kQualityUncertain));
    set.Append(kPropTimeStamp, VT_DATE, kTextTimeStamp, Variant::Date(platform::LocalNow()));
    set.Append(kPropAccessRights, VT_I4, kTextAccessRights,
               Variant::Int32(static_cast<std::int32_t>(type.accessRights)));
    set.Append(kPropDescription, VT_BSTR, kTextItemDescription, Variant::Text(item.description));
    set.Append(kPropScanRate, VT_R4, kTextScanRate, ItemScanRate(item.scanRateSeconds, nodeProps));
    set.Append(kPropOperation, VT_BSTR, kTextOperation, Variant::Text(operation->caption));
    for (const ParameterRecord& parameter : kParameters) {
        const bool own = parameter.owner == operation->operation;
        if (own || parameter.inEverySet) {
            set.Append(parameter.id, VT_UI1, parameter.description,
                       own ? Variant::Int32(item.*parameter.field) : Variant::Null());
        }
    }
    return set;
}

bool UndefinedData(const VARIANT& value) noexcept {
    return value.vt == VT_EMPTY || value.vt == VT_NULL;
}

bool GetProperty(std::int32_t id, PItemProperties props, VARIANT& value) {
    platform::VariantRelease(value);
    value.vt = VT_I4;
    value.lVal = 0;
    if (!props || id < 0) {
        return false;
    }
    const TItemProperty* first = *props;
    const std::int32_t count = DynArrayLength(first);
    for (std::int32_t i = 0; i < count; ++i) {
        if (first[i].dwPropertyID != static_cast<std::uint32_t>(id)) {
            continue;
        }
        if (UndefinedData(first[i].vValue)) {
            return false;
        }
        platform::VariantCopyFrom(value, first[i].vValue);
        return true;
    }
    return false;
}

std::int64_t ReadInteger(PItemProperties props, std::int32_t id) {
    platform::Variant value;
    return GetProperty(id, props, value.get()) ? platform::VariantToInt64(value.get()) : 0;
}

std::uint8_t ReadByteProperty(PItemProperties props, std::int32_t id) {
    platform::Variant value;
    if (!GetProperty(id, props, value.get())) {
        return 0;
    }
    return static_cast<std::uint8_t>(platform::VariantToInt32(value.get()));
}

bool UsesNetworkAddress(PItemProperties nodeProperties) {
    platform::Variant value;
    if (!GetProperty(kPropUseAddress, nodeProperties, value.get())) {
        return true;
    }
    return platform::VariantToBool(value.get());
}

Addressing ReadAddressing(PItemProperties nodeProperties) {
    Addressing out;
    out.network = UsesNetworkAddress(nodeProperties);
    platform::Variant value;
    if (out.network) {
        if (GetProperty(kPropAddress, nodeProperties, value.get())) {
            out.address = static_cast<std::uint8_t>(platform::VariantToInt32(value.get()));
        }
    } else if (GetProperty(kPropSerial, nodeProperties, value.get())) {
        out.serial = static_cast<std::uint32_t>(platform::VariantToInt64(value.get()));
    }
    return out;
}

bool ReadPortNumber(PItemProperties nodeProperties, std::int32_t& port) {
    platform::Variant value;
    if (!GetProperty(kPropComPort, nodeProperties, value.get())) {
        return false;
    }
    const double number = platform::VariantToDouble(value.get());
    if (number < 0 || number > kHighestPort) {
        return false;
    }
    port = platform::VariantToInt32(value.get());
    return true;
}

std::u16string ReadOperationText(PItemProperties itemProperties) {
    platform::Variant value;
    if (!GetProperty(kPropOperation, itemProperties, value.get())) {
        return {};
    }
    return platform::VariantToText(value.get());
}

std::uint8_t ReadRequestParameter(Operation operation, PItemProperties itemProperties) {
    switch (operation) {
    case Operation::Counter:
        return ReadByteProperty(itemProperties, kPropCounter);
    case Operation::WeightPoints:
        return ReadByteProperty(itemProperties, kPropWeightPoint);
    default:
        return 0;
    }
}

WriteTarget ReadWriteTarget(Operation operation, PItemProperties itemProperties) {
    WriteTarget target;
    if (operation == Operation::DigitalOutputs) {
        target.bit = ReadByteProperty(itemProperties, kPropDigitalOutput);
    } else if (operation == Operation::WeightPoints) {
        target.point = ReadByteProperty(itemProperties, kPropWeightPoint);
        target.upper = ReadByteProperty(itemProperties, kPropWeightPointLevel) != 0;
    }
    return target;
}

bool ReadRequest(Operation operation, PItemProperties itemProperties, RequestBody& body) {
    return ReadRequest(operation, ReadRequestParameter(operation, itemProperties), body);
}

std::vector<std::uint8_t> BuildWriteFrame(const Addressing& addressing,
                                          PItemProperties itemProperties, const VARIANT& value,
                                          const TSaveData& cache, bool withCrc) {
    const Operation operation = OperationOf(ReadOperationText(itemProperties));
    return BuildWriteFrame(addressing, operation, ReadWriteTarget(operation, itemProperties), value,
                           cache, withCrc);
}

} // namespace vemox
