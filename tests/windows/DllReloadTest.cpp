// A host that reloads its plug-ins frees Vemox.dll and loads it again in the same process.
// Every round here does what such a host does between the two: obtain the driver, initialise
// it, embed the settings page into a window of its own, detach it, deinitialise and unload.
// After each unload nothing of the library may be left in the process: no window, no window
// class pointing at code that is gone, no GDI object.
#include "BareHost.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace bare_host;

constexpr UINT kPageDetach = WM_USER + 304;
constexpr int kRounds = 4;

LRESULT CALLBACK HostProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

HWND CreateHostWindow() {
    WNDCLASSW host{};
    host.lpfnWndProc = HostProc;
    host.hInstance = ::GetModuleHandleW(nullptr);
    host.lpszClassName = L"ReloadTestHost";
    ::RegisterClassW(&host);
    return ::CreateWindowExW(0, L"ReloadTestHost", L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                             400, 300, nullptr, nullptr, host.hInstance, nullptr);
}

void Pump() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
    return TRUE;
}

// The top-level windows this thread owns, hidden ones included.
std::vector<HWND> ThreadWindows() {
    std::vector<HWND> windows;
    ::EnumThreadWindows(::GetCurrentThreadId(), CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// The font the page's first control draws with: one of the library's own GDI objects.
HFONT PageFont(HWND page) {
    const HWND control = ::GetWindow(page, GW_CHILD);
    return reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
}

class Library {
public:
    Library() : module_(::LoadLibraryW(LibraryPath().c_str())) {}
    ~Library() { Free(); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    HMODULE Module() const { return module_; }
    void* Driver() const {
        void* driver = nullptr;
        // FARPROC is a generic code pointer; go through void* to give it the export's type.
        const auto entry = reinterpret_cast<GetKibDriver2Fn>(
            reinterpret_cast<void*>(::GetProcAddress(module_, "GetKibDriver2")));
        if (entry) {
            entry(&driver);
        }
        return driver;
    }
    bool Free() {
        const bool freed = module_ && ::FreeLibrary(module_) != 0;
        module_ = nullptr;
        return freed;
    }

private:
    HMODULE module_;
};

struct Embedded {
    Boolean ok = 0;
    HWND child = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

Embedded EmbedSettingsPage(void* driver, HWND host) {
    Embedded page;
    page.ok = Slot<ConfigCreateFn>(driver, kConfigCreate)(driver, host, &page.child, &page.width,
                                                          &page.height);
    return page;
}

TEST(DllReload, EveryUnloadRemovesTheLibrarysWindowsClassesAndGdiObjects) {
    const HWND host = CreateHostWindow();
    ASSERT_NE(host, nullptr);
    Pump();
    const std::vector<HWND> before = ThreadWindows();

    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Library library;
        ASSERT_NE(library.Module(), nullptr) << "LoadLibrary failed, error " << ::GetLastError();
        void* driver = library.Driver();
        ASSERT_NE(driver, nullptr);

        FakeHostObject server = MakeServer();
        FakeHostObject comPort = MakeComPort();
        ShortString name{};
        ShortString descript{};
        ShortString help{};
        void* receive = nullptr;
        Slot<InitialFn>(driver, kInitial)(driver, &server, &comPort, &name, &descript, &help,
                                          &receive);
        EXPECT_NE(receive, nullptr);

        const Embedded page = EmbedSettingsPage(driver, host);
        ASSERT_EQ(page.ok, 1);
        ASSERT_NE(page.child, nullptr);
        EXPECT_EQ(::GetParent(page.child), host);
        EXPECT_EQ(page.width, 280);
        EXPECT_EQ(page.height, 171);
        Pump();
        wchar_t pageClass[256] = {};
        ASSERT_GT(::GetClassNameW(page.child, pageClass, 256), 0);
        WNDCLASSEXW registered{};
        registered.cbSize = sizeof registered;
        ASSERT_TRUE(::GetClassInfoExW(library.Module(), pageClass, &registered))
            << "the page's class is not the library's own";

        const HFONT font = PageFont(page.child);
        ASSERT_EQ(::GetObjectType(font), static_cast<DWORD>(OBJ_FONT));

        ::SendMessageW(page.child, kPageDetach, 0, 0);
        EXPECT_NE(::GetParent(page.child), host);
        EXPECT_FALSE(::IsWindowVisible(page.child));

        Slot<NoArgumentFn>(driver, kDeinitial)(driver);
        EXPECT_EQ(server.refs, 0);
        EXPECT_EQ(comPort.refs, 0);

        const HMODULE module = library.Module();
        ASSERT_TRUE(library.Free());
        Pump();
        EXPECT_FALSE(::IsWindow(page.child));
        EXPECT_EQ(ThreadWindows(), before) << "a page window outlived the library";
        WNDCLASSEXW stale{};
        stale.cbSize = sizeof stale;
        EXPECT_FALSE(::GetClassInfoExW(module, pageClass, &stale) ||
                     ::GetClassInfoExW(nullptr, pageClass, &stale))
            << "the page window class outlived the library";
        EXPECT_EQ(::GetObjectType(font), 0u) << "the page font outlived the library";
    }

    // Loaded once more after all those reloads, the driver answers and its page still works.
    Library library;
    void* driver = library.Driver();
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(Slot<AnswerFn>(driver, kIsSupportDataAccess)(driver), 1);
    const Embedded page = EmbedSettingsPage(driver, host);
    EXPECT_EQ(page.ok, 1);
    EXPECT_EQ(::GetParent(page.child), host);
    ::SendMessageW(page.child, kPageDetach, 0, 0);
    EXPECT_TRUE(library.Free());
    ::DestroyWindow(host);
}

} // namespace
