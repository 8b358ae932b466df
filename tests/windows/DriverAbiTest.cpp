// Loads Vemox.dll the way the host does and talks to the driver through bare method-table slot
// numbers, with function types declared here and nowhere else. Nothing of the library's own
// C++ declarations is used, so a slot in the wrong place or a parameter of the wrong shape in
// the shared header shows up here as a wrong answer or a crash instead of compiling away.
#include <windows.h>

#include <oleauto.h>

#include "BareHost.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
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
