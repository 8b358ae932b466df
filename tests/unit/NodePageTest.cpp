#include "PageTestSupport.h"
#include "config/ItemProps.h"
#include "config/NodeProps.h"
#include "config/PropertySet.h"
#include "contract/Constants.h"
#include "driver/Main.h"

#include <gtest/gtest.h>

#include <memory>

namespace vemox {
namespace {

using platform::Click;
using platform::Pick;
using platform::Type;
using platform::Variant;
using testing::BoxRecorder;
using testing::FakeItem;
using testing::Headless;
using testing::HostCall;
using testing::HostWindow;
using testing::PortList;
using testing::Record;

constexpr std::uint32_t kWarningBox = 0x2030; // task-modal, warning icon, OK button

// The node set as the host stores it, with the values a test cares about.
PropertySet NodeSet(std::int32_t scanMs, Variant port, bool useAddress, Variant address,
                    Variant serial) {
    PropertySet set;
    set.Append(kPropDescription, VT_BSTR, u"Описание узла", Variant::Text(u"Линия 2"));
    set.Append(kPropScanRate, VT_R4, u"Частота опроса", Variant::Int64(scanMs));
    set.Append(kPropComPort, VT_UI1, u"COM порт", port);
    set.Append(kPropUseAddress, VT_BOOL, u"Использовать сетевой адрес", Variant::Bool(useAddress));
    set.Append(kPropAddress, VT_UI1, u"Адрес устройства", address);
    set.Append(kPropSerial, VT_UI4, u"Серийный номер", serial);
    return set;
}

std::vector<Record> NodeRecords(const std::string& description, const std::string& scan,
                                const std::string& port, const std::string& useAddress,
                                const std::string& address, const std::string& serial) {
    return {{101, VT_BSTR, "Описание узла", "BSTR:" + description},
            {6, VT_R4, "Частота опроса", "I8:" + scan},
            {5000, VT_UI1, "COM порт", "I4:" + port},
            {5001, VT_BOOL, "Использовать сетевой адрес", "BOOL:" + useAddress},
            {5002, VT_UI1, "Адрес устройства", "I8:" + address},
            {5003, VT_UI4, "Серийный номер", "I8:" + serial}};
}

class NodePage : public ::testing::Test {
protected:
    NodePage() { testing::RecordSaves(host, calls); }

    void MakePage(std::vector<std::u16string> ports) {
        PortList list(std::move(ports));
        page = std::make_unique<TfmNodeProps>(DriverPages(), platform::CreateHeadlessPage);
    }
    void Load(std::u16string_view name, PropertySet& set) {
        KibShortString text;
        page->Init(kHost, &host);
        page->SetNode(*testing::ShortText(name, text), set.get());
    }
    void Send(std::uint32_t message) { Headless(page->Window()).Deliver(message); }
    std::vector<std::uint32_t> Sent() {
        std::vector<std::uint32_t> out;
        for (const auto& [target, message] : Headless(page->Window()).sent) {
            EXPECT_EQ(target, kHost);
            out.push_back(message);
        }
        return out;
    }
    std::vector<std::u16string> Ports() const {
        std::vector<std::u16string> out;
        for (int i = 0; i < page->cbxComPort.Count(); ++i) {
            out.push_back(page->cbxComPort.ItemText(i));
        }
        return out;
    }

    const WindowHandle kHost = HostWindow(0x6100);
    FakeItem host;
    std::vector<HostCall> calls;
    BoxRecorder boxes;
    std::unique_ptr<TfmNodeProps> page;
};

TEST_F(NodePage, TheFirstSaveHandsTheHostTheFirstContent) {
    MakePage({u"COM2", u"COM5"});
    page->Init(kHost, &host);
    Send(WM_NODE_ADD);

    ASSERT_EQ(calls.size(), 1u);
    const HostCall& c = calls[0];
    EXPECT_TRUE(c.add);
    EXPECT_EQ(c.kind, 1);
    EXPECT_EQ(c.flags, 0x00010116);
    EXPECT_EQ(c.driver, PortDriver->DriverInterface());
    EXPECT_EQ(c.name, "Node");
    EXPECT_EQ(c.active, -1);
    EXPECT_EQ(c.rights, 3u);
    EXPECT_EQ(c.requested, VT_EMPTY);
    EXPECT_EQ(c.canonical, VT_EMPTY);
    EXPECT_EQ(c.euInfo, "I4:0");
    EXPECT_EQ(c.records, NodeRecords("Описание узла", "1000", "1", "-1", "1", "1"));
    EXPECT_EQ(Sent(), std::vector<std::uint32_t>{WM_NODE_SAVED});
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(NodePage, ThePortListKeepsTheRegistryOrderOfNamesFromCom1ToCom99Textually) {
    MakePage({u"COM3", u"COM10", u"CNCA0", u"COM1", u"com2", u"COM0", u"COM100", u"COM1A", u"COM3",
              u"COMA"});
    EXPECT_EQ(Ports(), (std::vector<std::u16string>{u"COM3", u"COM10", u"COM1", u"COM100", u"COM1A",
                                                    u"COM3"}));
    EXPECT_EQ(page->cbxComPort.Selected(), 0);
}

TEST_F(NodePage, SavesAreRefusedWithTheRightBoxAndNoSavedNotification) {
    struct Case {
        const char* what;
        std::vector<std::u16string> ports;
        HRESULT answer;
        std::size_t hostCalls;
        const char* text;
        const char* caption;
        bool focusOnPorts;
        bool focusOnName;
    };
    const Case cases[] = {
        {"no port", {}, S_OK, 0, "Выберите COM порт", "Добавить узел", true, false},
        {"duplicate",
         {u"COM1"},
         kOpcDuplicateName,
         1,
         "Узел с таким именем уже существует\r\nВведите другое имя узла",
         "Не верное имя узла",
         false,
         true},
        {"failure", {u"COM1"}, E_FAIL, 1, "Ошибка при добавлении узла", "Ошибка", false, false},
    };
    for (const Case& c : cases) {
        for (std::uint32_t message : {WM_NODE_ADD, WM_NODE_UPDATE}) {
            SCOPED_TRACE(std::string(c.what) + (message == WM_NODE_ADD ? " add" : " update"));
            MakePage(c.ports);
            calls.clear();
            boxes.boxes.clear();
            host.answer = c.answer;
            page->Init(kHost, &host);
            page->edtDescriptNode.SetFocus();
            Send(message);
            EXPECT_EQ(calls.size(), c.hostCalls);
            ASSERT_EQ(boxes.boxes.size(), 1u);
            EXPECT_EQ(boxes.boxes[0].text, c.text);
            EXPECT_EQ(boxes.boxes[0].caption, c.caption);
            EXPECT_EQ(boxes.boxes[0].flags, kWarningBox);
            EXPECT_EQ(page->cbxComPort.Focused(), c.focusOnPorts);
            EXPECT_EQ(page->edtNameNode.Focused(), c.focusOnName);
            EXPECT_TRUE(Sent().empty());
            EXPECT_EQ(page->edtNameNode.Text(), u"Node") << "the operator's entries stay";
        }
    }
}

TEST_F(NodePage, AnUpdateAcceptedByTheHostNotifiesOnce) {
    MakePage({u"COM1"});
    page->Init(kHost, &host);
    Send(WM_NODE_UPDATE);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_FALSE(calls[0].add);
    EXPECT_EQ(Sent(), std::vector<std::uint32_t>{WM_NODE_SAVED});
}

TEST_F(NodePage, LoadingShowsEveryStoredValueTheFieldsCanHold) {
    MakePage({u"COM1", u"COM3", u"COM10", u"COM1A"});
    struct Case {
        std::int32_t scanMs;
        Variant port;
        bool useAddress;
        Variant address;
        Variant serial;
        std::u16string scan, selectedPort, address_, serial_;
    };
    const Case cases[] = {
        {2500, Variant::Int32(9), true, Variant::Int64(17), Variant::Int64(123456), u"2", u"COM10",
         u"17", u"123456"},
        {3500, Variant::Int32(2), false, Variant::Int64(200), Variant::Int64(1000000), u"4",
         u"COM3", u"17", u"123456"},
        {10000000, Variant::Int32(4), true, Variant::Int64(159), Variant::Int64(0), u"9999", u"",
         u"159", u"0"},
        {0, Variant::Text(u"x"), true, Variant::Double(1.4), Variant::Null(), u"0", u"", u"1",
         u"0"},
    };
    for (const Case& c : cases) {
        PropertySet set = NodeSet(c.scanMs, c.port, c.useAddress, c.address, c.serial);
        Load(u"Весы 1", set);
        SCOPED_TRACE(c.scanMs);
        EXPECT_EQ(page->edtNameNode.Text(), u"Весы 1") << "set by the page, not filtered";
        EXPECT_EQ(page->edtDescriptNode.Text(), u"Линия 2");
        EXPECT_EQ(page->rxsScanRate.Text(), c.scan);
        EXPECT_EQ(page->cbxComPort.SelectedText(), c.selectedPort);
        EXPECT_EQ(page->rbtnUseAddress.Checked(), c.useAddress);
        EXPECT_EQ(page->rbtnUseSerialNumber.Checked(), !c.useAddress);
        EXPECT_EQ(page->rxsDeviceAddress.Enabled(), c.useAddress);
        EXPECT_EQ(page->rxsSerialNumber.Enabled(), !c.useAddress);
        EXPECT_EQ(page->rxsDeviceAddress.Text(), c.address_);
        EXPECT_EQ(page->rxsSerialNumber.Text(), c.serial_);
    }
    EXPECT_TRUE(Sent().empty()) << "loading is no edit";

    // The port the node was stored with is no longer listed: the save asks for one.
    Send(WM_NODE_UPDATE);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Выберите COM порт");
    EXPECT_TRUE(calls.empty());
}

TEST_F(NodePage, ASerialNumberNodeStillCarriesItsAddressAndOddPortNamesCountAsCom1) {
    MakePage({u"COM1A", u"COM7"});
    page->Init(kHost, &host);
    Click(page->rbtnUseSerialNumber);
    EXPECT_FALSE(page->rxsDeviceAddress.Enabled());
    EXPECT_TRUE(page->rxsSerialNumber.Enabled());
    page->rxsDeviceAddress.SetValue(42);
    page->rxsSerialNumber.SetValue(999999);
    page->rxsScanRate.SetValue(15);
    Send(WM_NODE_ADD);
    Pick(page->cbxComPort, 1);
    Send(WM_NODE_ADD);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].records, NodeRecords("Описание узла", "15000", "0", "0", "42", "999999"));
    EXPECT_EQ(calls[1].records[2].value, "I4:6");
}

TEST_F(NodePage, TheNameTakesOnlyTypedLatinLettersDigitsUnderscoreAndLatin1) {
    MakePage({u"COM1"});
    page->edtNameNode.SetText(u"");
    Type(page->edtNameNode, u"Ab 1-_.\tЖ\u00C0\u00FF\u0100z");
    EXPECT_EQ(page->edtNameNode.Text(), u"Ab1_\u00C0\u00FFz");
    Type(page->edtNameNode, u"\b\b");
    EXPECT_EQ(page->edtNameNode.Text(), u"Ab1_\u00C0");
}

TEST_F(NodePage, EditsNotifyTheHostWhileEmbeddedAndPortOrIdentChoicesDoNot) {
    MakePage({u"COM1", u"COM2"});
    Type(page->edtNameNode, u"x"); // detached: nobody to tell
    page->Init(kHost, &host);
    page->edtNameNode.SetText(u"");
    Type(page->edtDescriptNode, u"d");
    Type(page->rxsScanRate, u"2");
    Type(page->rxsDeviceAddress, u"\b");
    Type(page->edtNameNode, u"N");
    Pick(page->cbxComPort, 1);
    Click(page->rbtnUseSerialNumber);
    Click(page->rbtnUseAddress);
    // Emptying the name, the description, the scan rate, the address, leaving the emptied
    // address field (which sets its minimum), then the typed name.
    std::vector<std::uint32_t> expected(5, WM_NODE_CHANGED_EMPTY_NAME);
    expected.push_back(WM_NODE_CHANGED);
    EXPECT_EQ(Sent(), expected);

    // An empty name is the host's to judge.
    page->edtNameNode.SetText(u"");
    Send(WM_NODE_ADD);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].name, "");
}

TEST_F(NodePage, AfterDetachingTheHostObjectIsReleasedAndSavesDoNothing) {
    MakePage({u"COM1"});
    page->Init(kHost, &host);
    EXPECT_EQ(host.refs(), 1);
    Send(WM_PAGE_DETACH);
    EXPECT_EQ(host.refs(), 0);
    EXPECT_EQ(page->FParentHandle, nullptr);
    EXPECT_FALSE(page->Window().Visible());
    Send(WM_NODE_ADD);
    Send(WM_NODE_UPDATE);
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(NodePage, ReloadShowsTheNodeLastLoadedEvenAfterTheHostFreedItsSet) {
    MakePage({u"COM1", u"COM2"});
    {
        auto set = std::make_unique<PropertySet>(
            NodeSet(4000, Variant::Int32(1), false, Variant::Int64(9), Variant::Int64(77)));
        Load(u"Scale_1", *set);
    } // the host frees its set while the page stays open
    Type(page->edtNameNode, u"x");
    page->rxsScanRate.SetValue(60);
    Click(page->rbtnUseAddress);
    Pick(page->cbxComPort, 0);
    Send(WM_NODE_RELOAD);
    EXPECT_EQ(page->edtNameNode.Text(), u"Scale_1");
    EXPECT_EQ(page->rxsScanRate.Text(), u"4");
    EXPECT_EQ(page->cbxComPort.SelectedText(), u"COM2");
    EXPECT_TRUE(page->rbtnUseSerialNumber.Checked());
    EXPECT_EQ(page->rxsSerialNumber.Text(), u"77");

    // Detached, the page still reloads from its own copy.
    Send(WM_PAGE_DETACH);
    page->edtNameNode.SetText(u"other");
    Send(WM_NODE_RELOAD);
    EXPECT_EQ(page->edtNameNode.Text(), u"Scale_1");
}

TEST_F(NodePage, ReloadBeforeAnyNodeWasLoadedEmptiesTheNameAndThePortChoiceOnly) {
    MakePage({u"COM1"});
    page->Init(kHost, &host);
    Send(WM_NODE_RELOAD);
    EXPECT_EQ(page->edtNameNode.Text(), u"");
    EXPECT_EQ(page->cbxComPort.Selected(), -1);
    EXPECT_EQ(page->edtDescriptNode.Text(), u"Описание узла");
}

TEST_F(NodePage, ChangeChildItemOpensTheNodePageOnlyForFlagOne) {
    if (!testing::SystemPagesAreHeadless()) {
        GTEST_SKIP() << "real windows: the Windows page tests drive the driver's pages";
    }
    FakeItem node;
    PropertySet set = NodeSet(2000, Variant::Int32(0), true, Variant::Int64(5), Variant::Int64(1));
    KibShortString name;
    testing::ShortText(u"Line", name);
    WindowHandle child = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
    ASSERT_TRUE(PortDriver->ChangeChildItem(kHost, &node, name, 1, nullptr, set.get(), &child,
                                            &width, &height));
    EXPECT_EQ(child, fmNodeProps->Window().Handle());
    EXPECT_EQ(width, 283);
    EXPECT_EQ(height, 201);
    EXPECT_EQ(fmNodeProps->edtNameNode.Text(), u"Line");
    EXPECT_EQ(fmNodeProps->rxsDeviceAddress.Text(), u"5");
    EXPECT_EQ(fmNodeProps->Item(), &node);
    EXPECT_EQ(node.refs(), 1) << "the page's reference only";

    for (std::uint32_t flag : {0u, 2u, 7u}) {
        ASSERT_TRUE(PortDriver->ChangeChildItem(kHost, &node, name, flag, set.get(), nullptr,
                                                &child, &width, &height));
        EXPECT_EQ(child, fmItemProps->Window().Handle()) << flag;
    }
    ASSERT_TRUE(PortDriver->AddNodeCreate(kHost, &node, &child, &width, &height));
    EXPECT_EQ(child, fmNodeProps->Window().Handle());
    Headless(fmNodeProps->Window()).Deliver(WM_PAGE_DETACH);
    Headless(fmItemProps->Window()).Deliver(WM_PAGE_DETACH);
    EXPECT_EQ(node.refs(), 0);
}

} // namespace
} // namespace vemox
