#include "config/PropertySet.h"
#include "contract/Constants.h"
#include "driver/Globals.h"
#include "driver/Main.h"
#include "fakes/HostFakes.h"
#include "fakes/HostFloatState.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

namespace vemox {
namespace {

using platform::Variant;
using testing::AsHost;
using testing::FakeComPort;
using testing::FakeItem;
using testing::FakeServer;
using testing::HostFloatCase;
using testing::kHostFloatStates;

IKibDriver3* Driver() {
    IKibDriver3* driver = nullptr;
    GetKibDriver2(&driver);
    return driver;
}

class DriverObject : public ::testing::Test {
protected:
    void TearDown() override {
        Driver()->PurgeActions();
        Driver()->Deinitial();
        DriverSettings = TDriverSettings{};
    }
};

TEST_F(DriverObject, IsOneObjectBehindEveryInterface) {
    IKibDriver3* a = Driver();
    IKibDriver3* b = Driver();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a->AddRef(), static_cast<ULONG>(-1));
    EXPECT_EQ(a->Release(), static_cast<ULONG>(-1));
    a->Release();
    EXPECT_TRUE(Driver()->IsSupportDataAccess()) << "releasing leaves the driver working";

    void* receive = nullptr;
    ASSERT_EQ(a->QueryInterface(IID_IKibReceiveData, &receive), S_OK);
    void* back = nullptr;
    ASSERT_EQ(static_cast<IKibReceiveData*>(receive)->QueryInterface(IID_IKibDriver3, &back), S_OK);
    EXPECT_EQ(back, a);
    for (const GUID& iid : {IID_IUnknown_, IID_IKibDriver, IID_IKibDriver2, IID_IKibDriver3}) {
        void* out = nullptr;
        EXPECT_EQ(a->QueryInterface(iid, &out), S_OK);
        EXPECT_EQ(out, a);
    }
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(a->QueryInterface(IID_IKibItem, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
}

TEST_F(DriverObject, InitialTakesTheHostInterfacesAndHandsOutNames) {
    FakeServer server;
    FakeComPort port;
    KibShortString name, descript, help;
    std::memset(name, 0x55, sizeof name);
    std::memset(help, 0x55, sizeof help);
    IKibReceiveData* receive = nullptr;
    Driver()->Initial(&server, &port, &name, &descript, &help, &receive);

    EXPECT_EQ(ShortStringView(name), u"Вемокс");
    for (std::size_t i = 6; i < kShortStringLength; ++i) {
        ASSERT_EQ(name[i], 0) << i;
    }
    EXPECT_EQ(ShortStringView(descript), u"Доступ к тензометрическим измерит. приборам");
    for (auto unit : help) {
        ASSERT_EQ(unit, 0);
    }
    void* expected = nullptr;
    Driver()->QueryInterface(IID_IKibReceiveData, &expected);
    EXPECT_EQ(receive, expected);
    EXPECT_EQ(server.refs(), 1);
    EXPECT_EQ(port.refs(), 1);

    Driver()->Deinitial();
    EXPECT_EQ(server.refs(), 0);
    EXPECT_EQ(port.refs(), 0);
}

TEST_F(DriverObject, InitialWithoutTheSecondServerInterfaceStoresNothing) {
    FakeServer server;
    server.offersServer2 = false;
    IKibReceiveData* receive = nullptr;
    Driver()->Initial(&server, nullptr, nullptr, nullptr, nullptr, &receive);
    EXPECT_EQ(server.refs(), 0);
    EXPECT_NE(receive, nullptr);
}

struct PropStrCase {
    std::uint32_t id;
    Variant value;
    std::u16string expected;
};

// Odd numbers convert the same, and nothing traps, in any state the host leaves.
TEST_F(DriverObject, GetPropStrShowsPortsOneBasedAndEverythingElseAsText) {
    const double infinity = std::numeric_limits<double>::infinity();
    const PropStrCase cases[] = {
        {5000, Variant::Int32(0), u"COM1"},
        {5000, Variant::Int32(29), u"COM30"},
        {5000, Variant::Double(4.4), u"COM5"},
        {5000, Variant::Text(u"2"), u"COM3"},
        {5000, Variant::Empty(), u""},
        {5000, Variant::Text(u"x"), u""},
        {5000, Variant::Double(std::numeric_limits<double>::quiet_NaN()), u""},
        {5000, Variant::Double(-infinity), u""},
        {5000, Variant::Double(std::numeric_limits<double>::max()), u""},
        {5002, Variant::Int32(17), u"17"},
        {5002, Variant::Double(std::numeric_limits<double>::quiet_NaN()), u"NAN"},
        {5002, Variant::Double(infinity), u"INF"},
        {5002, Variant::Double(-1e300), u"-1E300"},
        {5002, Variant::Double(std::numeric_limits<double>::denorm_min()),
         u"4.94065645841247E-324"},
        {5002, Variant::Double(0.1), u"0.1"},
        {5004, Variant::Text(u"Вес Нетто"), u"Вес Нетто"},
        {5003, Variant::Null(), u""},
        {6, Variant::Int64(1000), u"1000"},
    };
    for (const HostFloatCase& host : kHostFloatStates) {
        for (const auto& c : cases) {
            KibShortString text;
            std::memset(text, 0x41, sizeof text);
            bool kept = false;
            {
                AsHost state(host.control);
                Driver()->GetPropStr(c.id, c.value.get(), &text);
                kept = state.Kept();
            }
            EXPECT_TRUE(kept) << host.name;
            EXPECT_EQ(ShortStringView(text), c.expected)
                << platform::Utf16ToUtf8(c.expected) << ", " << host.name;
        }
    }
}

TEST_F(DriverObject, FixedAnswers) {
    IKibDriver3* d = Driver();
    EXPECT_TRUE(d->IsSupportDataAccess());
    EXPECT_FALSE(d->IsSupportHistoryDataAccess());
    EXPECT_FALSE(d->IsSupportReplicateNode());
    EXPECT_FALSE(d->IsSupportReplicateItem());
    EXPECT_FALSE(d->SetSlaveMode(true));
    EXPECT_FALSE(d->RunHDATasks(0));
    EXPECT_FALSE(d->AddHDATask(TTaskHDADef{}));
    EXPECT_EQ(d->ResetDeviceState(TTaskDef{}), S_OK);
    TComPortNum port = 7;
    EXPECT_FALSE(d->GetComPort(nullptr, &port));
    EXPECT_EQ(port, 7);
    TAggregate filled[1] = {};
    TAggregates aggregates = filled;
    EXPECT_FALSE(d->GetAggregates(&aggregates));
    EXPECT_EQ(aggregates, nullptr);
    std::int32_t timeout = 0;
    EXPECT_TRUE(d->GetWatchdogTimeout(nullptr, nullptr, &timeout));
    EXPECT_EQ(timeout, 12000);
    IKibReceiveData* receive = nullptr;
    d->QueryInterface(IID_IKibReceiveData, reinterpret_cast<void**>(&receive));
    EXPECT_FALSE(receive->CompleteReceive(0, nullptr, 0));
}

TEST_F(DriverObject, LoadConfigAppliesThePairThroughTheSettingsPage) {
    KibShortString key, value;
    GetShortString(u"TimeNextSend", key);
    GetShortString(u"45000", value);
    EXPECT_TRUE(Driver()->LoadConfig(key, value));
    EXPECT_EQ(DriverSettings.TimeNextSend, 45000);
    std::int32_t timeout = 0;
    GetShortString(u"WaitTimeout", key);
    GetShortString(u"1000", value);
    Driver()->LoadConfig(key, value);
    GetShortString(u"CountTry", key);
    GetShortString(u"5", value);
    Driver()->LoadConfig(key, value);
    Driver()->GetWatchdogTimeout(nullptr, nullptr, &timeout);
    EXPECT_EQ(timeout, 8000);
}

TTaskDef Task(IKibItem* item, TTask kind, std::uint32_t id) {
    TTaskDef def{};
    def.Task = kind;
    def.Item = item;
    def.TransactID = id;
    return def;
}

TEST_F(DriverObject, AddTaskHoldsOneItemReferenceUntilPurged) {
    FakeItem first, second;
    auto* driver = static_cast<TComPortDriver*>(Driver());
    EXPECT_EQ(driver->AddTask(Task(&first, tAsyncRead, 1)), S_OK);
    EXPECT_EQ(driver->AddTask(Task(&second, tAsyncRead, 2)), S_OK);
    EXPECT_EQ(driver->AddTask(Task(&first, tSyncRead, 3)), S_OK);
    EXPECT_EQ(first.refs(), 2);
    EXPECT_EQ(second.refs(), 1);

    FakeItem unrelated;
    driver->PurgeAction(&unrelated);
    EXPECT_EQ(driver->AddedTasks().size(), 3u);

    driver->PurgeAction(&first);
    EXPECT_EQ(first.refs(), 0);
    ASSERT_EQ(driver->AddedTasks().size(), 1u);
    EXPECT_EQ(driver->AddedTasks()[0]->TransactID, 2u);

    driver->PurgeActions();
    EXPECT_EQ(second.refs(), 0);
    EXPECT_TRUE(driver->AddedTasks().empty());
    EXPECT_TRUE(first.completions.empty() && second.completions.empty());
}

} // namespace
} // namespace vemox
