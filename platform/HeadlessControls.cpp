#include "platform/HeadlessControls.h"

#include <stdexcept>

namespace vemox::platform {

void HeadlessFocus::Take() {
    HeadlessFocus* previous = page_.focus_;
    if (previous == this) {
        return;
    }
    page_.focus_ = this;
    if (previous) {
        previous->FocusLost();
    }
}

bool HeadlessFocus::Has() const {
    return page_.focus_ == this;
}

void HeadlessToggle::SetChecked(bool checked) {
    checked_ = checked;
    if (!checked || group_ < 0) {
        return;
    }
    for (HeadlessToggle* other : OwnerPage().radios_) {
        if (other != this && other->group_ == group_) {
            other->checked_ = false;
        }
    }
}

void HeadlessPanel::BringToFront() {
    page_.front_ = this;
}

WindowHandle HeadlessPage::Handle() const {
    // A distinct value per page, like a real handle; nothing dereferences it.
    return reinterpret_cast<WindowHandle>(const_cast<HeadlessPage*>(this));
}

TextField& HeadlessPage::AddTextField(const Rect&, std::u16string_view) {
    auto field = std::make_unique<HeadlessTextField>(*this);
    TextField& result = *field;
    controls_.push_back(std::move(field));
    return result;
}

SpinField& HeadlessPage::AddSpinField(const Rect&, std::int32_t minimum, std::int32_t maximum,
                                      std::u16string_view, Panel*) {
    auto field = std::make_unique<HeadlessSpinField>(*this, minimum, maximum);
    SpinField& result = *field;
    controls_.push_back(std::move(field));
    return result;
}

ChoiceList& HeadlessPage::AddChoiceList(const Rect&, Panel*) {
    auto list = std::make_unique<HeadlessChoiceList>(*this);
    ChoiceList& result = *list;
    controls_.push_back(std::move(list));
    return result;
}

ToggleButton& HeadlessPage::AddRadioButton(const Rect&, std::u16string_view caption, int group) {
    labels_.emplace_back(caption);
    auto button = std::make_unique<HeadlessToggle>(*this, group < 0 ? 0 : group);
    radios_.push_back(button.get());
    ToggleButton& result = *button;
    controls_.push_back(std::move(button));
    return result;
}

ToggleButton& HeadlessPage::AddCheckBox(const Rect&, std::u16string_view caption) {
    labels_.emplace_back(caption);
    auto box = std::make_unique<HeadlessToggle>(*this, -1);
    ToggleButton& result = *box;
    controls_.push_back(std::move(box));
    return result;
}

Panel& HeadlessPage::AddPanel(const Rect&) {
    panels_.push_back(std::make_unique<HeadlessPanel>(*this));
    return *panels_.back();
}

std::unique_ptr<PageWindow> CreateHeadlessPage(int clientWidth, int clientHeight) {
    return std::make_unique<HeadlessPage>(clientWidth, clientHeight);
}

void Type(TextField& field, std::u16string_view text) {
    if (auto* plain = dynamic_cast<HeadlessTextField*>(&field)) {
        plain->TypeText(text);
    } else if (auto* spin = dynamic_cast<HeadlessText<SpinField>*>(&field)) {
        spin->TypeText(text);
    } else {
        throw std::logic_error("typing needs a headless field");
    }
}

void Pick(ChoiceList& list, int index) {
    dynamic_cast<HeadlessChoiceList&>(list).Pick(index);
}

void Click(ToggleButton& button) {
    dynamic_cast<HeadlessToggle&>(button).Click();
}

} // namespace vemox::platform
