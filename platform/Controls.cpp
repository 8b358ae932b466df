#include "platform/Controls.h"

#include "platform/Text.h"
#include "platform/VariantConvert.h"

#include <algorithm>

namespace vemox::platform {

std::int32_t SpinField::Value() const {
    std::int32_t value = 0;
    return ParseInt32(Text(), value) ? value : min_;
}

void SpinField::SetValue(std::int64_t value) {
    const std::int64_t clamped = std::clamp<std::int64_t>(value, min_, max_);
    const std::u16string text = DecimalText(clamped);
    if (Text() != text) {
        SetText(text);
    }
}

void SpinField::ClampTyped() {
    SetValue(Value());
}

std::u16string ChoiceList::SelectedText() const {
    const int index = Selected();
    return index < 0 ? std::u16string() : ItemText(index);
}

} // namespace vemox::platform
