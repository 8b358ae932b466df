// Owner of one property array in the memory form shared with the host: reference count and
// element count before the first element, every VARIANT cleared when the owner goes.
#pragma once

#include "contract/PluginInterface.h"
#include "platform/Com.h"

#include <cstdint>
#include <string_view>

namespace vemox {

class PropertySet {
public:
    PropertySet() = default;
    PropertySet(const PropertySet& other);
    PropertySet& operator=(const PropertySet& other);
    PropertySet(PropertySet&& other) noexcept;
    PropertySet& operator=(PropertySet&& other) noexcept;
    ~PropertySet();

    // Appends a complete record: ID, declared type, empty item ID, description and value.
    void Append(std::int32_t id, VARTYPE declaredType, std::u16string_view description,
                const platform::Variant& value);

    std::int32_t size() const noexcept { return DynArrayLength(first_); }
    const TItemProperty& operator[](std::int32_t i) const noexcept { return first_[i]; }
    TItemProperty& operator[](std::int32_t i) noexcept { return first_[i]; }

    // What the host is handed: the address of a variable holding the array value.
    PItemProperties get() noexcept { return &first_; }

private:
    void Reserve(std::int32_t capacity);
    void Clear() noexcept;

    TItemProperty* first_ = nullptr;
    std::int32_t capacity_ = 0;
};

} // namespace vemox
