// The three pages as a host sees them: a host window of its own embeds each page through the
// driver's operations, types into it with real WM_CHAR messages, sends the page messages and
// records what comes back, while message boxes are caught so that nothing waits for a person.
// Each page is also photographed into the build tree.
#include "PngWriter.h"
#include "config/Config.h"
#include "config/ItemProps.h"
#include "config/NodeProps.h"
#include "contract/Constants.h"
#include "driver/Globals.h"
#include "driver/Main.h"
#include "platform/windows/SerialPortsWin.h"
#include "unit/PageTestSupport.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vemox {
namespace {

using platform::Variant;
using testing::BoxRecorder;
using testing::FakeItem;
using testing::FakeServer;
using testing::HostCall;

std::vector<UINT> gReceived; // page notifications that reached the host window

LRESULT CALLBACK HostProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_USER + 300 && message <= WM_USER + 341) {
        gReceived.push_back(message);
        return 0;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

// Lets the window system paint everything that is waiting.
void Pump() {
    for (int round = 0; round < 5; ++round) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ::Sleep(20);
    }
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[64] = {};
    ::GetClassNameW(hwnd, name, 64);
    return name;
}

// Direct children of a window with the given class, in creation order.
std::vector<HWND> Children(HWND parent, const std::wstring& cls) {
    std::vector<HWND> out;
    for (HWND child = ::GetWindow(parent, GW_CHILD); child;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (::lstrcmpiW(ClassOf(child).c_str(), cls.c_str()) == 0) {
            out.push_back(child);
        }
    }
    return out;
}

// The page's panels that are shown: one, the operation's.
std::vector<HWND> ShownPanels(HWND page) {
    std::vector<HWND> shown;
    for (HWND panel : Children(page, L"VemoxPanel")) {
        if (::IsWindowVisible(panel)) {
            shown.push_back(panel);
        }
    }
    return shown;
}

std::u16string TextOf(HWND hwnd) {
    wchar_t text[600] = {};
    ::GetWindowTextW(hwnd, text, 600);
    return std::u16string(text, text + ::lstrlenW(text));
}

// The operator replaces the field's text by typing.
void TypeInto(HWND edit, std::u16string_view keys) {
    ::SendMessageW(edit, EM_SETSEL, 0, -1);
    for (char16_t key : keys) {
        ::SendMessageW(edit, WM_CHAR, key, 1);
    }
}

class Pages : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WNDCLASSEXW cls{};
        cls.cbSize = sizeof cls;
        cls.lpfnWndProc = HostProc;
        cls.hInstance = ::GetModuleHandleW(nullptr);
        cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        cls.lpszClassName = L"VemoxTestHost";
        ::RegisterClassExW(&cls);
        ::CreateDirectoryW(L"screenshots", nullptr);
    }

    void SetUp() override {
        GetKibDriver2(&driver);
        driver->Initial(&server, nullptr, nullptr, nullptr, nullptr, nullptr);
        host =
            ::CreateWindowExW(0, L"VemoxTestHost", L"Host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10,
                              10, 380, 260, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(host, nullptr);
        Pump();
        gReceived.clear();
    }
    void TearDown() override {
        if (child && ::GetParent(child) == host) {
            ::SendMessageW(child, WM_PAGE_DETACH, 0, 0); // the page outlives the host window
        }
        driver->Deinitial();
        ::DestroyWindow(host);
        DriverSettings = TDriverSettings{};
    }

    // The page's window is a shown child of the host at (0, 0) with the size reported.
    void ExpectEmbedded(int expectedWidth, int expectedHeight) {
        EXPECT_EQ(::GetParent(child), host);
        EXPECT_TRUE(::GetWindowLongPtrW(child, GWL_STYLE) & WS_CHILD);
        EXPECT_TRUE(::IsWindowVisible(child));
        RECT r{};
        ::GetWindowRect(child, &r);
        POINT origin{0, 0};
        ::ClientToScreen(host, &origin);
        EXPECT_EQ(r.left, origin.x);
        EXPECT_EQ(r.top, origin.y);
        EXPECT_EQ(r.right - r.left, width);
        EXPECT_EQ(r.bottom - r.top, height);
        EXPECT_EQ(width, expectedWidth);
        EXPECT_EQ(height, expectedHeight);
    }
    void ExpectDetached() {
        ::SendMessageW(child, WM_PAGE_DETACH, 0, 0);
        EXPECT_EQ(::GetParent(child), nullptr);
        EXPECT_FALSE(::IsWindowVisible(child));
    }
    // Photographs the host window with the page in it and checks that something is drawn.
    void Photograph(const char* name) {
        ::RedrawWindow(host, nullptr, nullptr,
                       RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        Pump();
        const testing::Image image = testing::Capture(child);
        EXPECT_GT(image.Colours(), 3u) << name << " looks blank";
        EXPECT_TRUE(testing::WritePng(image, std::string("screenshots\\") + name + ".png"));
    }

    // Opens an existing item on the item page, as the host's dialog does; its saves are
    // recorded in `calls`.
    void OpenItem(std::u16string_view itemName, PropertySet& node, PropertySet& item) {
        testing::RecordSaves(saved, calls);
        KibShortString name;
        GetShortString(itemName, name);
        ASSERT_TRUE(driver->ChangeChildItem(host, &saved, name, 0, node.get(), item.get(),
                                            reinterpret_cast<WindowHandle*>(&child), &width,
                                            &height));
    }

    IKibDriver3* driver = nullptr;
    FakeServer server;
    FakeItem saved;
    std::vector<HostCall> calls;
    HWND host = nullptr;
    BoxRecorder boxes;
    HWND child = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

TEST_F(Pages, SettingsPageIsEmbeddedTypedIntoSavedAndDetached) {
    ASSERT_TRUE(
        driver->ConfigCreate(host, reinterpret_cast<WindowHandle*>(&child), &width, &height));
    ExpectEmbedded(280, 171);
    const std::vector<HWND> edits = Children(child, L"Edit");
    ASSERT_EQ(edits.size(), 3u);
    EXPECT_EQ(TextOf(edits[0]), u"3");
    EXPECT_EQ(TextOf(edits[2]), u"60");
    EXPECT_TRUE(gReceived.empty()) << "embedding is no edit";

    // The operator gives a slow line five seconds; the picture shows the page so.
    TypeInto(edits[0], u"5");
    EXPECT_EQ(gReceived, std::vector<UINT>{WM_SETTINGS_CHANGED});
    Photograph("settings");

    gReceived.clear();
    TypeInto(edits[0], u"7x");
    EXPECT_EQ(TextOf(edits[0]), u"7x");
    EXPECT_EQ(gReceived, std::vector<UINT>(2, WM_SETTINGS_CHANGED));

    ::SendMessageW(child, WM_SETTINGS_SAVE, 0, 0);
    using Pair = std::pair<std::string, std::string>;
    EXPECT_EQ(server.saved, (std::vector<Pair>{{"WaitTimeout", "1000"},
                                               {"CountTry", "3"},
                                               {"TimeNextSend", "60000"},
                                               {"CalcCRC", "-1"}}))
        << "a text that is no number reads as the minimum";

    // Leaving a field clamps what was typed into it.
    ::SetFocus(edits[1]);
    TypeInto(edits[1], u"500");
    ::SetFocus(edits[2]);
    EXPECT_EQ(TextOf(edits[1]), u"100");

    ::SendMessageW(child, WM_SETTINGS_RELOAD, 0, 0);
    EXPECT_EQ(TextOf(edits[0]), u"1");
    EXPECT_EQ(TextOf(edits[1]), u"3");
    ExpectDetached();
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Pages, NodePageFiltersTypedCharactersAndSavesThroughTheHostObject) {
    FakeItem parentItem;
    testing::RecordSaves(parentItem, calls);
    ASSERT_TRUE(driver->AddNodeCreate(host, &parentItem, reinterpret_cast<WindowHandle*>(&child),
                                      &width, &height));
    ExpectEmbedded(283, 201);
    const std::vector<HWND> edits = Children(child, L"Edit");
    ASSERT_EQ(edits.size(), 5u); // name, description, scan rate, address, serial number
    const std::vector<HWND> lists = Children(child, L"ComboBox");
    ASSERT_EQ(lists.size(), 1u);
    const std::vector<HWND> radios = Children(child, L"Button");
    ASSERT_EQ(radios.size(), 2u);
    EXPECT_EQ(::SendMessageW(radios[0], BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_TRUE(::IsWindowEnabled(edits[3]));
    EXPECT_FALSE(::IsWindowEnabled(edits[4]));

    TypeInto(edits[0], u"Ж S-1._\u00E9");
    EXPECT_EQ(TextOf(edits[0]), u"S1_\u00E9");
    EXPECT_EQ(gReceived, std::vector<UINT>(4, WM_NODE_CHANGED));
    TypeInto(edits[0], u"Hopper_1");
    TypeInto(edits[1], u"Бункер дозатора");
    gReceived.clear();

    // The list holds what the system lists, filtered; without a port the save asks for one.
    const std::vector<std::u16string> ports = platform::ReadSerialPortNames();
    const LRESULT count = ::SendMessageW(lists[0], CB_GETCOUNT, 0, 0);
    if (count == 0) {
        ::SendMessageW(child, WM_NODE_ADD, 0, 0);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].text, "Выберите COM порт");
        GTEST_SKIP() << "this system lists no serial ports";
    }
    EXPECT_EQ(::SendMessageW(lists[0], CB_GETCURSEL, 0, 0), 0);

    ::SendMessageW(child, WM_NODE_ADD, 0, 0);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(calls[0].add);
    EXPECT_EQ(calls[0].kind, 1);
    EXPECT_EQ(calls[0].name, "Hopper_1");
    EXPECT_EQ(calls[0].records.size(), 6u);
    EXPECT_EQ(calls[0].records[3].value, "BOOL:-1");
    EXPECT_EQ(gReceived, std::vector<UINT>{WM_NODE_SAVED});
    Photograph("node");

    parentItem.answer = kOpcDuplicateName;
    gReceived.clear();
    ::SendMessageW(child, WM_NODE_ADD, 0, 0);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].caption, "Не верное имя узла");
    EXPECT_EQ(boxes.boxes[0].flags, 0x2030u);
    EXPECT_TRUE(gReceived.empty());

    ExpectDetached();
    EXPECT_EQ(parentItem.refs(), 0);
    ::SendMessageW(child, WM_NODE_ADD, 0, 0);
    EXPECT_EQ(calls.size(), 2u) << "no host object after detaching";
}

TEST_F(Pages, ItemPageShowsTheWeightPointPanelAndUpdatesTheItem) {
    PropertySet node;
    node.Append(kPropScanRate, VT_R4, u"Частота опроса", Variant::Int64(1000));
    PropertySet item;
    item.Append(kPropDescription, VT_BSTR, u"Описание переменной", Variant::Text(u"Уровень"));
    item.Append(kPropOperation, VT_BSTR, u"Операция", Variant::Text(u"Весовые точки"));
    item.Append(kPropWeightPoint, VT_UI1, u"Номер весовой точки", Variant::Int32(2));
    item.Append(kPropWeightPointLevel, VT_UI1, u"Нижний/верхний уровень весовой точки",
                Variant::Int32(1));
    OpenItem(u"Level_2", node, item);
    ExpectEmbedded(326, 187);
    EXPECT_TRUE(gReceived.empty()) << "loading is no edit";

    const std::vector<HWND> shown = ShownPanels(child);
    ASSERT_EQ(shown.size(), 1u) << "one panel in front";
    ASSERT_EQ(Children(shown[0], L"ComboBox").size(), 1u) << "the weight-point panel";
    HWND level = Children(shown[0], L"ComboBox")[0];
    EXPECT_EQ(::SendMessageW(level, CB_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(TextOf(Children(shown[0], L"Edit")[0]), u"2");
    Photograph("item");

    ::SendMessageW(child, WM_ITEM_UPDATE, 0, 0);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_FALSE(calls[0].add);
    EXPECT_EQ(calls[0].name, "Level_2");
    EXPECT_EQ(calls[0].records[7].value, "BSTR:Весовые точки");
    EXPECT_EQ(calls[0].records[11].value, "I4:2");
    EXPECT_EQ(calls[0].records[12].value, "I4:1");
    EXPECT_EQ(gReceived, std::vector<UINT>{WM_ITEM_SAVED});

    // The operator picks "Счетчик" in the operation list: its panel comes to the front.
    HWND operation = Children(child, L"ComboBox")[0];
    ::SendMessageW(operation, CB_SETCURSEL, 0, 0);
    ::SendMessageW(child, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(operation), CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(operation));
    EXPECT_FALSE(::IsWindowVisible(shown[0]));
    gReceived.clear();
    TypeInto(Children(child, L"Edit")[0], u"Весы");
    EXPECT_EQ(TextOf(Children(child, L"Edit")[0]), u"Level_2") << "Cyrillic never gets in";
    EXPECT_TRUE(gReceived.empty());

    ::SendMessageW(child, WM_ITEM_RELOAD, 0, 0);
    EXPECT_TRUE(::IsWindowVisible(shown[0]));
    ExpectDetached();
    EXPECT_EQ(saved.refs(), 0);
}

TEST_F(Pages, ItemPageSavesAndReloadsALinkDiagnosticItem) {
    PropertySet node;
    node.Append(kPropScanRate, VT_R4, u"Частота опроса", Variant::Int64(1000));
    PropertySet item;
    item.Append(kPropDescription, VT_BSTR, u"Описание переменной",
                Variant::Text(u"Ответы не по запросу"));
    item.Append(kPropOperation, VT_BSTR, u"Операция", Variant::Text(u"Диагностика связи"));
    item.Append(kPropLinkFigure, VT_UI1, u"Показатель связи", Variant::Int32(4));
    OpenItem(u"Hopper_mismatch", node, item);
    const std::vector<HWND> shown = ShownPanels(child);
    ASSERT_EQ(shown.size(), 1u) << "one panel in front";
    ASSERT_EQ(Children(shown[0], L"ComboBox").size(), 1u) << "the figure list";
    HWND figures = Children(shown[0], L"ComboBox")[0];
    EXPECT_EQ(::SendMessageW(figures, CB_GETCOUNT, 0, 0), kLinkFigureCount);
    EXPECT_EQ(::SendMessageW(figures, CB_GETCURSEL, 0, 0), 4);
    Photograph("item-diagnostics");

    // The operator picks "Нет ответа" and saves: the figure and its data type are stored.
    ::SendMessageW(figures, CB_SETCURSEL, 2, 0);
    ::SendMessageW(::GetParent(figures), WM_COMMAND,
                   MAKEWPARAM(::GetDlgCtrlID(figures), CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(figures));
    ::SendMessageW(child, WM_ITEM_UPDATE, 0, 0);
    ASSERT_EQ(calls.size(), 1u);
    ASSERT_EQ(calls[0].records.size(), 15u);
    EXPECT_EQ(calls[0].records[0].value, "I4:5");
    EXPECT_EQ(calls[0].records[4].value, "I4:1");
    EXPECT_EQ(calls[0].records[7].value, "BSTR:Диагностика связи");
    EXPECT_EQ(calls[0].records[14].value, "I4:2");

    ::SendMessageW(child, WM_ITEM_RELOAD, 0, 0);
    EXPECT_EQ(::SendMessageW(figures, CB_GETCURSEL, 0, 0), 4) << "the stored figure again";
    ExpectDetached();
    EXPECT_EQ(saved.refs(), 0);
}

// Stands for a host without administrator rights: any request beyond reading is refused.
LONG WINAPI OpenAsUser(HKEY root, LPCWSTR path, DWORD options, REGSAM access, PHKEY key) {
    constexpr REGSAM kWriting =
        KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;
    if (access & kWriting) {
        return ERROR_ACCESS_DENIED;
    }
    return ::RegOpenKeyExW(root, path, options, access, key);
}

constexpr wchar_t kTestKey[] = L"Software\\VemoxPagesTest\\serialcomm";

// Reads a key of the test's own instead of the system's list.
LONG WINAPI OpenTestKey(HKEY, LPCWSTR, DWORD options, REGSAM access, PHKEY key) {
    return OpenAsUser(HKEY_CURRENT_USER, kTestKey, options, access, key);
}

TEST(SerialPortList, IsReadWithoutAskingForWriteAccess) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kTestKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                &key, nullptr),
              ERROR_SUCCESS);
    auto text = [key](const wchar_t* name, const wchar_t* data) {
        ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                         static_cast<DWORD>((::lstrlenW(data) + 1) * sizeof(wchar_t)));
    };
    text(L"\\Device\\Serial0", L"COM3");
    const DWORD number = 7;
    ::RegSetValueExW(key, L"\\Device\\Odd", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                     sizeof number);
    text(L"\\Device\\Serial1", L"COM10");
    text(L"\\Device\\Virtual", L"CNCA0");
    ::RegCloseKey(key);

    EXPECT_EQ(platform::ReadSerialPortNamesWith(OpenTestKey),
              (std::vector<std::u16string>{u"COM3", u"COM10", u"CNCA0"}))
        << "enumeration order, text values only";
    EXPECT_EQ(platform::ReadSerialPortNamesWith(OpenAsUser),
              platform::ReadSerialPortNamesWith(::RegOpenKeyExW))
        << "a host without administrator rights sees the same ports";
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\VemoxPagesTest");
}

} // namespace
} // namespace vemox
