// Page windows without a window system: every control is plain state. Native tests drive the
// pages through the operator actions below; Linux builds use these windows as their own.
#pragma once

#include "platform/Controls.h"

#include <utility>
#include <vector>

namespace vemox::platform {

class HeadlessPage;

// Behaviour shared by every headless control: enabled state and the page-wide focus.
class HeadlessFocus {
public:
    explicit HeadlessFocus(HeadlessPage& page) : page_(page) {}
    HeadlessFocus(const HeadlessFocus&) = delete;
    HeadlessFocus& operator=(const HeadlessFocus&) = delete;
    virtual ~HeadlessFocus() = default;
    void Take();
    bool Has() const;
    // Runs when the focus moves elsewhere.
    virtual void FocusLost() {}

protected:
    HeadlessPage& OwnerPage() const noexcept { return page_; }
    bool enabled_ = true;

private:
    HeadlessPage& page_;
};

template <typename Base> class HeadlessText : public Base, public HeadlessFocus {
public:
    template <typename... Args>
    HeadlessText(HeadlessPage& page, Args&&... args)
        : Base(std::forward<Args>(args)...), HeadlessFocus(page) {}

    void SetEnabled(bool enabled) override { enabled_ = enabled; }
    bool Enabled() const override { return enabled_; }
    void SetFocus() override { Take(); }
    bool Focused() const override { return Has(); }
    std::u16string Text() const override { return text_; }
    void SetText(std::u16string_view text) override {
        text_ = text;
        if (this->OnChange) {
            this->OnChange();
        }
    }

    // The operator types one character at the end of the text (Backspace removes the last).
    void Type(char16_t ch) {
        Take();
        if (this->KeyFilter && !this->KeyFilter(ch)) {
            return;
        }
        if (ch == u'\b') {
            if (text_.empty()) {
                return;
            }
            text_.pop_back();
        } else {
            text_.push_back(ch);
        }
        if (this->OnChange) {
            this->OnChange();
        }
    }
    void TypeText(std::u16string_view text) {
        for (char16_t ch : text) {
            Type(ch);
        }
    }

private:
    std::u16string text_;
};

using HeadlessTextField = HeadlessText<TextField>;

class HeadlessSpinField final : public HeadlessText<SpinField> {
public:
    using HeadlessText<SpinField>::HeadlessText;
    void FocusLost() override { ClampTyped(); }
};

class HeadlessChoiceList final : public ChoiceList, public HeadlessFocus {
public:
    using HeadlessFocus::HeadlessFocus;
    void SetEnabled(bool enabled) override { enabled_ = enabled; }
    bool Enabled() const override { return enabled_; }
    void SetFocus() override { Take(); }
    bool Focused() const override { return Has(); }
    void Clear() override {
        items_.clear();
        selected_ = -1;
    }
    void Add(std::u16string_view text) override { items_.emplace_back(text); }
    int Count() const override { return static_cast<int>(items_.size()); }
    std::u16string ItemText(int index) const override {
        return items_.at(static_cast<std::size_t>(index));
    }
    int Selected() const override { return selected_; }
    void Select(int index) override { selected_ = index >= 0 && index < Count() ? index : -1; }

    // The operator picks an entry.
    void Pick(int index) {
        Take();
        Select(index);
        if (OnChange) {
            OnChange();
        }
    }

private:
    std::vector<std::u16string> items_;
    int selected_ = -1;
};

class HeadlessToggle final : public ToggleButton, public HeadlessFocus {
public:
    // group < 0: a check box.
    HeadlessToggle(HeadlessPage& page, int group) : HeadlessFocus(page), group_(group) {}
    void SetEnabled(bool enabled) override { enabled_ = enabled; }
    bool Enabled() const override { return enabled_; }
    void SetFocus() override { Take(); }
    bool Focused() const override { return Has(); }
    bool Checked() const override { return checked_; }
    void SetChecked(bool checked) override;
    int Group() const noexcept { return group_; }

    // The operator clicks the control: a check box flips, a radio button is selected.
    void Click() {
        Take();
        SetChecked(group_ < 0 ? !checked_ : true);
        if (OnClick) {
            OnClick();
        }
    }

private:
    int group_;
    bool checked_ = false;
};

class HeadlessPanel final : public Panel {
public:
    explicit HeadlessPanel(HeadlessPage& page) : page_(page) {}
    void BringToFront() override;

private:
    HeadlessPage& page_;
};

class HeadlessPage final : public PageWindow {
public:
    HeadlessPage(int clientWidth, int clientHeight) : width_(clientWidth), height_(clientHeight) {}

    WindowHandle Handle() const override;
    int Width() const override { return width_; }
    int Height() const override { return height_; }
    void Embed(WindowHandle parent) override {
        parent_ = parent;
        visible_ = true;
    }
    void Show() override { visible_ = true; }
    void Detach() override {
        visible_ = false;
        parent_ = nullptr;
    }
    bool Visible() const override { return visible_; }
    WindowHandle Parent() const override { return parent_; }

    void AddLabel(const Rect&, std::u16string_view text, Panel*) override {
        labels_.emplace_back(text);
    }
    TextField& AddTextField(const Rect& at, std::u16string_view hint) override;
    SpinField& AddSpinField(const Rect& at, std::int32_t minimum, std::int32_t maximum,
                            std::u16string_view hint, Panel* panel) override;
    ChoiceList& AddChoiceList(const Rect& at, Panel* panel) override;
    ToggleButton& AddRadioButton(const Rect& at, std::u16string_view caption, int group) override;
    ToggleButton& AddCheckBox(const Rect& at, std::u16string_view caption) override;
    Panel& AddPanel(const Rect& at) override;

    void Notify(WindowHandle target, std::uint32_t message) override {
        sent.emplace_back(target, message);
    }

    // A host message arriving at the page's window.
    void Deliver(std::uint32_t message) {
        if (OnMessage) {
            OnMessage(message);
        }
    }

    const std::vector<std::u16string>& Labels() const noexcept { return labels_; }
    const Panel* Front() const noexcept { return front_; }

    // Every notification sent, in order: target window and message.
    std::vector<std::pair<WindowHandle, std::uint32_t>> sent;

private:
    friend class HeadlessFocus;
    friend class HeadlessToggle;
    friend class HeadlessPanel;

    int width_;
    int height_;
    WindowHandle parent_ = nullptr;
    bool visible_ = false;
    HeadlessFocus* focus_ = nullptr;
    const Panel* front_ = nullptr;
    std::vector<std::u16string> labels_;
    std::vector<std::unique_ptr<HeadlessFocus>> controls_;
    std::vector<HeadlessToggle*> radios_;
    std::vector<std::unique_ptr<HeadlessPanel>> panels_;
};

std::unique_ptr<PageWindow> CreateHeadlessPage(int clientWidth, int clientHeight);

// Operator actions on controls of a headless page.
void Type(TextField& field, std::u16string_view text);
void Pick(ChoiceList& list, int index);
void Click(ToggleButton& button);

} // namespace vemox::platform
