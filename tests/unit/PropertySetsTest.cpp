#include "config/PropertySets.h"
#include "config/Attributes.h"
#include "config/Encodings.h"
#include "driver/Globals.h"
#include "platform/Clock.h"
#include "platform/Com.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace vemox {
namespace {

using platform::Variant;

// The texts are spelled out here rather than taken from the constants, so that a changed
// constant is caught.
struct Expected {
    std::int32_t id;
    VARTYPE declared;
    std::u16string description;
    Variant value;
};

bool AllZero(const KibShortString& text) {
    for (auto unit : text) {
        if (unit != 0) {
            return false;
        }
    }
    return true;
}

void ExpectValue(const VARIANT& actual, const Variant& expected, std::int32_t id) {
    SCOPED_TRACE(id);
    ASSERT_EQ(actual.vt, expected.type());
    switch (actual.vt) {
    case VT_NULL:
        break;
    case VT_I4:
        EXPECT_EQ(actual.lVal, expected.get().lVal);
        break;
    case VT_I8:
        EXPECT_EQ(actual.llVal, expected.get().llVal);
        break;
    case VT_BOOL:
        EXPECT_EQ(actual.boolVal, expected.get().boolVal);
        break;
    case VT_DATE:
        EXPECT_EQ(actual.date, expected.get().date);
        break;
    case VT_BSTR:
        EXPECT_EQ(platform::BstrView(actual.bstrVal), platform::BstrView(expected.get().bstrVal));
        break;
    default:
        ADD_FAILURE() << "unexpected variant type " << actual.vt;
    }
}

void ExpectSet(PropertySet& set, const std::vector<Expected>& expected) {
    ASSERT_EQ(set.size(), static_cast<std::int32_t>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const TItemProperty& p = set[static_cast<std::int32_t>(i)];
        const Expected& e = expected[i];
        SCOPED_TRACE(testing::Message() << "record " << i + 1);
        EXPECT_EQ(p.dwPropertyID, static_cast<std::uint32_t>(e.id));
        EXPECT_EQ(p.vtDataType, e.declared);
        EXPECT_EQ(ShortStringView(p.szDescription), e.description);
        EXPECT_TRUE(AllZero(p.szItemID));
        EXPECT_EQ(p.wReserved, 0);
        EXPECT_EQ(p.hrErrorID, 0);
        EXPECT_EQ(p.dwReserved, 0u);
        ExpectValue(p.vValue, e.value, e.id);
    }
}

// Stands at one fixed local instant so that the time stamp record can be compared exactly.
class FixedClock : public platform::ClockSource {
public:
    double LocalNow() const override { return 46000.625; }
    FILETIME UtcNow() const override { return {}; }
};

class ItemSets : public ::testing::Test {
protected:
    void SetUp() override { platform::SetClockSource(&clock_); }
    void TearDown() override { platform::SetClockSource(nullptr); }

    // A node polled every second, as a new node is.
    PropertySet node_ = BuildNodeProperties(NodeSettings{});

private:
    FixedClock clock_;
};

TEST(NodeSet, HoldsTheSixRecordsInOrder) {
    NodeSettings node;
    node.description = u"Весы склада";
    node.scanRateSeconds = 5;
    node.portName = u"COM10";
    node.useAddress = false;
    node.address = 17;
    node.serial = 123456;

    PropertySet set = BuildNodeProperties(node);
    // The identification that is not chosen is stored all the same.
    ExpectSet(set, {
                       {101, VT_BSTR, u"Описание узла", Variant::Text(u"Весы склада")},
                       {6, VT_R4, u"Частота опроса", Variant::Int64(5000)},
                       {5000, VT_UI1, u"COM порт", Variant::Int32(9)},
                       {5001, VT_BOOL, u"Использовать сетевой адрес", Variant::Bool(false)},
                       {5002, VT_UI1, u"Адрес устройства", Variant::Int64(17)},
                       {5003, VT_UI4, u"Серийный номер", Variant::Int64(123456)},
                   });
}

TEST(NodeSet, FirstSaveCarriesTheNewNodeValues) {
    NodeSettings node;
    node.portName = u"COM3";
    PropertySet set = BuildNodeProperties(node);
    ExpectSet(set, {
                       {101, VT_BSTR, u"Описание узла", Variant::Text(u"Описание узла")},
                       {6, VT_R4, u"Частота опроса", Variant::Int64(1000)},
                       {5000, VT_UI1, u"COM порт", Variant::Int32(2)},
                       {5001, VT_BOOL, u"Использовать сетевой адрес", Variant::Bool(true)},
                       {5002, VT_UI1, u"Адрес устройства", Variant::Int64(1)},
                       {5003, VT_UI4, u"Серийный номер", Variant::Int64(1)},
                   });
    // Task intake finds the port by ID in the host's memory form.
    Variant port;
    ASSERT_TRUE(GetProperty(5000, set.get(), port.get()));
    EXPECT_EQ(port.get().lVal, 2);
}

TEST(PortNames, IndexIsTheNumberBehindThePrefixMinusOne) {
    const struct {
        std::u16string name;
        std::int32_t index;
    } cases[] = {
        {u"COM1", 0},
        {u"COM10", 9},
        {u"COM30", 29},
        {u"COM100", 99},
        {u"COM1A", 0}, // the rest is no integer: stored as COM1
        {u"COMX", 0},
        {u"COM", 0},
        {u"", 0},
        {u"TTY4", 3},  // only the rest behind three characters counts
        {u"COM0", -1}, // outside every port: intake queues such a task nowhere
        {u"COM2147483647", 2147483646},
        {u"COM-2147483648", 0}, // minus 1 would not fit the stored 32 bits
        {u"COM99999999999", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PortIndexOf(c.name), c.index) << platform::Utf16ToUtf8(c.name);
    }
    EXPECT_EQ(PortNameOf(0), u"COM1");
    EXPECT_EQ(PortNameOf(29), u"COM30");
    EXPECT_EQ(PortNameOf(std::numeric_limits<std::int32_t>::max()), u"COM2147483648");
    for (std::int32_t index : {0, 8, 9, 98}) {
        EXPECT_EQ(PortIndexOf(PortNameOf(index)), index);
    }
}

TEST(ScanRates, SecondsAndMillisecondsConvertWithHalvesToEven) {
    EXPECT_EQ(ScanRateSecondsToMs(0), 0);
    EXPECT_EQ(ScanRateSecondsToMs(9999), 9999000);
    const struct {
        double ms;
        double seconds;
    } cases[] = {
        {1000, 1}, {2500, 2}, {3500, 4},         {1500, 2},   {1499.9, 1},
        {0, 0},    {499, 0},  {10000000, 10000}, {-1500, -2}, {2499.6, 2},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ScanRateMsToSeconds(c.ms), c.seconds) << c.ms;
    }
}

TEST(LoadRanges, OnlyValuesInsideTheFieldRangeAreTaken) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double stored;
        std::optional<std::int32_t> address;
        std::optional<std::int32_t> serial;
    } cases[] = {
        {-1, std::nullopt, std::nullopt},
        {0, std::nullopt, 0},
        {0.5, std::nullopt, 0},
        {1, 1, 1},
        {2.5, 2, 2},
        {159, 159, 159},
        {159.4, std::nullopt, 159},
        {159.6, std::nullopt, 160},
        {200, std::nullopt, 200},
        {999999, std::nullopt, 999999},
        {999999.2, std::nullopt, std::nullopt},
        {1e12, std::nullopt, std::nullopt},
        {nan, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AcceptAddress(c.stored), c.address) << c.stored;
        EXPECT_EQ(AcceptSerial(c.stored), c.serial) << c.stored;
    }
}

TEST_F(ItemSets, HoldTheFourteenRecordsInOrder) {
    ItemSettings item;
    item.description = u"Верхний уровень дозы";
    item.scanRateSeconds = 3;
    item.operation = u"Весовые точки";
    item.counter = 7; // belongs to another operation: not stored
    item.weightPoint = 8;
    item.levelIndex = 1;

    auto set = BuildItemProperties(item, node_.get());
    ASSERT_TRUE(set);
    ExpectSet(*set, {
                        {1, VT_I2, u"Тип переменной", Variant::Int32(5)},
                        {2, VT_VARIANT, u"Значение переменной", Variant::Int32(0)},
                        {3, VT_I2, u"Качество переменной", Variant::Int32(64)},
                        {4, VT_DATE, u"Метка времени", Variant::Date(46000.625)},
                        {5, VT_I4, u"Права доступа", Variant::Int32(3)},
                        {101, VT_BSTR, u"Описание переменной", Variant::Text(item.description)},
                        {6, VT_R4, u"Частота опроса", Variant::Int64(3000)},
                        {5004, VT_BSTR, u"Операция", Variant::Text(u"Весовые точки")},
                        {5005, VT_UI1, u"Номер счетчика", Variant::Null()},
                        {5006, VT_UI1, u"Номер дискретного входа", Variant::Null()},
                        {5007, VT_UI1, u"Номер дискретного выхода", Variant::Null()},
                        {5008, VT_UI1, u"Номер весовой точки", Variant::Int32(8)},
                        {5009, VT_UI1, u"Нижний/верхний уровень весовой точки", Variant::Int32(1)},
                        {5010, VT_UI1, u"Номер бита состояния", Variant::Null()},
                    });
}

TEST_F(ItemSets, EachOperationStoresItsTypeRightsAndOnlyItsOwnNumbers) {
    ItemSettings item;
    item.counter = 9;
    item.input = 15;
    item.output = 14;
    item.weightPoint = 8;
    item.levelIndex = 1;
    item.stateBit = 7;
    const struct {
        std::u16string caption;
        std::int32_t canonicalType;
        std::int32_t rights;
        std::vector<std::int32_t> stored; // parameter records that hold a value
    } cases[] = {
        {u"Счетчик", VT_R8, 1, {5005}},
        {u"Дискретные входы", VT_BOOL, 1, {5006}},
        {u"Дискретные выходы", VT_BOOL, 3, {5007}},
        {u"Весовые точки", VT_R8, 3, {5008, 5009}},
        {u"Вес Нетто", VT_R8, 1, {}},
        {u"Вес Брутто", VT_R8, 1, {}},
        {u"Состояние", VT_BOOL, 1, {5010}},
        {u"Управление дозированием", VT_UI1, 3, {}},
    };
    const std::int32_t expectedValue[] = {9, 15, 14, 8, 1, 7}; // 5005..5010
    for (const auto& c : cases) {
        SCOPED_TRACE(platform::Utf16ToUtf8(c.caption));
        item.operation = c.caption;
        auto set = BuildItemProperties(item, node_.get());
        ASSERT_TRUE(set);
        ASSERT_EQ(set->size(), 14);
        EXPECT_EQ((*set)[0].vValue.lVal, c.canonicalType);
        EXPECT_EQ((*set)[4].vValue.lVal, c.rights);
        EXPECT_EQ(platform::BstrView((*set)[7].vValue.bstrVal), c.caption);
        for (std::int32_t i = 0; i < 6; ++i) {
            const TItemProperty& p = (*set)[8 + i];
            const std::int32_t id = 5005 + i;
            bool owned = false;
            for (std::int32_t s : c.stored) {
                owned = owned || s == id;
            }
            ExpectValue(p.vValue, owned ? Variant::Int32(expectedValue[i]) : Variant::Null(), id);
        }

        auto attributes = BuildItemAttributes(u"Scale_1", c.caption);
        ASSERT_TRUE(attributes);
        EXPECT_EQ(attributes->get().dwAccessRights, static_cast<std::uint32_t>(c.rights));
        EXPECT_EQ(attributes->get().vtCanonicalDataType, c.canonicalType);
        EXPECT_EQ(attributes->get().vtRequestedDataType, c.canonicalType);
    }
}

TEST_F(ItemSets, ScanRateIsStoredOnlyWhenItDiffersFromTheNodes) {
    PropertySet noRate;
    noRate.Append(kPropComPort, VT_UI1, u"", Variant::Int32(0));
    PropertySet nullRate;
    nullRate.Append(kPropScanRate, VT_R4, u"", Variant::Null());
    PropertySet floatRate; // a host may store the value in the declared type
    Variant rate = Variant::Double(1000.0);
    floatRate.Append(kPropScanRate, VT_R4, u"", rate);
    PropertySet textRate;
    textRate.Append(kPropScanRate, VT_R4, u"", Variant::Text(u"2000"));
    PropertySet unreadableRate;
    unreadableRate.Append(kPropScanRate, VT_R4, u"", Variant::Text(u"часто"));

    const struct {
        const char* label;
        PItemProperties node;
        std::int32_t seconds;
        Variant expected;
    } cases[] = {
        {"same as node", node_.get(), 1, Variant::Null()},
        {"differs from node", node_.get(), 2, Variant::Int64(2000)},
        {"zero differs", node_.get(), 0, Variant::Int64(0)},
        {"no node set", nullptr, 2, Variant::Null()},
        {"node without rate", noRate.get(), 2, Variant::Null()},
        {"node rate null", nullRate.get(), 2, Variant::Null()},
        {"node rate as float", floatRate.get(), 1, Variant::Null()},
        {"node rate as text", textRate.get(), 2, Variant::Null()},
        {"node rate unreadable", unreadableRate.get(), 2, Variant::Int64(2000)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ItemSettings item;
        item.scanRateSeconds = c.seconds;
        auto set = BuildItemProperties(item, c.node);
        ASSERT_TRUE(set);
        ASSERT_EQ((*set)[6].dwPropertyID, 6u);
        ExpectValue((*set)[6].vValue, c.expected, 6);
    }
}

TEST_F(ItemSets, FirstSaveIsAStateBitItemFollowingItsNode) {
    auto set = BuildItemProperties(ItemSettings{}, node_.get());
    ASSERT_TRUE(set);
    ExpectValue((*set)[0].vValue, Variant::Int32(VT_BOOL), 1);
    ExpectValue((*set)[5].vValue, Variant::Text(u""), 101);
    ExpectValue((*set)[6].vValue, Variant::Null(), 6);
    ExpectValue((*set)[7].vValue, Variant::Text(u"Состояние"), 5004);
    ExpectValue((*set)[13].vValue, Variant::Int32(0), 5010);
}

TEST_F(ItemSets, UnknownOperationBuildsNothing) {
    for (const std::u16string caption : {u"", u"счетчик", u"Вес нетто", u"Вес Нетто ", u"Net"}) {
        ItemSettings item;
        item.operation = caption;
        EXPECT_FALSE(BuildItemProperties(item, node_.get()));
        EXPECT_FALSE(BuildItemAttributes(u"Item", caption));
    }
}

TEST(Attributes, NodeRecordIsActiveReadWriteWithoutType) {
    ItemAttributes attributes = BuildNodeAttributes(u"Весы_1");
    const TItemAttributes& a = attributes.get();
    EXPECT_TRUE(AllZero(a.szAccessPath));
    EXPECT_EQ(ShortStringView(a.szItemID), u"Весы_1");
    EXPECT_EQ(a.bActive, -1);
    EXPECT_EQ(a.dwAccessRights, 3u);
    EXPECT_EQ(a.vtRequestedDataType, VT_EMPTY);
    EXPECT_EQ(a.vtCanonicalDataType, VT_EMPTY);
    EXPECT_EQ(a.hClient, 0u);
    EXPECT_EQ(a.hServer, 0u);
    EXPECT_EQ(a.dwBlobSize, 0u);
    EXPECT_EQ(a.pBlob, nullptr);
    EXPECT_EQ(a.dwEUType, 0u);
    EXPECT_EQ(a.vEUInfo.vt, VT_I4);
    EXPECT_EQ(a.vEUInfo.lVal, 0);
}

TEST(Attributes, NameIsCutToTheShortStringAndCopiesStandAlone) {
    const std::u16string longName(600, u'x');
    auto original = BuildItemAttributes(longName, u"Вес Брутто");
    ASSERT_TRUE(original);
    EXPECT_EQ(ShortStringView(original->get().szItemID), longName.substr(0, 513));
    EXPECT_EQ(original->get().bActive, -1);

    // A copy owns its own units value: it outlives the original that it was taken from.
    Variant units = Variant::Text(u"кг");
    platform::VariantCopyFrom(original->get().vEUInfo, units.get());
    ItemAttributes copy = *original;
    original.reset();
    ASSERT_EQ(copy.get().vEUInfo.vt, VT_BSTR);
    EXPECT_EQ(platform::BstrView(copy.get().vEUInfo.bstrVal), u"кг");
    EXPECT_EQ(copy.get().dwAccessRights, 1u);
    EXPECT_EQ(std::memcmp(copy.get().szItemID, longName.data(), 513 * 2), 0);

    copy = BuildNodeAttributes(u"N");
    EXPECT_EQ(copy.get().vEUInfo.vt, VT_I4);
    EXPECT_EQ(ShortStringView(copy.get().szItemID), u"N");
}

} // namespace
} // namespace vemox
