#include "config/PageSupport.h"

#include "config/PropertySets.h"
#include "contract/Constants.h"
#include "platform/MessageBox.h"
#include "platform/VariantConvert.h"

#include <algorithm>
#include <cmath>

namespace vemox {

void ClearPageOutputs(WindowHandle* child, std::int32_t* width, std::int32_t* height) noexcept {
    if (child) {
        *child = nullptr;
    }
    if (width) {
        *width = 0;
    }
    if (height) {
        *height = 0;
    }
}

bool EmbedPage(platform::PageWindow& page, WindowHandle parent, const std::function<void()>& load,
               WindowHandle* child, std::int32_t* width, std::int32_t* height) noexcept {
    ClearPageOutputs(child, width, height);
    try {
        page.Embed(parent);
        load();
        if (child) {
            *child = page.Handle();
        }
        if (width) {
            *width = page.Width();
        }
        if (height) {
            *height = page.Height();
        }
        page.Show();
        return true;
    } catch (...) {
        return false;
    }
}

bool NameKeyAccepted(char16_t key) noexcept {
    return key == u'\b' || (key >= u'0' && key <= u'9') || (key >= u'A' && key <= u'Z') ||
           (key >= u'a' && key <= u'z') || key == u'_' || (key >= 0x00C0 && key <= 0x00FF);
}

PropertySet CopyProperties(PItemProperties props) {
    PropertySet copy;
    if (!props) {
        return copy;
    }
    const TItemProperty* first = *props;
    for (std::int32_t i = 0; i < DynArrayLength(first); ++i) {
        const TItemProperty& p = first[i];
        copy.Append(static_cast<std::int32_t>(p.dwPropertyID), p.vtDataType,
                    ShortStringView(p.szDescription), platform::Variant(p.vValue));
    }
    return copy;
}

std::optional<double> PropertyNumber(std::int32_t id, PItemProperties props) {
    platform::Variant value;
    if (!GetProperty(id, props, value.get())) {
        return std::nullopt;
    }
    try {
        const double number = platform::VariantToDouble(value.get());
        return std::isnan(number) ? std::nullopt : std::optional<double>(number);
    } catch (const platform::ConversionError&) {
        return std::nullopt;
    }
}

std::optional<std::u16string> PropertyText(std::int32_t id, PItemProperties props) {
    platform::Variant value;
    if (!GetProperty(id, props, value.get())) {
        return std::nullopt;
    }
    try {
        return platform::VariantToText(value.get());
    } catch (const platform::ConversionError&) {
        return std::nullopt;
    }
}

std::optional<bool> PropertyIsTrue(std::int32_t id, PItemProperties props) {
    platform::Variant value;
    if (!GetProperty(id, props, value.get())) {
        return std::nullopt;
    }
    try {
        return platform::VariantEquals(value.get(), platform::Variant::Bool(true).get());
    } catch (const platform::ConversionError&) {
        return false;
    }
}

void SetSpinValue(platform::SpinField& field, double value) {
    const double clamped = std::clamp(value, static_cast<double>(field.Minimum()),
                                      static_cast<double>(field.Maximum()));
    field.SetValue(static_cast<std::int64_t>(platform::RoundHalfEven(clamped)));
}

std::u16string ShortStringText(const KibShortString& text) {
    return std::u16string(ShortStringView(text));
}

bool HandToHost(IKibItem& host, IKibDriver3* driver, bool update, std::int32_t childKind,
                std::int32_t childFlags, const TItemAttributes& attributes,
                PItemProperties properties, platform::TextField& nameField,
                const SaveRefusalTexts& texts) {
    HRESULT result = S_OK;
    if (update) {
        result = host.UpdateItem(attributes, properties);
    } else {
        IKibItem* child = nullptr;
        result = host.AddChild(attributes, childKind, childFlags, properties, driver, &child);
        if (child) {
            child->Release();
        }
    }
    if (result == kOpcDuplicateName) {
        nameField.SetFocus();
        platform::ShowMessageBox(texts.duplicateText, texts.duplicateCaption, kPageBoxFlags);
        return false;
    }
    if (result != S_OK) {
        platform::ShowMessageBox(texts.failedText, kBoxErrorCaption, kPageBoxFlags);
        return false;
    }
    return true;
}

} // namespace vemox
