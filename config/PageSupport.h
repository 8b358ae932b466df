// What the three pages share: embedding into a host window, the name key filter, and the
// private copy of a host property set that a page reloads from.
#pragma once

#include "config/PropertySet.h"
#include "contract/PluginInterface.h"
#include "platform/Controls.h"
#include "platform/MessageBox.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vemox {

// Every box of the node and item pages: task-modal, warning icon, no owner window.
constexpr std::uint32_t kPageBoxFlags = platform::kBoxTaskModal | platform::kBoxIconWarning;

// What the operator is told when the host refuses a save.
struct SaveRefusalTexts {
    std::u16string_view duplicateText; // the name is taken
    std::u16string_view duplicateCaption;
    std::u16string_view failedText; // any other refusal, under the caption "Ошибка"
};

// Hands a built node or item to the host: added under the host object (with the child's kind,
// the fixed value that goes with it and the driver's interface) or updated in place. A refusal is
// shown to the operator, a taken name also moves the focus to the name field. True when the host
// accepted.
bool HandToHost(IKibItem& host, IKibDriver3* driver, bool update, std::int32_t childKind,
                std::int32_t childFlags, const TItemAttributes& attributes,
                PItemProperties properties, platform::TextField& nameField,
                const SaveRefusalTexts& texts);

// Sets the three outputs of a page operation to 0.
void ClearPageOutputs(WindowHandle* child, std::int32_t* width, std::int32_t* height) noexcept;

// Embeds the page in the host window, runs the page's own loading and reports the page's
// window and outer size. Every failure gives false; outputs written before it keep their values.
bool EmbedPage(platform::PageWindow& page, WindowHandle parent, const std::function<void()>& load,
               WindowHandle* child, std::int32_t* width, std::int32_t* height) noexcept;

// Characters the operator may type into a node or item name: Backspace, digits, Latin
// letters, the underscore and the Latin-1 letters from U+00C0 to U+00FF.
bool NameKeyAccepted(char16_t key) noexcept;

// A copy of a host set that stays readable after the host has freed its own.
PropertySet CopyProperties(PItemProperties props);

// A property the set holds (neither Empty nor Null) read as a number or a text; nothing when it
// is missing or does not convert, so a stored value the page cannot show leaves its field alone.
std::optional<double> PropertyNumber(std::int32_t id, PItemProperties props);
std::optional<std::u16string> PropertyText(std::int32_t id, PItemProperties props);
// Whether the property holds the value true (an unconvertible value does not).
std::optional<bool> PropertyIsTrue(std::int32_t id, PItemProperties props);

// Puts a stored number into a spin field, held to the field's range first.
void SetSpinValue(platform::SpinField& field, double value);

// The text of a host short string up to its first zero character.
std::u16string ShortStringText(const KibShortString& text);

} // namespace vemox
