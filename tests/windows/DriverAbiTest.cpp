// Loads Vemox.dll the way the host does and talks to the driver through bare method-table slot
// numbers, with function types declared here and nowhere else. Nothing of the library's own
// C++ declarations is used, so a slot in the wrong place or a parameter of the wrong shape in
// the shared header shows up here as a wrong answer or a crash instead of compiling away. In
// 32-bit code every call in either direction also has its calling convention checked.
#include <windows.h>

#include <oleauto.h>

#include "BareHost.h"
#include "StackCheck.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace bare_host;

// ---- The library, loaded once for the whole program and unloaded at its end. ----

HMODULE gLibrary = nullptr;
GetKibDriver2Fn gGetKibDriver2 = nullptr;

class LibraryEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        gLibrary = LoadLibraryW(LibraryPath().c_str());
        ASSERT_NE(gLibrary, nullptr) << "LoadLibrary failed, error " << GetLastError();
        // FARPROC is a generic code pointer; go through void* to give it the export's type.
        gGetKibDriver2 = reinterpret_cast<GetKibDriver2Fn>(
            reinterpret_cast<void*>(GetProcAddress(gLibrary, "GetKibDriver2")));
        ASSERT_NE(gGetKibDriver2, nullptr) << "GetKibDriver2 is not exported under that name";
    }
    void TearDown() override {
        // Unloading frees the driver and its process-wide objects; it must not fail or crash.
        if (gLibrary) {
            EXPECT_NE(FreeLibrary(gLibrary), 0);
        }
    }
};

void* Driver() {
    void* driver = nullptr;
    if (gGetKibDriver2) {
        gGetKibDriver2(&driver);
    }
    return driver;
}

std::u16string Text(const ShortString& value) {
    std::u16string out;
    for (int i = 0; i < kShortUnits && value[i] != 0; ++i) {
        out.push_back(static_cast<char16_t>(value[i]));
    }
    return out;
}

void SetText(ShortString& target, const char16_t* text) {
    std::memset(target, 0, sizeof target);
    for (int i = 0; text[i] != 0 && i < kShortUnits; ++i) {
        target[i] = static_cast<wchar_t>(text[i]);
    }
}

// True when every unit after the text (and its terminating 0) is 0.
bool ZeroAfterText(const ShortString& value) {
    const std::size_t used = Text(value).size();
    for (std::size_t i = used; i < kShortUnits; ++i) {
        if (value[i] != 0) {
            return false;
        }
    }
    return true;
}

HRESULT Query(void* object, const GUID& iid, void** out) {
    return Call<QueryInterfaceFn>("QueryInterface", object, kQueryInterface, &iid, out);
}

// The fake host objects' tables, each method entered through a check of its caller.
const CheckedTable<10> kCheckedServer(kServerTable);
const CheckedTable<10> kCheckedItem(kItemTable);
const CheckedTable<12> kCheckedComPort(kComPortTable);

// A property set as the host keeps it: a reference count and an element count in the eight
// bytes before the first element.
class PropertyArray {
public:
    explicit PropertyArray(std::initializer_list<std::pair<DWORD, VARIANT>> values)
        : storage_(1 + (values.size() * sizeof(ItemProperty) + 7) / 8) {
        auto* header = reinterpret_cast<std::int32_t*>(storage_.data());
        header[0] = 1;
        header[1] = static_cast<std::int32_t>(values.size());
        first_ = reinterpret_cast<ItemProperty*>(storage_.data() + 1);
        ItemProperty* property = first_;
        for (const auto& [id, value] : values) {
            property->dwPropertyID = id;
            property->vtDataType = value.vt;
            property->vValue = value; // the array owns it from here
            ++property;
        }
    }
    ~PropertyArray() {
        const auto count = reinterpret_cast<std::int32_t*>(storage_.data())[1];
        for (std::int32_t i = 0; i < count; ++i) {
            VariantClear(&first_[i].vValue);
        }
    }
    PropertyArray(const PropertyArray&) = delete;
    PropertyArray& operator=(const PropertyArray&) = delete;

    // The host hands the driver the address of its variable that holds the array.
    void* Get() { return &first_; }

private:
    std::vector<std::uint64_t> storage_;
    ItemProperty* first_;
};

VARIANT Int(LONG value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

VARIANT Bool(bool value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

VARIANT Text(const wchar_t* text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(text);
    return v;
}

Boolean Load(void* driver, const char16_t* key, const char16_t* value) {
    ShortString k;
    ShortString v;
    SetText(k, key);
    SetText(v, value);
    return Call<LoadConfigFn>("LoadConfig", driver, kLoadConfig, &k, &v);
}

// ---- The cases. ----

TEST(DriverAbi, ExportHandsOutTheSameDriverEveryTime) {
    void* first = Driver();
    void* second = Driver();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
}

TEST(DriverAbi, QueryInterfaceOffersExactlyTheDriverAndReceiveInterfaces) {
    void* driver = Driver();
    ASSERT_NE(driver, nullptr);

    void* receive = nullptr;
    ASSERT_EQ(Query(driver, kIKibReceiveData, &receive), S_OK);
    ASSERT_NE(receive, nullptr);

    // The three driver interfaces share one method table: each is the driver pointer itself.
    for (const GUID* iid : {&kIKibDriver, &kIKibDriver2, &kIKibDriver3}) {
        for (void* from : {driver, receive}) {
            void* out = nullptr;
            EXPECT_EQ(Query(from, *iid, &out), S_OK);
            EXPECT_EQ(out, driver);
        }
    }
    // One identity for the object, whichever interface is asked.
    void* unknownFromDriver = nullptr;
    void* unknownFromReceive = nullptr;
    EXPECT_EQ(Query(driver, kIUnknown, &unknownFromDriver), S_OK);
    EXPECT_EQ(Query(receive, kIUnknown, &unknownFromReceive), S_OK);
    EXPECT_NE(unknownFromDriver, nullptr);
    EXPECT_EQ(unknownFromDriver, unknownFromReceive);
    void* receiveAgain = nullptr;
    EXPECT_EQ(Query(receive, kIKibReceiveData, &receiveAgain), S_OK);
    EXPECT_EQ(receiveAgain, receive);

    for (const GUID* iid : {&kIDispatch, &kIKibOPCServer, &kIKibOPCServer2, &kIKibItem,
                            &kIKibComPort, &kIKibComPort3}) {
        for (void* from : {driver, receive}) {
            void* out = reinterpret_cast<void*>(0x1234);
            EXPECT_EQ(Query(from, *iid, &out), E_NOINTERFACE);
            EXPECT_EQ(out, nullptr);
        }
    }
}

TEST(DriverAbi, ReferenceCountingIsANoOpAnsweringMinusOne) {
    void* driver = Driver();
    ASSERT_NE(driver, nullptr);
    void* receive = nullptr;
    ASSERT_EQ(Query(driver, kIKibReceiveData, &receive), S_OK);
    for (void* object : {driver, receive}) {
        EXPECT_EQ(Call<CountFn>("AddRef", object, kAddRef), 0xFFFFFFFFu);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(Call<CountFn>("Release", object, kRelease), 0xFFFFFFFFu);
        }
    }
    // Released more often than referenced, the driver still answers.
    EXPECT_EQ(Call<AnswerFn>("IsSupportDataAccess", driver, kIsSupportDataAccess), 1);
    EXPECT_EQ(Driver(), driver);
}

TEST(DriverAbi, InitialTakesTheHostInterfacesAndDeinitialGivesThemBack) {
    void* driver = Driver();
    ASSERT_NE(driver, nullptr);
    FakeHostObject server = MakeServer(kCheckedServer.slots);
    FakeHostObject comPort = MakeComPort(kCheckedComPort.slots);

    ShortString name;
    ShortString descript;
    ShortString help;
    std::memset(name, 0xCD, sizeof name);
    std::memset(descript, 0xCD, sizeof descript);
    std::memset(help, 0xCD, sizeof help);
    void* receive = reinterpret_cast<void*>(0x1234);

    Call<InitialFn>("Initial", driver, kInitial, &server, &comPort, &name, &descript, &help,
                    &receive);

    EXPECT_EQ(Text(name), u"Вемокс");
    EXPECT_EQ(Text(descript), u"Доступ к тензометрическим измерит. приборам");
    EXPECT_EQ(Text(help), u"");
    EXPECT_TRUE(ZeroAfterText(name));
    EXPECT_TRUE(ZeroAfterText(descript));
    EXPECT_TRUE(ZeroAfterText(help));

    void* expectedReceive = nullptr;
    ASSERT_EQ(Query(driver, kIKibReceiveData, &expectedReceive), S_OK);
    EXPECT_EQ(receive, expectedReceive);

    // The driver keeps exactly one reference to each, taken through the newest interfaces.
    EXPECT_EQ(server.refs, 1);
    EXPECT_EQ(comPort.refs, 1);
    ASSERT_FALSE(server.asked.empty());
    EXPECT_TRUE(IsEqualGUID(server.asked.front(), kIKibOPCServer2));
    ASSERT_FALSE(comPort.asked.empty());
    EXPECT_TRUE(IsEqualGUID(comPort.asked.front(), kIKibComPort3));
    EXPECT_EQ(server.otherCalls, 0);
    EXPECT_EQ(comPort.otherCalls, 0);

    Call<NoArgumentFn>("Deinitial", driver, kDeinitial);
    EXPECT_EQ(server.refs, 0);
    EXPECT_EQ(comPort.refs, 0);
    EXPECT_EQ(server.otherCalls, 0);
    EXPECT_EQ(comPort.otherCalls, 0);
}

// Odd numbers among the values: in 32-bit code the host's exceptions are unmasked (above).
TEST(DriverAbi, GetPropStrWritesTheDisplayTextZeroFilled) {
    void* driver = Driver();
    ASSERT_NE(driver, nullptr);

    struct Case {
        std::uint32_t id;
        VARTYPE type;
        double number;
        const wchar_t* text;
        std::u16string expected;
    };
    const double infinity = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {5000, VT_I4, 0, nullptr, u"COM1"},
        {5000, VT_I4, 4, nullptr, u"COM5"},
        {5000, VT_EMPTY, 0, nullptr, u""},
        {5000, VT_NULL, 0, nullptr, u""},
        {5002, VT_I4, 17, nullptr, u"17"},
        {5002, VT_I4, -3, nullptr, u"-3"},
        {5001, VT_BSTR, 0, L"Весы 1", u"Весы 1"},
        {5000, VT_BSTR, 0, L"не число", u""},
        {5000, VT_R8, std::numeric_limits<double>::quiet_NaN(), nullptr, u""},
        {5000, VT_R8, -infinity, nullptr, u""},
        {5000, VT_R8, 1e300, nullptr, u""},
        {5002, VT_R8, infinity, nullptr, u"INF"},
        {5002, VT_R8, -1e300, nullptr, u"-1E300"},
        {5002, VT_R8, 63.12, nullptr, u"63.12"},
    };
    for (const Case& c : cases) {
        VARIANT value;
        VariantInit(&value);
        value.vt = c.type;
        if (c.type == VT_I4) {
            value.lVal = static_cast<LONG>(c.number);
        } else if (c.type == VT_R8) {
            value.dblVal = c.number;
        } else if (c.type == VT_BSTR) {
            value.bstrVal = SysAllocString(c.text);
        }
        ShortString text;
        std::memset(text, 0xCD, sizeof text);
        Call<GetPropStrFn>("GetPropStr", driver, kGetPropStr, c.id, value, &text);
        EXPECT_EQ(Text(text), c.expected) << "property " << c.id << " type " << c.type;
        EXPECT_TRUE(ZeroAfterText(text)) << "property " << c.id << " type " << c.type;
        VariantClear(&value);
    }
}

TEST(DriverAbi, WatchdogFollowsTheLoadedSettings) {
    void* driver = Driver();
    ASSERT_NE(driver, nullptr);
    auto watchdog = [driver](std::int32_t* timeout) {
        return Call<GetWatchdogTimeoutFn>("GetWatchdogTimeout", driver, kGetWatchdogTimeout,
                                          nullptr, nullptr, timeout);
    };

    std::int32_t timeout = 0;
    EXPECT_EQ(watchdog(&timeout), 1);
    EXPECT_EQ(timeout, 12000);

    EXPECT_EQ(Load(driver, u"WaitTimeout", u"1000"), 1);
    EXPECT_EQ(Load(driver, u"CountTry", u"5"), 1);
    timeout = 0;
    EXPECT_EQ(watchdog(&timeout), 1);
    EXPECT_EQ(timeout, 8000);

    // A key of another letter case is ignored.
    EXPECT_EQ(Load(driver, u"counttry", u"9"), 1);
    EXPECT_EQ(watchdog(&timeout), 1);
    EXPECT_EQ(timeout, 8000);

    EXPECT_EQ(Load(driver, u"WaitTimeout", u"3000"), 1);
    EXPECT_EQ(Load(driver, u"CountTry", u"3"), 1);
    EXPECT_EQ(watchdog(&timeout), 1);
    EXPECT_EQ(timeout, 12000);
}

TEST(DriverAbi, FixedAnswersTouchNothing) {
    void* driver = Driver();
    ASSERT_NE(driver, nullptr);
    FakeHostObject item = MakeItem(kCheckedItem.slots);

    TaskDef task{};
    task.Task = 3;
    task.Item = &item;
    task.TransactID = 77;
    EXPECT_EQ(Call<ResetDeviceStateFn>("ResetDeviceState", driver, kResetDeviceState, task), S_OK);

    Call<NoArgumentFn>("PurgeActions", driver, kPurgeActions);
    Call<PurgeActionFn>("PurgeAction", driver, kPurgeAction, &item);
    Call<SetFlagFn>("SetDebugMode", driver, kSetDebugMode, 1);
    Call<SetFlagFn>("SetDebugMode", driver, kSetDebugMode, 0);
    EXPECT_EQ(Call<SetSlaveModeFn>("SetSlaveMode", driver, kSetSlaveMode, 1), 0);

    std::uint8_t port = 0x5A;
    EXPECT_EQ(Call<GetComPortFn>("GetComPort", driver, kGetComPort, nullptr, &port), 0);
    EXPECT_EQ(port, 0x5A);

    EXPECT_EQ(Call<AnswerFn>("IsSupportDataAccess", driver, kIsSupportDataAccess), 1);
    EXPECT_EQ(Call<AnswerFn>("IsSupportHistoryDataAccess", driver, kIsSupportHistoryDataAccess), 0);

    // A filled array handed in comes back empty.
    std::uint32_t hostArray[4] = {1, 1, 0, 0};
    void* aggregates = &hostArray[2];
    EXPECT_EQ(Call<GetAggregatesFn>("GetAggregates", driver, kGetAggregates, &aggregates), 0);
    EXPECT_EQ(aggregates, nullptr);

    EXPECT_EQ(Call<RunHDATasksFn>("RunHDATasks", driver, kRunHDATasks, 1), 0);
    TaskHDADef history{};
    history.Item = &item;
    history.MaxCount = 10;
    EXPECT_EQ(Call<AddHDATaskFn>("AddHDATask", driver, kAddHDATask, history), 0);

    EXPECT_EQ(Call<AnswerFn>("IsSupportReplicateNode", driver, kIsSupportReplicateNode), 0);
    EXPECT_EQ(Call<AnswerFn>("IsSupportReplicateItem", driver, kIsSupportReplicateItem), 0);

    void* receive = nullptr;
    ASSERT_EQ(Query(driver, kIKibReceiveData, &receive), S_OK);
    Call<OnReleasePortFn>("OnReleasePort", receive, kOnReleasePort, 0);
    const std::uint8_t bytes[] = {0xFF, 0x05, 0xC2, 0x86, 0xFF, 0xFF};
    EXPECT_EQ(Call<CompleteReceiveFn>("CompleteReceive", receive, kCompleteReceive, 0, bytes, 6),
              0);

    // Neither task was kept: the host's item holds no reference from the driver.
    EXPECT_EQ(item.refs, 0);
    EXPECT_EQ(item.otherCalls, 0);
    EXPECT_TRUE(item.calls.empty());
}

// One read, end to end, over every host interface: the port service is asked for the port and
// takes the request, the reply comes back in, the item completes. The reading 6312 with two
// decimals must come out as the double nearest 63.12, in 32-bit arithmetic too.
TEST(DriverAbi, ReadTaskGoesThroughThePortServiceAndCompletesOnTheItem) {
    void* driver = Driver();
    ASSERT_NE(driver, nullptr);
    FakeHostObject server = MakeServer(kCheckedServer.slots);
    FakeHostObject comPort = MakeComPort(kCheckedComPort.slots);
    FakeHostObject item = MakeItem(kCheckedItem.slots);
    void* receive = nullptr;
    Call<InitialFn>("Initial", driver, kInitial, &server, &comPort, nullptr, nullptr, nullptr,
                    &receive);
    ASSERT_NE(receive, nullptr);
    ASSERT_EQ(Load(driver, u"CalcCRC", u"0"), 1); // frames without a checksum, written out below

    PropertyArray node({{5000, Int(0)}, {5001, Bool(true)}, {5002, Int(5)}});
    PropertyArray weight({{5004, Text(L"Вес Нетто")}});
    ItemState state{};
    VariantInit(&state.vDataValue);
    HRESULT result = 0x7EADBEEF;
    TaskDef task{};
    task.Task = 3; // asynchronous read
    task.Item = &item;
    task.TransactID = 77;
    task.ptrItemState = &state;
    task.ptrNodeProperties = node.Get();
    task.ptrItemProperties = weight.Get();
    task.ptrResult = &result;
    EXPECT_EQ(Call<AddTaskFn>("AddTask", driver, kAddTask, task), S_OK);
    EXPECT_EQ(item.refs, 1);
    EXPECT_EQ(Call<RunTasksFn>("RunTasks", driver, kRunTasks, 0), S_OK);
    Call<NoArgumentFn>("Execute", driver, kExecute);
    EXPECT_EQ(comPort.calls, (std::vector<std::string>{
                                 "CapturePort 0", "WriteData 0 FF 05 C2 FF FF", "ServicePort 0"}));

    const std::uint8_t reply[] = {0xFF, 0x05, 0xC2, 0x12, 0x63, 0x00, 0x02, 0xFF, 0xFF};
    Call<OnReceiveDataFn>("OnReceiveData", receive, kOnReceiveData, 0, reply, 9);
    EXPECT_EQ(comPort.calls.back(), "ReleasePort 0");
    EXPECT_EQ(item.calls, (std::vector<std::string>{"ReadComplete 77 0", "ReportExchange 1 0 1"}));
    EXPECT_EQ(server.calls,
              (std::vector<std::string>{"WriteLog 1 COM1 Tx: FF 05 C2 FF FF ",
                                        "WriteLog 1 COM1 Rx: FF 05 C2 12 63 00 02 FF FF "}));
    EXPECT_EQ(state.wQuality, 192);
    ASSERT_EQ(state.vDataValue.vt, VT_R8);
    EXPECT_EQ(state.vDataValue.dblVal, 63.12);
    EXPECT_EQ(item.refs, 0);

    EXPECT_EQ(Load(driver, u"CalcCRC", u"-1"), 1);
    Call<NoArgumentFn>("Deinitial", driver, kDeinitial);
    EXPECT_EQ(server.refs, 0);
    EXPECT_EQ(comPort.refs, 0);
    EXPECT_EQ(server.otherCalls + comPort.otherCalls + item.otherCalls, 0);
}

LRESULT CALLBACK HostProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

// The pages as the host embeds them and saves through them: the embedding operations, the
// page's window procedure, and the host's SaveConfig and UpdateItem (a record of 2104 bytes
// by value in 32-bit code).
TEST(DriverAbi, PagesAreEmbeddedAndSaveThroughTheHostsInterfaces) {
    void* driver = Driver();
    ASSERT_NE(driver, nullptr);
    WNDCLASSW cls{};
    cls.lpfnWndProc = HostProc;
    cls.hInstance = ::GetModuleHandleW(nullptr);
    cls.lpszClassName = L"AbiTestHost";
    ::RegisterClassW(&cls);
    const HWND host = ::CreateWindowExW(0, L"AbiTestHost", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 400,
                                        300, nullptr, nullptr, cls.hInstance, nullptr);
    ASSERT_NE(host, nullptr);
    FakeHostObject server = MakeServer(kCheckedServer.slots);
    FakeHostObject item = MakeItem(kCheckedItem.slots);
    Call<InitialFn>("Initial", driver, kInitial, &server, nullptr, nullptr, nullptr, nullptr,
                    nullptr);
    const auto send = [](HWND page, UINT message) {
        Invoke("SendMessageW", &::SendMessageW, page, message, WPARAM{0}, LPARAM{0});
    };
    constexpr UINT kSettingsSave = WM_USER + 301;
    constexpr UINT kPageDetach = WM_USER + 304;
    constexpr UINT kItemUpdate = WM_USER + 340;

    HWND page = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
    ASSERT_EQ(
        Call<ConfigCreateFn>("ConfigCreate", driver, kConfigCreate, host, &page, &width, &height),
        1);
    send(page, kSettingsSave);
    EXPECT_EQ(server.calls,
              (std::vector<std::string>{"SaveConfig WaitTimeout=3000", "SaveConfig CountTry=3",
                                        "SaveConfig TimeNextSend=60000", "SaveConfig CalcCRC=-1"}));
    send(page, kPageDetach);

    EXPECT_EQ(Call<AddNodeCreateFn>("AddNodeCreate", driver, kAddNodeCreate, host, &item, &page,
                                    &width, &height),
              1);
    send(page, kPageDetach);
    PropertyArray node({{6, Int(1000)}});
    PropertyArray level({{101, Text(L"level")}, {5004, Text(L"Весовые точки")}, {5008, Int(2)}});
    EXPECT_EQ(Call<AddItemCreateFn>("AddItemCreate", driver, kAddItemCreate, host, &item,
                                    node.Get(), &page, &width, &height),
              1);
    send(page, kPageDetach);

    ShortString name;
    SetText(name, u"Level_2");
    ASSERT_EQ(Call<ChangeChildItemFn>("ChangeChildItem", driver, kChangeChildItem, host, &item,
                                      &name, 0u, node.Get(), level.Get(), &page, &width, &height),
              1);
    send(page, kItemUpdate);
    EXPECT_EQ(item.calls, std::vector<std::string>{"UpdateItem Level_2"});
    send(page, kPageDetach);
    EXPECT_EQ(item.refs, 0);

    Call<NoArgumentFn>("Deinitial", driver, kDeinitial);
    ::DestroyWindow(host);
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);
    return RUN_ALL_TESTS();
}
