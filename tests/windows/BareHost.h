// The host's side of the driver contract written out independently of the library's own
// declarations: record shapes, interface IDs, method-table slots and bare host objects that
// count references. Programs that load Vemox.dll as a host does share it.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace bare_host {

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

struct ItemState {
    std::uint32_t hClient;
    FILETIME ftTimeStamp;
    std::uint16_t wQuality;
    std::uint16_t wReserved;
    VARIANT vDataValue;
};
static_assert(sizeof(ItemState) == (kWide ? 40 : 32));

struct ItemProperty {
    VARTYPE vtDataType;
    WORD wReserved;
    DWORD dwPropertyID;
    ShortString szItemID;
    ShortString szDescription;
    VARIANT vValue;
    HRESULT hrErrorID;
    DWORD dwReserved;
};
static_assert(sizeof(ItemProperty) == (kWide ? 2096 : 2088));

struct ItemAttributes {
    ShortString szAccessPath;
    ShortString szItemID;
    BOOL bActive;
    DWORD hClient;
    DWORD hServer;
    DWORD dwAccessRights;
    DWORD dwBlobSize;
    BYTE* pBlob;
    VARTYPE vtRequestedDataType;
    VARTYPE vtCanonicalDataType;
    DWORD dwEUType;
    VARIANT vEUInfo;
};
static_assert(sizeof(ItemAttributes) == (kWide ? 2112 : 2104));

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
    kConfigCreate = 4,
    kAddNodeCreate = 5,
    kAddItemCreate = 6,
    kChangeChildItem = 7,
    kAddTask = 8,
    kRunTasks = 9,
    kLoadConfig = 10,
    kPurgeAction = 11,
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
    kExecute = 24,
    kIsSupportReplicateNode = 25,
    kIsSupportReplicateItem = 26,
    kDeinitial = 27,
};
enum ReceiveSlot : int {
    kOnReceiveData = 3,
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
using ConfigCreateFn = Boolean(__stdcall*)(void* self, HWND parent, HWND* child,
                                           std::int32_t* width, std::int32_t* height);
using AddNodeCreateFn = Boolean(__stdcall*)(void* self, HWND parent, void* item, HWND* child,
                                            std::int32_t* width, std::int32_t* height);
using AddItemCreateFn = Boolean(__stdcall*)(void* self, HWND parent, void* item, void* props,
                                            HWND* child, std::int32_t* width, std::int32_t* height);
using ChangeChildItemFn = Boolean(__stdcall*)(void* self, HWND parent, void* item,
                                              const ShortString* itemName, std::uint32_t flag,
                                              void* nodeProps, void* props, HWND* child,
                                              std::int32_t* width, std::int32_t* height);
using AddTaskFn = HRESULT(__stdcall*)(void* self, TaskDef taskDef);
using RunTasksFn = HRESULT(__stdcall*)(void* self, std::uint8_t priority);
using PurgeActionFn = void(__stdcall*)(void* self, void* item);
using OnReceiveDataFn = void(__stdcall*)(void* self, std::uint8_t port, const void* data,
                                         std::int32_t size);
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
    std::vector<std::string> calls; // the named methods the driver called, with their arguments
};

// Texts as the calls record them: ASCII kept, anything else as '?'.
inline std::string Narrow(const ShortString& text) {
    std::string out;
    for (int i = 0; i < kShortUnits && text[i] != 0; ++i) {
        out.push_back(text[i] < 0x80 ? static_cast<char>(text[i]) : '?');
    }
    return out;
}

inline void Record(void* self, const std::string& call) {
    static_cast<FakeHostObject*>(self)->calls.push_back(call);
}

inline HRESULT __stdcall FakeQueryInterface(void* self, const GUID* iid, void** object) {
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
inline ULONG __stdcall FakeAddRef(void* self) {
    return static_cast<ULONG>(++static_cast<FakeHostObject*>(self)->refs);
}
inline ULONG __stdcall FakeRelease(void* self) {
    return static_cast<ULONG>(--static_cast<FakeHostObject*>(self)->refs);
}
// Every host method that this contract does not let the driver call during these operations.
inline void __stdcall FakeOtherMethod(void* self) {
    ++static_cast<FakeHostObject*>(self)->otherCalls;
}

inline void __stdcall FakeSaveConfig(void* self, const ShortString* key, const ShortString* value) {
    Record(self, "SaveConfig " + Narrow(*key) + "=" + Narrow(*value));
}
inline void __stdcall FakeWriteLog(void* self, const ShortString* line, std::int32_t kind) {
    Record(self, "WriteLog " + std::to_string(kind) + " " + Narrow(*line));
}
inline void __stdcall FakeReadComplete(void* self, std::uint32_t transactId, HRESULT result) {
    Record(self, "ReadComplete " + std::to_string(transactId) + " " + std::to_string(result));
}
inline void __stdcall FakeWriteComplete(void* self, std::uint32_t transactId, HRESULT result) {
    Record(self, "WriteComplete " + std::to_string(transactId) + " " + std::to_string(result));
}
inline HRESULT __stdcall FakeUpdateItem(void* self, ItemAttributes attributes, void*) {
    Record(self, "UpdateItem " + Narrow(attributes.szItemID));
    return S_OK;
}
inline void __stdcall FakeReportExchange(void* self, std::uint32_t answered, std::uint32_t retries,
                                         std::uint8_t first) {
    Record(self, "ReportExchange " + std::to_string(answered) + " " + std::to_string(retries) +
                     " " + std::to_string(first));
}
inline std::uint8_t __stdcall FakeWriteData(void* self, std::uint8_t port, const void* data,
                                            std::int32_t size, void*) {
    std::string call = "WriteData " + std::to_string(port);
    char hex[4];
    for (std::int32_t i = 0; i < size; ++i) {
        std::snprintf(hex, sizeof hex, " %02X", static_cast<const std::uint8_t*>(data)[i]);
        call += hex;
    }
    Record(self, call);
    return 0; // accepted
}
inline void __stdcall FakeReleasePort(void* self, std::uint8_t port, void*) {
    Record(self, "ReleasePort " + std::to_string(port));
}
inline Boolean __stdcall FakeCapturePort(void* self, std::uint8_t port, void*) {
    Record(self, "CapturePort " + std::to_string(port));
    return 1; // granted
}
inline void __stdcall FakeServicePort(void* self, std::uint8_t port, void*) {
    Record(self, "ServicePort " + std::to_string(port));
}

// A method table as the host lays it out, with each method's name for the checks that report
// on a slot.
template <int Methods> struct FakeTable {
    static constexpr int kSlots = 3 + Methods;
    void* slots[kSlots];
    std::string names[kSlots];

    FakeTable(const char* interfaceName,
              std::initializer_list<std::tuple<int, const char*, void*>> named) {
        const std::string prefix = std::string(interfaceName) + "::";
        const std::pair<const char*, void*> unknown[] = {
            {"QueryInterface", reinterpret_cast<void*>(&FakeQueryInterface)},
            {"AddRef", reinterpret_cast<void*>(&FakeAddRef)},
            {"Release", reinterpret_cast<void*>(&FakeRelease)}};
        for (int i = 0; i < kSlots; ++i) {
            names[i] = i < 3 ? prefix + unknown[i].first : prefix + "slot " + std::to_string(i);
            slots[i] = i < 3 ? unknown[i].second : reinterpret_cast<void*>(&FakeOtherMethod);
        }
        for (const auto& [slot, name, entry] : named) {
            names[slot] = prefix + name;
            slots[slot] = entry;
        }
    }
};

template <typename Fn> void* Entry(Fn fn) {
    return reinterpret_cast<void*>(fn);
}

// Ten methods after IUnknown for the server and the item, twelve for the port service.
const FakeTable<10> kServerTable("IKibOPCServer", {{3, "SaveConfig", Entry(&FakeSaveConfig)},
                                                   {4, "WriteLog", Entry(&FakeWriteLog)}});
const FakeTable<10> kItemTable("IKibItem", {{4, "ReadComplete", Entry(&FakeReadComplete)},
                                            {5, "WriteComplete", Entry(&FakeWriteComplete)},
                                            {6, "UpdateItem", Entry(&FakeUpdateItem)},
                                            {7, "ReportExchange", Entry(&FakeReportExchange)}});
const FakeTable<12> kComPortTable("IKibComPort3", {{3, "WriteData", Entry(&FakeWriteData)},
                                                   {5, "ReleasePort", Entry(&FakeReleasePort)},
                                                   {13, "CapturePort", Entry(&FakeCapturePort)},
                                                   {14, "ServicePort", Entry(&FakeServicePort)}});

inline FakeHostObject MakeServer(void* const* table = kServerTable.slots) {
    return {table, 0, {kIUnknown, kIKibOPCServer, kIKibOPCServer2}, {}, 0, {}};
}
inline FakeHostObject MakeComPort(void* const* table = kComPortTable.slots) {
    return {table, 0, {kIUnknown, kIKibComPort, kIKibComPort2, kIKibComPort3}, {}, 0, {}};
}
inline FakeHostObject MakeItem(void* const* table = kItemTable.slots) {
    return {table, 0, {kIUnknown, kIKibItem}, {}, 0, {}};
}

// Vemox.dll beside the running program: exactly the library of this build.
inline std::wstring LibraryPath() {
    wchar_t self[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, length);
    path.erase(path.find_last_of(L"\\/") + 1);
    return path + L"Vemox.dll";
}

} // namespace bare_host
