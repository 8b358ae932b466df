// Loads Vemox.dll the way the host does and talks to the driver through bare method-table slot
// numbers, with function types declared here and nowhere else. Nothing of the library's own
// C++ declarations is used, so a slot in the wrong place or a parameter of the wrong shape in
// the shared header shows up here as a wrong answer or a crash instead of compiling away.
#include <windows.h>

#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// ---- The host's view of the contract, written out independently. ----

constexpr int kShortUnits = 513;
using ShortString = wchar_t[kShortUnits];
static_assert(sizeof(ShortString) == 1026);

constexpr bool kWide = sizeof(void*) == 8;

struct TaskDef {
    ShortString ItemID;
    std::uint8_t Task;
    void* Item;
    std::uint32_t TransactID;
    void* ptrItemState;
    void* ptrNodeProperties;
    void* ptrItemProperties;
    void* ptrReturnState;
    HRESULT* ptrResult;
};
static_assert(sizeof(TaskDef) == (kWide ? 1088 : 1056));

struct TaskHDADef {
    ShortString ItemID;
    std::uint8_t Task;
    void* Item;
    std::uint32_t TransactID;
    void* ptrItemState;
    void* ptrNodeProperties;
    void* ptrItemProperties;
    HRESULT* ptrResult;
    double StartTime;
    double EndTime;
    std::uint32_t MaxCount;
};
static_assert(sizeof(TaskHDADef) == (kWide ? 1104 : 1080));

constexpr GUID kIUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr GUID kIDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr GUID kIKibDriver = {
    0xC057E49C, 0x3221, 0x4DF8, {0x81, 0x34, 0x1B, 0x2B, 0x51, 0x6C, 0xB0, 0xB1}};
constexpr GUID kIKibDriver2 = {
    0x267AFD2B, 0xC23F, 0x42DA, {0xA8, 0xDF, 0xFA, 0x32, 0x08, 0x6E, 0x75, 0xD7}};
constexpr GUID kIKibDriver3 = {
    0x79433AC7, 0x69FC, 0x4085, {0xA0, 0x08, 0xB8, 0x38, 0x35, 0xF8, 0x34, 0xB4}};
constexpr GUID kIKibReceiveData = {
    0xFACC000A, 0x9C12, 0x46B9, {0xA9, 0x1B, 0x25, 0x4F, 0x02, 0xBA, 0x51, 0xF6}};
constexpr GUID kIKibOPCServer = {
    0x66C716E1, 0xCB78, 0x4DD4, {0x93, 0xF2, 0xEC, 0x7E, 0xBE, 0xAF, 0x03, 0x54}};
constexpr GUID kIKibOPCServer2 = {
    0xE531EA56, 0x9D39, 0x491E, {0xAD, 0xF8, 0x1A, 0xB6, 0x35, 0xEE, 0xF1, 0x17}};
constexpr GUID kIKibItem = {
    0xF2B0EFCD, 0x411F, 0x4E2A, {0xB6, 0x3D, 0x46, 0xA1, 0xBB, 0xE1, 0xC9, 0x21}};
constexpr GUID kIKibComPort = {
    0x740C49CF, 0x02A2, 0x4427, {0xB3, 0x43, 0x2A, 0x76, 0xB9, 0x45, 0xE9, 0xD9}};
constexpr GUID kIKibComPort2 = {
    0x4C25A371, 0x0344, 0x4688, {0x80, 0x4A, 0x13, 0x27, 0xB2, 0x4D, 0x3F, 0x9F}};
constexpr GUID kIKibComPort3 = {
    0x11AFEB48, 0xC45F, 0x4D35, {0xB7, 0x19, 0x00, 0x30, 0xE1, 0x8D, 0xC2, 0xA3}};

// Method-table slots: 0..2 are IUnknown, then the operations in their documented order.
enum DriverSlot : int {
    kQueryInterface = 0,
    kAddRef = 1,
    kRelease = 2,
    kInitial = 3,
    kLoadConfig = 10,
    kGetPropStr = 12,
    kResetDeviceState = 13,
    kPurgeActions = 14,
    kSetDebugMode = 15,
    kGetWatchdogTimeout = 16,
    kSetSlaveMode = 17,
    kGetComPort = 18,
    kIsSupportDataAccess = 19,
    kIsSupportHistoryDataAccess = 20,
    kGetAggregates = 21,
    kRunHDATasks = 22,
    kAddHDATask = 23,
    kIsSupportReplicateNode = 25,
    kIsSupportReplicateItem = 26,
    kDeinitial = 27,
};
enum ReceiveSlot : int {
    kOnReleasePort = 4,
    kCompleteReceive = 5,
};

// A Boolean crosses the boundary as one byte.
using Boolean = std::uint8_t;

using GetKibDriver2Fn = void(__stdcall*)(void** result);
using QueryInterfaceFn = HRESULT(__stdcall*)(void* self, const GUID* iid, void** object);
using CountFn = ULONG(__stdcall*)(void* self);
using InitialFn = void(__stdcall*)(void* self, void* server, void* comPort, ShortString* name,
                                   ShortString* descript, ShortString* helpFileName,
                                   void** receiveData);
using LoadConfigFn = Boolean(__stdcall*)(void* self, const ShortString* name,
                                         const ShortString* value);
using GetPropStrFn = void(__stdcall*)(void* self, std::uint32_t propId, VARIANT value,
                                      ShortString* text);
using ResetDeviceStateFn = HRESULT(__stdcall*)(void* self, TaskDef taskDef);
using NoArgumentFn = void(__stdcall*)(void* self);
using SetFlagFn = void(__stdcall*)(void* self, Boolean value);
using GetWatchdogTimeoutFn = Boolean(__stdcall*)(void* self, void* nodeProps, void* props,
                                                 std::int32_t* timeout);
using SetSlaveModeFn = Boolean(__stdcall*)(void* self, Boolean value);
// TItemProperties by value is the array value itself: the address of its first element.
using GetComPortFn = Boolean(__stdcall*)(void* self, void* props, std::uint8_t* comPortNum);
using AnswerFn = Boolean(__stdcall*)(void* self);
using GetAggregatesFn = Boolean(__stdcall*)(void* self, void** aggregates);
using RunHDATasksFn = Boolean(__stdcall*)(void* self, std::uint8_t priority);
using AddHDATaskFn = Boolean(__stdcall*)(void* self, TaskHDADef taskDef);
using OnReleasePortFn = void(__stdcall*)(void* self, std::uint8_t port);
using CompleteReceiveFn = Boolean(__stdcall*)(void* self, std::uint8_t port, const void* data,
                                              std::int32_t size);

template <typename Fn> Fn Slot(void* object, int index) {
    void* const* table = *static_cast<void* const* const*>(object);
    return reinterpret_cast<Fn>(table[index]);
}

// ---- A bare host object: a method table, a reference count and the interfaces it offers. ----

struct FakeHostObject {
    void* const* table;
    LONG refs = 0;
    std::vector<GUID> offered;
    std::vector<GUID> asked;
    int otherCalls = 0;
};

HRESULT __stdcall FakeQueryInterface(void* self, const GUID* iid, void** object) {
    auto* fake = static_cast<FakeHostObject*>(self);
    *object = nullptr;
    fake->asked.push_back(*iid);
    for (const GUID& offered : fake->offered) {
        if (IsEqualGUID(offered, *iid)) {
            *object = fake;
            ++fake->refs;
            return S_OK;
        }
    }
    return E_NOINTERFACE;
}
ULONG __stdcall FakeAddRef(void* self) {
    return static_cast<ULONG>(++static_cast<FakeHostObject*>(self)->refs);
}
ULONG __stdcall FakeRelease(void* self) {
    return static_cast<ULONG>(--static_cast<FakeHostObject*>(self)->refs);
}
// Every host method that this contract does not let the driver call during these operations.
void __stdcall FakeOtherMethod(void* self) {
    ++static_cast<FakeHostObject*>(self)->otherCalls;
}

// Ten methods after IUnknown for the server and the item, twelve for the port service.
template <int Methods> struct FakeTable {
    void* slots[3 + Methods];
    FakeTable() {
        slots[0] = reinterpret_cast<void*>(&FakeQueryInterface);
        slots[1] = reinterpret_cast<void*>(&FakeAddRef);
        slots[2] = reinterpret_cast<void*>(&FakeRelease);
        for (int i = 3; i < 3 + Methods; ++i) {
            slots[i] = reinterpret_cast<void*>(&FakeOtherMethod);
        }
    }
};
const FakeTable<10> kServerTable;
const FakeTable<10> kItemTable;
const FakeTable<12> kComPortTable;

FakeHostObject MakeServer() {
    return {kServerTable.slots, 0, {kIUnknown, kIKibOPCServer, kIKibOPCServer2}, {}, 0};
}
FakeHostObject MakeComPort() {
    return {kComPortTable.slots, 0, {kIUnknown, kIKibComPort, kIKibComPort2, kIKibComPort3}, {}, 0};
}
FakeHostObject MakeItem() {
    return {kItemTable.slots, 0, {kIUnknown, kIKibItem}, {}, 0};
}

// ---- The library, loaded once for the whole program and unloaded at its end. ----

HMODULE gLibrary = nullptr;
GetKibDriver2Fn gGetKibDriver2 = nullptr;

std::wstring LibraryPath() {
    wchar_t self[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, length);
    path.erase(path.find_last_of(L"\\/") + 1);
    return path + L"Vemox.dll";
}

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
    return Slot<QueryInterfaceFn>(object, kQueryInterface)(object, &iid, out);
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
        EXPECT_EQ(Slot<CountFn>(object, kAddRef)(object), 0xFFFFFFFFu);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(Slot<CountFn>(object, kRelease)(object), 0xFFFFFFFFu);
        }
    }
    // Released more often than referenced, the driver still answers.
    EXPECT_EQ(Slot<AnswerFn>(driver, kIsSupportDataAccess)(driver), 1);
    EXPECT_EQ(Driver(), driver);
}

TEST(DriverAbi, InitialTakesTheHostInterfacesAndDeinitialGivesThemBack) {
    void* driver = Driver();
    ASSERT_NE(driver, nullptr);
    FakeHostObject server = MakeServer();
    FakeHostObject comPort = MakeComPort();

    ShortString name;
    ShortString descript;
    ShortString help;
    std::memset(name, 0xCD, sizeof name);
    std::memset(descript, 0xCD, sizeof descript);
    std::memset(help, 0xCD, sizeof help);
    void* receive = reinterpret_cast<void*>(0x1234);

    Slot<InitialFn>(driver, kInitial)(driver, &server, &comPort, &name, &descript, &help, &receive);

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

    Slot<NoArgumentFn>(driver, kDeinitial)(driver);
    EXPECT_EQ(server.refs, 0);
    EXPECT_EQ(comPort.refs, 0);
    EXPECT_EQ(server.otherCalls, 0);
    EXPECT_EQ(comPort.otherCalls, 0);
}

TEST(DriverAbi, GetPropStrWritesTheDisplayTextZeroFilled) {
    void* driver = Driver();
    ASSERT_NE(driver, nullptr);
    const auto getPropStr = Slot<GetPropStrFn>(driver, kGetPropStr);

    struct Case {
        std::uint32_t id;
        VARTYPE type;
        LONG number;
        const wchar_t* text;
        std::u16string expected;
    };
    const Case cases[] = {
        {5000, VT_I4, 0, nullptr, u"COM1"},       {5000, VT_I4, 4, nullptr, u"COM5"},
        {5000, VT_EMPTY, 0, nullptr, u""},        {5000, VT_NULL, 0, nullptr, u""},
        {5002, VT_I4, 17, nullptr, u"17"},        {5002, VT_I4, -3, nullptr, u"-3"},
        {5001, VT_BSTR, 0, L"Весы 1", u"Весы 1"}, {5000, VT_BSTR, 0, L"не число", u""},
    };
    for (const Case& c : cases) {
        VARIANT value;
        VariantInit(&value);
        value.vt = c.type;
        if (c.type == VT_I4) {
            value.lVal = c.number;
        } else if (c.type == VT_BSTR) {
            value.bstrVal = SysAllocString(c.text);
        }
        ShortString text;
        std::memset(text, 0xCD, sizeof text);
        getPropStr(driver, c.id, value, &text);
        EXPECT_EQ(Text(text), c.expected) << "property " << c.id << " type " << c.type;
        EXPECT_TRUE(ZeroAfterText(text)) << "property " << c.id << " type " << c.type;
        VariantClear(&value);
    }
}

TEST(DriverAbi, WatchdogFollowsTheLoadedSettings) {
    void* driver = Driver();
    ASSERT_NE(driver, nullptr);
    const auto watchdog = Slot<GetWatchdogTimeoutFn>(driver, kGetWatchdogTimeout);
    const auto loadConfig = Slot<LoadConfigFn>(driver, kLoadConfig);
    auto load = [&](const char16_t* key, const char16_t* value) {
        ShortString k;
        ShortString v;
        SetText(k, key);
        SetText(v, value);
        return loadConfig(driver, &k, &v);
    };

    std::int32_t timeout = 0;
    EXPECT_EQ(watchdog(driver, nullptr, nullptr, &timeout), 1);
    EXPECT_EQ(timeout, 12000);

    EXPECT_EQ(load(u"WaitTimeout", u"1000"), 1);
    EXPECT_EQ(load(u"CountTry", u"5"), 1);
    timeout = 0;
    EXPECT_EQ(watchdog(driver, nullptr, nullptr, &timeout), 1);
    EXPECT_EQ(timeout, 8000);

    // A key of another letter case is ignored.
    EXPECT_EQ(load(u"counttry", u"9"), 1);
    EXPECT_EQ(watchdog(driver, nullptr, nullptr, &timeout), 1);
    EXPECT_EQ(timeout, 8000);

    EXPECT_EQ(load(u"WaitTimeout", u"3000"), 1);
    EXPECT_EQ(load(u"CountTry", u"3"), 1);
    EXPECT_EQ(watchdog(driver, nullptr, nullptr, &timeout), 1);
    EXPECT_EQ(timeout, 12000);
}

TEST(DriverAbi, FixedAnswersTouchNothing) {
    void* driver = Driver();
    ASSERT_NE(driver, nullptr);
    FakeHostObject item = MakeItem();

    TaskDef task{};
    task.Task = 3;
    task.Item = &item;
    task.TransactID = 77;
    EXPECT_EQ(Slot<ResetDeviceStateFn>(driver, kResetDeviceState)(driver, task), S_OK);

    Slot<NoArgumentFn>(driver, kPurgeActions)(driver);
    Slot<SetFlagFn>(driver, kSetDebugMode)(driver, 1);
    Slot<SetFlagFn>(driver, kSetDebugMode)(driver, 0);
    EXPECT_EQ(Slot<SetSlaveModeFn>(driver, kSetSlaveMode)(driver, 1), 0);

    std::uint8_t port = 0x5A;
    EXPECT_EQ(Slot<GetComPortFn>(driver, kGetComPort)(driver, nullptr, &port), 0);
    EXPECT_EQ(port, 0x5A);

    EXPECT_EQ(Slot<AnswerFn>(driver, kIsSupportDataAccess)(driver), 1);
    EXPECT_EQ(Slot<AnswerFn>(driver, kIsSupportHistoryDataAccess)(driver), 0);

    // A filled array handed in comes back empty.
    std::uint32_t hostArray[4] = {1, 1, 0, 0};
    void* aggregates = &hostArray[2];
    EXPECT_EQ(Slot<GetAggregatesFn>(driver, kGetAggregates)(driver, &aggregates), 0);
    EXPECT_EQ(aggregates, nullptr);

    EXPECT_EQ(Slot<RunHDATasksFn>(driver, kRunHDATasks)(driver, 1), 0);
    TaskHDADef history{};
    history.Item = &item;
    history.MaxCount = 10;
    EXPECT_EQ(Slot<AddHDATaskFn>(driver, kAddHDATask)(driver, history), 0);

    EXPECT_EQ(Slot<AnswerFn>(driver, kIsSupportReplicateNode)(driver), 0);
    EXPECT_EQ(Slot<AnswerFn>(driver, kIsSupportReplicateItem)(driver), 0);

    void* receive = nullptr;
    ASSERT_EQ(Query(driver, kIKibReceiveData, &receive), S_OK);
    Slot<OnReleasePortFn>(receive, kOnReleasePort)(receive, 0);
    const std::uint8_t bytes[] = {0xFF, 0x05, 0xC2, 0x86, 0xFF, 0xFF};
    EXPECT_EQ(Slot<CompleteReceiveFn>(receive, kCompleteReceive)(receive, 0, bytes, 6), 0);

    // Neither task was kept: the host's item holds no reference from the driver.
    EXPECT_EQ(item.refs, 0);
    EXPECT_EQ(item.otherCalls, 0);
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);
    return RUN_ALL_TESTS();
}
