#include "config/Attributes.h"

#include "contract/Constants.h"
#include "contract/Operations.h"
#include "platform/Com.h"

#include <cstring>

namespace vemox {
namespace {

// What nodes and items share: the name, active (all bits set, as the host writes true), and
// no engineering units (the integer 0).
ItemAttributes Named(std::u16string_view name) {
    ItemAttributes attributes;
    TItemAttributes& record = attributes.get();
    GetShortString(name, record.szItemID);
    record.bActive = -1;
    record.vEUInfo.vt = VT_I4;
    record.vEUInfo.lVal = 0;
    return attributes;
}

} // namespace

ItemAttributes::ItemAttributes() noexcept {
    std::memset(static_cast<void*>(&record_), 0, sizeof record_);
    platform::VariantInitialize(record_.vEUInfo);
}

ItemAttributes::ItemAttributes(const ItemAttributes& other) : ItemAttributes() {
    *this = other;
}

ItemAttributes& ItemAttributes::operator=(const ItemAttributes& other) {
    if (this != &other) {
        platform::Variant units(other.record_.vEUInfo);
        platform::VariantRelease(record_.vEUInfo);
        std::memcpy(static_cast<void*>(&record_), &other.record_, sizeof record_);
        record_.vEUInfo = units.release();
    }
    return *this;
}

ItemAttributes::~ItemAttributes() {
    platform::VariantRelease(record_.vEUInfo);
}

ItemAttributes BuildNodeAttributes(std::u16string_view name) {
    ItemAttributes attributes = Named(name);
    attributes.get().dwAccessRights = kAccessReadWrite;
    return attributes;
}

std::optional<ItemAttributes> BuildItemAttributes(std::u16string_view name,
                                                  std::u16string_view operation,
                                                  std::int32_t linkFigure) {
    const OperationInfo* info = FindOperation(operation);
    if (!info) {
        return std::nullopt;
    }
    ItemAttributes attributes = Named(name);
    TItemAttributes& record = attributes.get();
    const ItemType type = ItemTypeOf(*info, linkFigure);
    record.dwAccessRights = type.accessRights;
    record.vtRequestedDataType = type.canonicalType;
    record.vtCanonicalDataType = type.canonicalType;
    return attributes;
}

} // namespace vemox
