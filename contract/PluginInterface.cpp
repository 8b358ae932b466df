#include "contract/PluginInterface.h"

#include <cstring>

namespace vemox {

void GetShortString(std::u16string_view text, KibShortString& target) noexcept {
    std::memset(&target, 0, sizeof target);
    const std::size_t count = text.size() < kShortStringLength ? text.size() : kShortStringLength;
    for (std::size_t i = 0; i < count; ++i) {
        target[i] = text[i];
    }
}

std::u16string_view ShortStringView(const KibShortString& source) noexcept {
    std::size_t length = 0;
    while (length < kShortStringLength && source[length] != 0) {
        ++length;
    }
    return {source, length};
}

} // namespace vemox
