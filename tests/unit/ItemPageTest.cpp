#include "PageTestSupport.h"
#include "config/ItemProps.h"
#include "config/PropertySet.h"
#include "contract/Constants.h"
#include "driver/Main.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>

namespace vemox {
namespace {

using platform::Pick;
using platform::Type;
using platform::Variant;
using testing::BoxRecorder;
using testing::FakeItem;
using testing::FixedClock;
using testing::Headless;
using testing::HostCall;
using testing::HostWindow;
using testing::Record;

constexpr double kSaveTime = 47000.25; // 2028-09-03 06:00 local
constexpr std::uint32_t kWarningBox = 0x2030;

PropertySet NodeWithRate(std::optional<std::int64_t> scanMs) {
    PropertySet set;
    set.Append(kPropDescription, VT_BSTR, u"Описание узла", Variant::Text(u"n"));
    set.Append(kPropScanRate, VT_R4, u"Частота опроса",
               scanMs ? Variant::Int64(*scanMs) : Variant::Null());
    return set;
}

// An item set as the host keeps it; only the records a test names.
PropertySet ItemSet(std::initializer_list<std::pair<std::int32_t, Variant>> records) {
    PropertySet set;
    for (const auto& [id, value] : records) {
        set.Append(id, VT_VARIANT, u"", value);
    }
    return set;
}

// The fourteen records of a saved item; `params` are the values of 5005 to 5010. A diagnostic
// item has a fifteenth, the figure it reads.
std::vector<Record> ItemRecords(int canonical, int rights, const std::string& description,
                                const std::string& scan, const std::string& operation,
                                const std::array<std::string, 6>& params,
                                const std::string& figure = "") {
    std::vector<Record> records{{1, VT_I2, "Тип переменной", "I4:" + std::to_string(canonical)},
                                {2, VT_VARIANT, "Значение переменной", "I4:0"},
                                {3, VT_I2, "Качество переменной", "I4:64"},
                                {4, VT_DATE, "Метка времени", "DATE:" + std::to_string(kSaveTime)},
                                {5, VT_I4, "Права доступа", "I4:" + std::to_string(rights)},
                                {101, VT_BSTR, "Описание переменной", "BSTR:" + description},
                                {6, VT_R4, "Частота опроса", scan},
                                {5004, VT_BSTR, "Операция", "BSTR:" + operation},
                                {5005, VT_UI1, "Номер счетчика", params[0]},
                                {5006, VT_UI1, "Номер дискретного входа", params[1]},
                                {5007, VT_UI1, "Номер дискретного выхода", params[2]},
                                {5008, VT_UI1, "Номер весовой точки", params[3]},
                                {5009, VT_UI1, "Нижний/верхний уровень весовой точки", params[4]},
                                {5010, VT_UI1, "Номер бита состояния", params[5]}};
    if (!figure.empty()) {
        records.push_back({5011, VT_UI1, "Показатель связи", figure});
    }
    return records;
}

const std::array<std::string, 6> kNoParams{"NULL", "NULL", "NULL", "NULL", "NULL", "NULL"};

class ItemPage : public ::testing::Test {
protected:
    ItemPage() { testing::RecordSaves(host, calls); }

    void Add(PropertySet& node) { page.Init(kHost, &host, node.get(), nullptr); }
    void Open(std::u16string_view name, PropertySet& node, PropertySet& item) {
        KibShortString text;
        testing::ShortText(name, text);
        page.Init(kHost, &host, node.get(), item.get());
        page.SetItem(text, node.get(), item.get());
    }
    void Send(std::uint32_t message) { Headless(page.Window()).Deliver(message); }
    const platform::Panel* Front() { return Headless(page.Window()).Front(); }
    std::vector<std::uint32_t> Sent() {
        std::vector<std::uint32_t> out;
        for (const auto& [target, message] : Headless(page.Window()).sent) {
            EXPECT_EQ(target, kHost);
            out.push_back(message);
        }
        return out;
    }

    const WindowHandle kHost = HostWindow(0x7100);
    FixedClock clock{kSaveTime};
    FakeItem host;
    std::vector<HostCall> calls;
    BoxRecorder boxes;
    TfmItemProps page{DriverPages(), platform::CreateHeadlessPage};
};

TEST_F(ItemPage, AFreshPageSavesTheStateBitItemUnderItsNode) {
    PropertySet node = NodeWithRate(1000);
    Add(node);
    EXPECT_EQ(page.cbxOperation.Count(), 9);
    EXPECT_EQ(page.cbxOperation.ItemText(0), u"Счетчик");
    EXPECT_EQ(page.cbxOperation.ItemText(7), u"Управление дозированием");
    EXPECT_EQ(page.cbxOperation.ItemText(8), u"Диагностика связи");
    EXPECT_EQ(Front(), &page.pnlItemState);
    EXPECT_EQ(page.rxsScanRate.Text(), u"1");

    Send(WM_ITEM_ADD);
    ASSERT_EQ(calls.size(), 1u);
    const HostCall& c = calls[0];
    EXPECT_TRUE(c.add);
    EXPECT_EQ(c.kind, 2);
    EXPECT_EQ(c.flags, 0x00010102);
    EXPECT_EQ(c.driver, PortDriver->DriverInterface());
    EXPECT_EQ(c.name, "Item");
    EXPECT_EQ(c.active, -1);
    EXPECT_EQ(c.rights, 1u);
    EXPECT_EQ(c.requested, VT_BOOL);
    EXPECT_EQ(c.canonical, VT_BOOL);
    EXPECT_EQ(c.euInfo, "I4:0");
    EXPECT_EQ(c.records, ItemRecords(11, 1, "", "NULL", "Состояние",
                                     {"NULL", "NULL", "NULL", "NULL", "NULL", "I4:0"}));
    EXPECT_EQ(Sent(), std::vector<std::uint32_t>{WM_ITEM_SAVED});
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(ItemPage, EachOperationShowsItsPanelAndStoresOnlyItsOwnParameters) {
    struct Case {
        int index;
        platform::Panel* panel;
        int canonical;
        int rights;
        std::array<std::string, 6> params;
        std::string figure = "";
    };
    const Case cases[] = {
        {0, &page.pnlItemCounter, 5, 1, {"I4:3", "NULL", "NULL", "NULL", "NULL", "NULL"}},
        {1, &page.pnlItemDigitalInput, 11, 1, {"NULL", "I4:12", "NULL", "NULL", "NULL", "NULL"}},
        {2, &page.pnlItemDigitalOutput, 11, 3, {"NULL", "NULL", "I4:15", "NULL", "NULL", "NULL"}},
        {3, &page.pnlItemWeightPoint, 5, 3, {"NULL", "NULL", "NULL", "I4:8", "I4:1", "NULL"}},
        {4, &page.pnlEmpty, 5, 1, kNoParams},
        {5, &page.pnlEmpty, 5, 1, kNoParams},
        {6, &page.pnlItemState, 11, 1, {"NULL", "NULL", "NULL", "NULL", "NULL", "I4:7"}},
        {7, &page.pnlEmpty, 17, 3, kNoParams},
        // The figure picked (the reset) gives the item its type and rights.
        {8, &page.pnlItemLinkDiagnostics, 11, 3, kNoParams, "I4:13"},
    };
    PropertySet node = NodeWithRate(std::nullopt);
    Add(node);
    page.rxsItemCounter.SetValue(3);
    page.rxsItemDigitalInput.SetValue(12);
    page.rxsItemDigitalOutput.SetValue(15);
    page.rxsItemWeightPoint.SetValue(8);
    Pick(page.cbxItemWightPointLevel, 1);
    page.rxsItemState.SetValue(7);
    Pick(page.cbxItemLinkFigure, 13);
    page.rxsScanRate.SetValue(5);
    Headless(page.Window()).sent.clear();
    for (const Case& c : cases) {
        calls.clear();
        Pick(page.cbxOperation, c.index);
        EXPECT_EQ(Front(), c.panel) << c.index;
        Send(WM_ITEM_UPDATE);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_FALSE(calls[0].add);
        EXPECT_EQ(calls[0].canonical, c.canonical);
        EXPECT_EQ(calls[0].requested, c.canonical);
        EXPECT_EQ(calls[0].rights, static_cast<std::uint32_t>(c.rights));
        const std::string caption = platform::Utf16ToUtf8(page.cbxOperation.SelectedText());
        EXPECT_EQ(calls[0].records,
                  ItemRecords(c.canonical, c.rights, "", "NULL", caption, c.params, c.figure))
            << "a node without a rate: the item follows its node";
    }
    EXPECT_EQ(Sent(), std::vector<std::uint32_t>(9, WM_ITEM_SAVED))
        << "operation picks send nothing";
}

TEST_F(ItemPage, OpeningAGrossWeightItemAndSavingItUnchangedKeepsIt) {
    PropertySet node = NodeWithRate(1000);
    PropertySet item = ItemSet({{kPropDescription, Variant::Text(u"Брутто")},
                                {kPropScanRate, Variant::Int64(2500)},
                                {kPropOperation, Variant::Text(u"Вес Брутто")},
                                {kPropCounter, Variant::Null()}});
    Open(u"Gross", node, item);
    EXPECT_EQ(Front(), &page.pnlEmpty);
    EXPECT_EQ(page.rxsScanRate.Text(), u"2");
    EXPECT_TRUE(Sent().empty()) << "loading is no edit";
    Send(WM_ITEM_UPDATE);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].name, "Gross");
    EXPECT_EQ(calls[0].records, ItemRecords(5, 1, "Брутто", "I8:2000", "Вес Брутто", kNoParams));
}

TEST_F(ItemPage, ParametersAreHeldToTheirRangesAndLeftOversStayForTheNextItem) {
    PropertySet node = NodeWithRate(1000);
    PropertySet counter =
        ItemSet({{kPropOperation, Variant::Text(u"Счетчик")}, {kPropCounter, Variant::Int32(20)}});
    Open(u"C", node, counter);
    EXPECT_EQ(page.rxsItemCounter.Text(), u"9");
    Send(WM_ITEM_UPDATE);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].records[8].value, "I4:9");

    PropertySet seven = ItemSet({{kPropOperation, Variant::Text(u"Счетчик")},
                                 {kPropCounter, Variant::Int32(7)},
                                 {kPropWeightPointLevel, Variant::Int32(5)}});
    Open(u"C7", node, seven);
    EXPECT_EQ(page.cbxItemWightPointLevel.Selected(), 1) << "any level but 0 is the upper one";
    Add(node);
    EXPECT_EQ(page.cbxOperation.SelectedText(), u"Состояние");
    Pick(page.cbxOperation, 0);
    EXPECT_EQ(page.rxsItemCounter.Text(), u"7");
    EXPECT_EQ(page.edtNameItem.Text(), u"C7");
}

TEST_F(ItemPage, AnUnknownOperationSelectsNothingAndCannotBeSaved) {
    PropertySet node = NodeWithRate(1000);
    PropertySet item = ItemSet({{kPropOperation, Variant::Text(u"вес нетто")}});
    Open(u"X", node, item);
    EXPECT_EQ(page.cbxOperation.Selected(), -1);
    EXPECT_EQ(Front(), &page.pnlEmpty);
    for (std::uint32_t message : {WM_ITEM_ADD, WM_ITEM_UPDATE}) {
        boxes.boxes.clear();
        Send(message);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].text, "Выберите операцию");
        EXPECT_EQ(boxes.boxes[0].caption, "Ошибка");
        EXPECT_EQ(boxes.boxes[0].flags, kWarningBox);
    }
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(Sent().empty());
}

TEST_F(ItemPage, TheHostsRefusalsShowTheirBoxesAndLeaveTheEntries) {
    struct Case {
        HRESULT answer;
        const char* text;
        const char* caption;
        bool focusOnName;
    };
    const Case cases[] = {
        {kOpcDuplicateName,
         "Переменная с таким именем уже существует\r\nВведите другое имя переменной",
         "Не верное имя переменной", true},
        {E_FAIL, "Ошибка при добавлении переменной", "Ошибка", false},
    };
    PropertySet node = NodeWithRate(1000);
    for (const Case& c : cases) {
        for (std::uint32_t message : {WM_ITEM_ADD, WM_ITEM_UPDATE}) {
            Add(node);
            page.edtDescriptItem.SetFocus();
            Headless(page.Window()).sent.clear();
            boxes.boxes.clear();
            calls.clear();
            host.answer = c.answer;
            Send(message);
            EXPECT_EQ(calls.size(), 1u);
            ASSERT_EQ(boxes.boxes.size(), 1u);
            EXPECT_EQ(boxes.boxes[0].text, c.text);
            EXPECT_EQ(boxes.boxes[0].caption, c.caption);
            EXPECT_EQ(boxes.boxes[0].flags, kWarningBox);
            EXPECT_EQ(page.edtNameItem.Focused(), c.focusOnName);
            EXPECT_TRUE(Sent().empty());
            EXPECT_EQ(page.edtNameItem.Text(), u"Item");
        }
    }
}

TEST_F(ItemPage, NameFilterAndChangeNotifications) {
    PropertySet node = NodeWithRate(1000);
    Add(node);
    page.edtNameItem.SetText(u"");
    Type(page.edtNameItem, u"Весы 1-Scale_1.é");
    EXPECT_EQ(page.edtNameItem.Text(), u"1Scale_1é");
    Pick(page.cbxOperation, 0);
    Type(page.rxsItemCounter, u"\b");
    Type(page.edtDescriptItem, u"d");

    std::vector<std::uint32_t> expected{WM_ITEM_CHANGED_EMPTY_NAME};
    expected.insert(expected.end(), 9, WM_ITEM_CHANGED); // one per accepted character
    expected.push_back(WM_ITEM_CHANGED);                 // the description
    EXPECT_EQ(Sent(), expected) << "operation and parameter edits send nothing";
}

TEST_F(ItemPage, ALongNameIsHandedOverCutTo513Characters) {
    PropertySet node = NodeWithRate(1000);
    Add(node);
    page.edtNameItem.SetText(std::u16string(600, u'n'));
    Send(WM_ITEM_ADD);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].name, std::string(513, 'n'));
}

TEST_F(ItemPage, ReloadRestoresTheItemLastLoadedFromThePagesOwnCopies) {
    auto node = std::make_unique<PropertySet>(NodeWithRate(1000));
    auto item = std::make_unique<PropertySet>(
        ItemSet({{kPropDescription, Variant::Text(u"выход")},
                 {kPropOperation, Variant::Text(u"Дискретные выходы")},
                 {kPropDigitalOutput, Variant::Int32(4)}}));
    Open(u"Out4", *node, *item);
    item.reset(); // the host frees both sets while the page stays open
    node.reset();
    Type(page.edtNameItem, u"x");
    Type(page.edtDescriptItem, u"y");
    Pick(page.cbxOperation, 4);
    page.rxsItemDigitalOutput.SetValue(9);
    Send(WM_ITEM_RELOAD);
    EXPECT_EQ(page.edtNameItem.Text(), u"Out4");
    EXPECT_EQ(page.edtDescriptItem.Text(), u"выход");
    EXPECT_EQ(page.cbxOperation.SelectedText(), u"Дискретные выходы");
    EXPECT_EQ(page.rxsItemDigitalOutput.Text(), u"4");

    // The scan-rate rule of a later save still compares with the node's rate.
    page.rxsScanRate.SetValue(1);
    Send(WM_ITEM_UPDATE);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].records[6].value, "NULL");
}

TEST_F(ItemPage, ReloadWhileAddingRestoresTheNameAndEmptiesTheDescriptionOnly) {
    PropertySet node = NodeWithRate(1000);
    page.edtNameItem.SetText(u"Start");
    Add(node);
    Type(page.edtNameItem, u"2");
    Type(page.edtDescriptItem, u"z");
    Pick(page.cbxOperation, 0);
    Send(WM_ITEM_RELOAD);
    EXPECT_EQ(page.edtNameItem.Text(), u"Start");
    EXPECT_EQ(page.edtDescriptItem.Text(), u"");
    EXPECT_EQ(page.cbxOperation.SelectedText(), u"Счетчик");
}

TEST_F(ItemPage, AfterDetachingSavesDoNothingAndTheHostObjectIsReleased) {
    if (!testing::SystemPagesAreHeadless()) {
        GTEST_SKIP() << "real windows: the Windows page tests drive the driver's pages";
    }
    PropertySet node = NodeWithRate(1000);
    KibShortString name;
    testing::ShortText(u"Item", name);
    WindowHandle child = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
    ASSERT_TRUE(PortDriver->AddItemCreate(kHost, &host, node.get(), &child, &width, &height));
    EXPECT_EQ(child, fmItemProps->Window().Handle());
    EXPECT_EQ(width, 326);
    EXPECT_EQ(height, 187);
    EXPECT_EQ(host.refs(), 1);
    Headless(fmItemProps->Window()).Deliver(WM_PAGE_DETACH);
    EXPECT_EQ(host.refs(), 0);
    EXPECT_FALSE(fmItemProps->Window().Visible());
    Headless(fmItemProps->Window()).Deliver(WM_ITEM_ADD);
    Headless(fmItemProps->Window()).Deliver(WM_ITEM_UPDATE);
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(boxes.boxes.empty());
}

} // namespace
} // namespace vemox
