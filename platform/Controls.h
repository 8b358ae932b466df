// The controls the property pages are written against. The page logic only sees these
// interfaces; a page window made by the system (real child windows) or a headless one (plain
// state, for tests and for systems without windows) stands behind them.
#pragma once

#include "platform/Types.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vemox::platform {

struct Rect {
    int left;
    int top;
    int width;
    int height;
};

class Control {
public:
    Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;
    virtual ~Control() = default;

    virtual void SetEnabled(bool enabled) = 0;
    virtual bool Enabled() const = 0;
    virtual void SetFocus() = 0;
    virtual bool Focused() const = 0;
};

class TextField : public Control {
public:
    virtual std::u16string Text() const = 0;
    // Replaces the text as the program does: no key filter, but the change event runs.
    virtual void SetText(std::u16string_view text) = 0;

    // Runs for every change of the text, by the operator or by the program.
    std::function<void()> OnChange;
    // Sees every character the operator types before the field does; false discards it.
    std::function<bool(char16_t)> KeyFilter;
};

// A whole-number field with a range. Reading never clamps (the operator may be half-way
// through typing); setting does, and so does leaving the field.
class SpinField : public TextField {
public:
    SpinField(std::int32_t minimum, std::int32_t maximum) : min_(minimum), max_(maximum) {}

    std::int32_t Minimum() const noexcept { return min_; }
    std::int32_t Maximum() const noexcept { return max_; }
    // The integer in the text, or the minimum when the text is no integer.
    std::int32_t Value() const;
    void SetValue(std::int64_t value);
    // What leaving the field does to a typed value.
    void ClampTyped();

private:
    std::int32_t min_;
    std::int32_t max_;
};

class ChoiceList : public Control {
public:
    virtual void Clear() = 0;
    virtual void Add(std::u16string_view text) = 0;
    virtual int Count() const = 0;
    virtual std::u16string ItemText(int index) const = 0;
    // -1 when nothing is selected.
    virtual int Selected() const = 0;
    // Selects as the program does; OnChange does not run.
    virtual void Select(int index) = 0;

    std::u16string SelectedText() const;

    // Runs when the operator picks an entry.
    std::function<void()> OnChange;
};

class ToggleButton : public Control {
public:
    virtual bool Checked() const = 0;
    // Sets the state as the program does; OnClick does not run. Checking a radio button
    // clears the others of its group.
    virtual void SetChecked(bool checked) = 0;

    // Runs when the operator clicks the control.
    std::function<void()> OnClick;
};

class Panel {
public:
    Panel() = default;
    Panel(const Panel&) = delete;
    Panel& operator=(const Panel&) = delete;
    virtual ~Panel() = default;
    virtual void BringToFront() = 0;
};

// A borderless top-level window that the host re-parents into its own dialogs.
class PageWindow {
public:
    PageWindow() = default;
    PageWindow(const PageWindow&) = delete;
    PageWindow& operator=(const PageWindow&) = delete;
    virtual ~PageWindow() = default;

    virtual WindowHandle Handle() const = 0;
    // Real outer size in pixels.
    virtual int Width() const = 0;
    virtual int Height() const = 0;

    // Makes the page a child of the host window at (0, 0), on top, with its own size, shown.
    virtual void Embed(WindowHandle parent) = 0;
    virtual void Show() = 0;
    // Hides the page and makes it a window without parent again.
    virtual void Detach() = 0;
    virtual bool Visible() const = 0;
    virtual WindowHandle Parent() const = 0;

    // Controls are placed relative to the page or, when a panel is given, to that panel.
    virtual void AddLabel(const Rect& at, std::u16string_view text, Panel* panel = nullptr) = 0;
    virtual TextField& AddTextField(const Rect& at, std::u16string_view hint) = 0;
    virtual SpinField& AddSpinField(const Rect& at, std::int32_t minimum, std::int32_t maximum,
                                    std::u16string_view hint, Panel* panel = nullptr) = 0;
    virtual ChoiceList& AddChoiceList(const Rect& at, Panel* panel = nullptr) = 0;
    // Radio buttons with the same group number exclude each other.
    virtual ToggleButton& AddRadioButton(const Rect& at, std::u16string_view caption,
                                         int group) = 0;
    virtual ToggleButton& AddCheckBox(const Rect& at, std::u16string_view caption) = 0;
    virtual Panel& AddPanel(const Rect& at) = 0;

    // Sends a notification with both parameters 0 to a host window and waits until the host
    // has handled it.
    virtual void Notify(WindowHandle target, std::uint32_t message) = 0;

    // Host messages (WM_USER + 300 .. + 341) that reach the page's window.
    std::function<void(std::uint32_t message)> OnMessage;
};

using PageWindowFactory =
    std::function<std::unique_ptr<PageWindow>(int clientWidth, int clientHeight)>;

// The page windows of this system (real windows where there is a window system).
std::unique_ptr<PageWindow> CreateSystemPage(int clientWidth, int clientHeight);

} // namespace vemox::platform
