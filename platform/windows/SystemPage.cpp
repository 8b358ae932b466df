// Page windows made of real Windows child windows and common controls. A page is a borderless
// pop-up window created hidden and without parent; embedding turns it into a child of the
// host's window. Control notifications and the host's messages reach the page logic from the
// window procedures below; no exception ever leaves one of them, and each holds the driver's
// floating-point state, as the host pumps the messages in its own.
#include "platform/Controls.h"
#include "platform/FloatEnvironment.h"

#include "platform/Types.h"

#include <commctrl.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vemox::platform {
namespace {

constexpr wchar_t kPageClass[] = L"VemoxPage";
constexpr wchar_t kPanelClass[] = L"VemoxPanel";
constexpr UINT kFirstHostMessage = WM_USER + 300;
constexpr UINT kLastHostMessage = WM_USER + 341;
constexpr int kFontHeight = 11; // pixels, the pages' "MS Sans Serif" 8 pt

std::wstring Wide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

HINSTANCE ModuleInstance() {
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&ModuleInstance), &module);
    return module;
}

// What every control window carries in its user data: the object its notifications go to.
class Win32Handle {
public:
    Win32Handle() = default;
    Win32Handle(const Win32Handle&) = delete;
    Win32Handle& operator=(const Win32Handle&) = delete;
    virtual ~Win32Handle() = default;

    virtual void Command(WORD) {}
    // Whether a typed character may reach the edit control.
    virtual bool Accept(wchar_t) { return true; }
    virtual void FocusLost() {}

    HWND hwnd = nullptr;
    WNDPROC original = nullptr;
};

Win32Handle* HandleOf(HWND hwnd) {
    return reinterpret_cast<Win32Handle*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

void Dispatch(LPARAM source, WPARAM wParam) {
    if (Win32Handle* control = source ? HandleOf(reinterpret_cast<HWND>(source)) : nullptr) {
        control->Command(HIWORD(wParam));
    }
}

// Edit controls pass every typed character through the page's key filter first.
LRESULT CALLBACK EditProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const DriverFloatScope floatScope;
    Win32Handle* control = HandleOf(hwnd);
    if (!control || !control->original) {
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
    try {
        if (message == WM_CHAR && !control->Accept(static_cast<wchar_t>(wParam))) {
            return 0;
        }
        if (message == WM_KILLFOCUS) {
            const LRESULT result =
                ::CallWindowProcW(control->original, hwnd, message, wParam, lParam);
            control->FocusLost();
            return result;
        }
    } catch (...) {
        return 0; // the message is dropped rather than unwinding through the message loop
    }
    return ::CallWindowProcW(control->original, hwnd, message, wParam, lParam);
}

LRESULT CALLBACK PanelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const DriverFloatScope floatScope;
    if (message == WM_COMMAND) {
        try {
            Dispatch(lParam, wParam);
        } catch (...) {
            // an event of the page logic failed; the window stays usable
        }
        return 0;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Windows keeps a class that a library registered after the library is unloaded. Left behind,
// it makes the next load's registration fail (no page, no settings) while its procedure points
// at code that is gone. So the classes live exactly as long as some page does, and unloading,
// which frees every page, takes them away.
int gClassUsers = 0;

void RegisterOrReplace(const WNDCLASSEXW& cls) {
    if (::RegisterClassExW(&cls) != 0) {
        return;
    }
    // Left by an earlier load that did not clean up: its procedure is not ours.
    if (::GetLastError() == ERROR_CLASS_ALREADY_EXISTS &&
        ::UnregisterClassW(cls.lpszClassName, cls.hInstance) && ::RegisterClassExW(&cls) != 0) {
        return;
    }
    throw std::runtime_error("page window class");
}

void RegisterClasses() {
    INITCOMMONCONTROLSEX common{sizeof common,
                                ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&common);
    WNDCLASSEXW page{};
    page.cbSize = sizeof page;
    page.lpfnWndProc = PageProc;
    page.hInstance = ModuleInstance();
    page.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    page.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    page.lpszClassName = kPageClass;
    WNDCLASSEXW panel = page;
    panel.lpfnWndProc = PanelProc;
    panel.lpszClassName = kPanelClass;
    RegisterOrReplace(page);
    try {
        RegisterOrReplace(panel);
    } catch (...) {
        ::UnregisterClassW(kPageClass, page.hInstance);
        throw;
    }
}

// Held by every page for its whole life, windows included.
class PageClasses {
public:
    PageClasses() {
        if (gClassUsers == 0) {
            RegisterClasses();
        }
        ++gClassUsers;
    }
    ~PageClasses() {
        if (--gClassUsers == 0) {
            ::UnregisterClassW(kPanelClass, ModuleInstance());
            ::UnregisterClassW(kPageClass, ModuleInstance());
        }
    }
    PageClasses(const PageClasses&) = delete;
    PageClasses& operator=(const PageClasses&) = delete;
};

HWND MakeWindow(DWORD exStyle, const wchar_t* cls, std::u16string_view text, DWORD style,
                const Rect& at, HWND parent, HFONT font) {
    static int nextId = 100;
    HWND hwnd = ::CreateWindowExW(
        exStyle, cls, Wide(text).c_str(), style, at.left, at.top, at.width, at.height, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(nextId++)), ModuleInstance(), nullptr);
    if (!hwnd) {
        throw std::runtime_error("control window");
    }
    ::SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return hwnd;
}

template <typename Base> class Win32Common : public Base, public Win32Handle {
public:
    template <typename... Args> explicit Win32Common(Args&&... args) : Base(args...) {}
    void SetEnabled(bool enabled) override { ::EnableWindow(hwnd, enabled ? TRUE : FALSE); }
    bool Enabled() const override { return ::IsWindowEnabled(hwnd) != FALSE; }
    void SetFocus() override { ::SetFocus(hwnd); }
    bool Focused() const override { return ::GetFocus() == hwnd; }
};

template <typename Base> class Win32Text : public Win32Common<Base> {
public:
    using Win32Common<Base>::Win32Common;

    std::u16string Text() const override {
        const int length = ::GetWindowTextLengthW(this->hwnd);
        std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
        const int read = ::GetWindowTextW(this->hwnd, text.data(), length + 1);
        return std::u16string(text.begin(), text.begin() + read);
    }
    // The change event runs once, whatever the edit control itself reports for the new text.
    void SetText(std::u16string_view text) override {
        setting_ = true;
        ::SetWindowTextW(this->hwnd, Wide(text).c_str());
        setting_ = false;
        if (this->OnChange) {
            this->OnChange();
        }
    }
    void Command(WORD code) override {
        if (code == EN_CHANGE && !setting_ && this->OnChange) {
            this->OnChange();
        }
    }
    bool Accept(wchar_t ch) override {
        return !this->KeyFilter || this->KeyFilter(static_cast<char16_t>(ch));
    }

private:
    bool setting_ = false;
};

class Win32Spin final : public Win32Text<SpinField> {
public:
    Win32Spin(std::int32_t minimum, std::int32_t maximum)
        : Win32Text<SpinField>(minimum, maximum) {}
    void FocusLost() override { ClampTyped(); }
};

class Win32Choice final : public Win32Common<ChoiceList> {
public:
    void Clear() override { ::SendMessageW(hwnd, CB_RESETCONTENT, 0, 0); }
    void Add(std::u16string_view text) override {
        const std::wstring wide = Wide(text);
        ::SendMessageW(hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    }
    int Count() const override { return static_cast<int>(::SendMessageW(hwnd, CB_GETCOUNT, 0, 0)); }
    std::u16string ItemText(int index) const override {
        const LRESULT length = ::SendMessageW(hwnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
        if (length == CB_ERR) {
            throw std::out_of_range("list entry");
        }
        std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
        ::SendMessageW(hwnd, CB_GETLBTEXT, static_cast<WPARAM>(index),
                       reinterpret_cast<LPARAM>(text.data()));
        return std::u16string(text.begin(), text.begin() + length);
    }
    int Selected() const override {
        return static_cast<int>(::SendMessageW(hwnd, CB_GETCURSEL, 0, 0));
    }
    void Select(int index) override {
        ::SendMessageW(hwnd, CB_SETCURSEL, static_cast<WPARAM>(index < Count() ? index : -1), 0);
    }
    void Command(WORD code) override {
        if (code == CBN_SELCHANGE && OnChange) {
            OnChange();
        }
    }
};

class Win32Toggle final : public Win32Common<ToggleButton> {
public:
    // group < 0: a check box.
    Win32Toggle(int group, std::vector<Win32Toggle*>& radios) : group_(group), radios_(radios) {}
    bool Checked() const override { return ::SendMessageW(hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED; }
    void SetChecked(bool checked) override {
        ::SendMessageW(hwnd, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
        if (!checked || group_ < 0) {
            return;
        }
        for (Win32Toggle* other : radios_) {
            if (other != this && other->group_ == group_) {
                ::SendMessageW(other->hwnd, BM_SETCHECK, BST_UNCHECKED, 0);
            }
        }
    }
    void Command(WORD code) override {
        if (code != BN_CLICKED) {
            return;
        }
        if (group_ >= 0) {
            SetChecked(true);
        }
        if (OnClick) {
            OnClick();
        }
    }

private:
    int group_;
    std::vector<Win32Toggle*>& radios_;
};

class Win32Page;

class Win32Panel final : public Panel {
public:
    Win32Panel(Win32Page& page, HWND hwnd) : page_(page), hwnd_(hwnd) {}
    void BringToFront() override;
    HWND Hwnd() const noexcept { return hwnd_; }

private:
    Win32Page& page_;
    HWND hwnd_;
};

class Win32Page final : public PageWindow {
public:
    Win32Page(int clientWidth, int clientHeight) {
        font_ = ::CreateFontW(-kFontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                              DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                              DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");
        // A pop-up without border: the outer size is the layout's client size.
        hwnd_ = ::CreateWindowExW(WS_EX_CONTROLPARENT, kPageClass, L"", WS_POPUP | WS_CLIPCHILDREN,
                                  0, 0, clientWidth, clientHeight, nullptr, nullptr,
                                  ModuleInstance(), nullptr);
        if (!hwnd_) {
            Release();
            throw std::runtime_error("page window");
        }
        ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        tooltip_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                     WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                     CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                                     ModuleInstance(), nullptr);
    }
    ~Win32Page() override { Release(); }

    WindowHandle Handle() const override { return hwnd_; }
    int Width() const override {
        RECT r{};
        ::GetWindowRect(hwnd_, &r);
        return r.right - r.left;
    }
    int Height() const override {
        RECT r{};
        ::GetWindowRect(hwnd_, &r);
        return r.bottom - r.top;
    }

    void Embed(WindowHandle parent) override {
        if (!parent || !::IsWindow(parent)) {
            throw std::invalid_argument("host window");
        }
        const LONG_PTR style = ::GetWindowLongPtrW(hwnd_, GWL_STYLE);
        ::SetWindowLongPtrW(hwnd_, GWL_STYLE,
                            (style & ~static_cast<LONG_PTR>(WS_POPUP)) | WS_CHILD);
        ::SetLastError(0);
        if (!::SetParent(hwnd_, parent) && ::GetLastError() != 0) {
            throw std::runtime_error("SetParent");
        }
        ::SetWindowPos(hwnd_, HWND_TOP, 0, 0, Width(), Height(), SWP_SHOWWINDOW | SWP_FRAMECHANGED);
    }
    void Show() override {
        ::ShowWindow(hwnd_, SW_SHOW);
        ::BringWindowToTop(hwnd_);
    }
    void Detach() override {
        ::ShowWindow(hwnd_, SW_HIDE);
        ::SetParent(hwnd_, nullptr);
        const LONG_PTR style = ::GetWindowLongPtrW(hwnd_, GWL_STYLE);
        ::SetWindowLongPtrW(hwnd_, GWL_STYLE,
                            (style & ~static_cast<LONG_PTR>(WS_CHILD)) |
                                static_cast<LONG_PTR>(WS_POPUP));
    }
    bool Visible() const override {
        return (::GetWindowLongPtrW(hwnd_, GWL_STYLE) & WS_VISIBLE) != 0;
    }
    WindowHandle Parent() const override { return ::GetParent(hwnd_); }

    void AddLabel(const Rect& at, std::u16string_view text, Panel* panel) override {
        MakeWindow(0, L"STATIC", text, WS_CHILD | WS_VISIBLE | SS_LEFT, at, Container(panel),
                   font_);
    }
    TextField& AddTextField(const Rect& at, std::u16string_view hint) override {
        auto field = std::make_unique<Win32Text<TextField>>();
        Attach(*field,
               MakeWindow(WS_EX_CLIENTEDGE, L"EDIT", u"",
                          WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, at, hwnd_, font_));
        Subclass(*field, hint);
        return Keep(std::move(field));
    }
    SpinField& AddSpinField(const Rect& at, std::int32_t minimum, std::int32_t maximum,
                            std::u16string_view hint, Panel* panel) override {
        auto field = std::make_unique<Win32Spin>(minimum, maximum);
        HWND parent = Container(panel);
        Attach(*field,
               MakeWindow(WS_EX_CLIENTEDGE, L"EDIT", u"",
                          WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, at, parent, font_));
        HWND arrows = MakeWindow(0, UPDOWN_CLASSW, u"",
                                 WS_CHILD | WS_VISIBLE | UDS_SETBUDDYINT | UDS_ALIGNRIGHT |
                                     UDS_ARROWKEYS | UDS_NOTHOUSANDS,
                                 Rect{0, 0, 0, 0}, parent, font_);
        ::SendMessageW(arrows, UDM_SETBUDDY, reinterpret_cast<WPARAM>(field->hwnd), 0);
        ::SendMessageW(arrows, UDM_SETRANGE32, static_cast<WPARAM>(minimum),
                       static_cast<LPARAM>(maximum));
        Subclass(*field, hint);
        return Keep(std::move(field));
    }
    ChoiceList& AddChoiceList(const Rect& at, Panel* panel) override {
        auto list = std::make_unique<Win32Choice>();
        Attach(*list, MakeWindow(0, L"COMBOBOX", u"",
                                 WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST,
                                 at, Container(panel), font_));
        return Keep(std::move(list));
    }
    ToggleButton& AddRadioButton(const Rect& at, std::u16string_view caption, int group) override {
        const bool first = groups_.empty() || groups_.back() != group;
        groups_.push_back(group);
        auto button = std::make_unique<Win32Toggle>(group < 0 ? 0 : group, radios_);
        Attach(*button, MakeWindow(0, L"BUTTON", caption,
                                   WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTORADIOBUTTON |
                                       (first ? WS_GROUP : 0),
                                   at, hwnd_, font_));
        radios_.push_back(button.get());
        return Keep(std::move(button));
    }
    ToggleButton& AddCheckBox(const Rect& at, std::u16string_view caption) override {
        auto box = std::make_unique<Win32Toggle>(-1, radios_);
        Attach(*box,
               MakeWindow(0, L"BUTTON", caption,
                          WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, at, hwnd_, font_));
        return Keep(std::move(box));
    }
    Panel& AddPanel(const Rect& at) override {
        HWND hwnd = MakeWindow(WS_EX_CONTROLPARENT, kPanelClass, u"", WS_CHILD | WS_CLIPSIBLINGS,
                               at, hwnd_, font_);
        panels_.push_back(std::make_unique<Win32Panel>(*this, hwnd));
        return *panels_.back();
    }

    void Notify(WindowHandle target, std::uint32_t message) override {
        ::SendMessageW(target, message, 0, 0);
    }

    void Front(const Win32Panel& front) {
        for (const auto& panel : panels_) {
            if (panel.get() != &front) {
                ::ShowWindow(panel->Hwnd(), SW_HIDE);
            }
        }
        ::SetWindowPos(front.Hwnd(), HWND_TOP, 0, 0, 0, 0,
                       SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    }

    void Deliver(UINT message) {
        if (OnMessage) {
            OnMessage(message);
        }
    }

private:
    HWND Container(Panel* panel) const {
        return panel ? static_cast<Win32Panel*>(panel)->Hwnd() : hwnd_;
    }
    void Attach(Win32Handle& control, HWND hwnd) {
        control.hwnd = hwnd;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&control));
    }
    void Subclass(Win32Handle& control, std::u16string_view hint) {
        control.original = reinterpret_cast<WNDPROC>(
            ::SetWindowLongPtrW(control.hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(EditProc)));
        if (hint.empty() || !tooltip_) {
            return;
        }
        std::wstring text = Wide(hint);
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = hwnd_;
        tool.uId = reinterpret_cast<UINT_PTR>(control.hwnd);
        tool.lpszText = text.data();
        ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    template <typename T> T& Keep(std::unique_ptr<T> control) {
        T& result = *control;
        controls_.push_back(std::move(control));
        return result;
    }
    void Release() noexcept {
        if (hwnd_) {
            ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
            ::DestroyWindow(hwnd_); // also the tooltip and every control
            hwnd_ = nullptr;
        }
        if (font_) {
            ::DeleteObject(font_);
            font_ = nullptr;
        }
    }

    // First member: the classes stay registered until the windows below are gone.
    PageClasses classes_;
    HWND hwnd_ = nullptr;
    HWND tooltip_ = nullptr;
    HFONT font_ = nullptr;
    std::vector<std::unique_ptr<Win32Handle>> controls_;
    std::vector<Win32Toggle*> radios_;
    std::vector<int> groups_;
    std::vector<std::unique_ptr<Win32Panel>> panels_;
};

void Win32Panel::BringToFront() {
    page_.Front(*this);
}

LRESULT CALLBACK PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const DriverFloatScope floatScope;
    auto* page = reinterpret_cast<Win32Page*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    try {
        if (page && message >= kFirstHostMessage && message <= kLastHostMessage) {
            page->Deliver(message);
            return 0;
        }
        if (message == WM_COMMAND) {
            Dispatch(lParam, wParam);
            return 0;
        }
    } catch (...) {
        return 0; // the page logic failed; the host's message loop goes on
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

} // namespace

std::unique_ptr<PageWindow> CreateSystemPage(int clientWidth, int clientHeight) {
    return std::make_unique<Win32Page>(clientWidth, clientHeight);
}

} // namespace vemox::platform
