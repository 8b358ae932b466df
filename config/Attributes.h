// The attributes record a page hands the host beside a node's or item's property set.
#pragma once

#include "contract/PluginInterface.h"

#include <optional>
#include <string_view>

namespace vemox {

// Owns one TItemAttributes: zero-filled when made, its engineering-unit variant cleared when
// it goes. Copies are deep, so a copy handed on outlives the original safely.
class ItemAttributes {
public:
    ItemAttributes() noexcept;
    ItemAttributes(const ItemAttributes& other);
    ItemAttributes& operator=(const ItemAttributes& other);
    ~ItemAttributes();

    TItemAttributes& get() noexcept { return record_; }
    const TItemAttributes& get() const noexcept { return record_; }

private:
    TItemAttributes record_;
};

// A node: read-write, no data type.
ItemAttributes BuildNodeAttributes(std::u16string_view name);
// An item: rights and data type from its operation (for a diagnostic item, from the figure it
// reads); nothing when the caption names no operation.
std::optional<ItemAttributes> BuildItemAttributes(std::u16string_view name,
                                                  std::u16string_view operation,
                                                  std::int32_t linkFigure = 0);

} // namespace vemox
