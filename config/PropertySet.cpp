#include "config/PropertySet.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace vemox {
namespace {

// The header sits in front of the elements; 8 bytes keep the elements' VARIANTs aligned.
constexpr std::size_t kHeader = 8;

unsigned char* BlockOf(TItemProperty* first) {
    return reinterpret_cast<unsigned char*>(first) - kHeader;
}

void WriteCount(TItemProperty* first, std::int32_t count) {
    std::memcpy(BlockOf(first) + 4, &count, sizeof count);
}

} // namespace

PropertySet::PropertySet(const PropertySet& other) {
    for (std::int32_t i = 0; i < other.size(); ++i) {
        const TItemProperty& p = other[i];
        Append(static_cast<std::int32_t>(p.dwPropertyID), p.vtDataType,
               ShortStringView(p.szDescription), platform::Variant(p.vValue));
        std::memcpy(first_[i].szItemID, p.szItemID, sizeof p.szItemID);
        first_[i].hrErrorID = p.hrErrorID;
    }
}

PropertySet& PropertySet::operator=(const PropertySet& other) {
    if (this != &other) {
        PropertySet copy(other);
        *this = std::move(copy);
    }
    return *this;
}

PropertySet::PropertySet(PropertySet&& other) noexcept
    : first_(std::exchange(other.first_, nullptr)), capacity_(std::exchange(other.capacity_, 0)) {}

PropertySet& PropertySet::operator=(PropertySet&& other) noexcept {
    if (this != &other) {
        Clear();
        first_ = std::exchange(other.first_, nullptr);
        capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
}

PropertySet::~PropertySet() {
    Clear();
}

void PropertySet::Reserve(std::int32_t capacity) {
    if (capacity <= capacity_) {
        return;
    }
    auto* block = static_cast<unsigned char*>(
        std::calloc(1, kHeader + static_cast<std::size_t>(capacity) * sizeof(TItemProperty)));
    if (!block) {
        throw std::bad_alloc();
    }
    const std::int32_t refCount = 1;
    std::memcpy(block, &refCount, sizeof refCount);
    auto* grown = reinterpret_cast<TItemProperty*>(block + kHeader);
    const std::int32_t count = size();
    if (first_) {
        // VARIANTs move bitwise: their owned pointers travel with them.
        std::memcpy(static_cast<void*>(grown), first_,
                    static_cast<std::size_t>(count) * sizeof(TItemProperty));
        std::free(BlockOf(first_));
    }
    first_ = grown;
    capacity_ = capacity;
    WriteCount(first_, count);
}

void PropertySet::Append(std::int32_t id, VARTYPE declaredType, std::u16string_view description,
                         const platform::Variant& value) {
    const std::int32_t count = size();
    if (count == capacity_) {
        Reserve(capacity_ < 8 ? 8 : capacity_ * 2);
    }
    TItemProperty& p = first_[count];
    std::memset(static_cast<void*>(&p), 0, sizeof p);
    p.vtDataType = declaredType;
    p.dwPropertyID = static_cast<std::uint32_t>(id);
    GetShortString(description, p.szDescription);
    platform::VariantInitialize(p.vValue);
    platform::VariantCopyFrom(p.vValue, value.get());
    WriteCount(first_, count + 1);
}

void PropertySet::Clear() noexcept {
    if (!first_) {
        return;
    }
    const std::int32_t count = size();
    for (std::int32_t i = 0; i < count; ++i) {
        platform::VariantRelease(first_[i].vValue);
    }
    std::free(BlockOf(first_));
    first_ = nullptr;
    capacity_ = 0;
}

} // namespace vemox
