// The binary contract with the host: records byte for byte, and the interfaces in their
// method-table order. Offsets are pinned for both pointer widths: the 32-bit numbers are
// what the shipped host uses, the 64-bit ones follow from natural alignment.
#pragma once

#include "platform/Types.h"

#include <string_view>

namespace vemox {

constexpr int kShortStringLength = 513;
using KibShortString = WideChar[kShortStringLength];

// Fills all 1026 bytes with 0, then copies at most 513 code units of the text.
void GetShortString(std::u16string_view text, KibShortString& target) noexcept;
// The text of a short string: up to its first 0 unit or the end of the array.
std::u16string_view ShortStringView(const KibShortString& source) noexcept;

enum TTask : std::uint8_t {
    tNone = 0,
    tSyncRead = 1,
    tSyncWrite = 2,
    tAsyncRead = 3,
    tAsyncWrite = 4,
    tInit = 5,
};

// Port 0 is COM1. The host names only 30 ports; the driver carries 0 to 99 in the byte.
using TComPortNum = std::uint8_t;
constexpr TComPortNum pnCOM1 = 0;
constexpr TComPortNum pmCOM30 = 29;

using PResult = HRESULT*;

struct OPCITEMSTATE {
    std::uint32_t hClient;
    FILETIME ftTimeStamp;
    std::uint16_t wQuality;
    std::uint16_t wReserved;
    VARIANT vDataValue;
};

struct TItemProperty {
    VARTYPE vtDataType;
    std::uint16_t wReserved;
    std::uint32_t dwPropertyID;
    KibShortString szItemID;
    KibShortString szDescription;
    VARIANT vValue;
    HRESULT hrErrorID;
    std::uint32_t dwReserved;
};

// A dynamic array shared with the host: the value is the address of the first element, the
// 32-bit element count sits in the 4 bytes before it and a 32-bit reference count before that.
using TItemProperties = TItemProperty*;
using PItemProperties = TItemProperties*;

struct TItemAttributes {
    KibShortString szAccessPath;
    KibShortString szItemID;
    BOOL bActive;
    std::uint32_t hClient;
    std::uint32_t hServer;
    std::uint32_t dwAccessRights;
    std::uint32_t dwBlobSize;
    BYTE* pBlob;
    VARTYPE vtRequestedDataType;
    VARTYPE vtCanonicalDataType;
    std::uint32_t dwEUType;
    VARIANT vEUInfo;
};

struct IKibItem;

struct TTaskDef {
    KibShortString ItemID;
    TTask Task;
    IKibItem* Item;
    std::uint32_t TransactID;
    OPCITEMSTATE* ptrItemState;
    PItemProperties ptrNodeProperties;
    PItemProperties ptrItemProperties;
    OPCITEMSTATE* ptrReturnState;
    PResult ptrResult;
};

struct TTaskHDADef {
    KibShortString ItemID;
    TTask Task;
    IKibItem* Item;
    std::uint32_t TransactID;
    void* ptrItemState;
    PItemProperties ptrNodeProperties;
    PItemProperties ptrItemProperties;
    PResult ptrResult;
    double StartTime;
    double EndTime;
    std::uint32_t MaxCount;
};

struct TAggregate {
    std::uint32_t AggrID;
    KibShortString AggrName;
    KibShortString AggrDescript;
};
using TAggregates = TAggregate*;

// Element count of a shared dynamic array (0 for nil).
template <typename T> std::int32_t DynArrayLength(const T* first) noexcept {
    if (!first) {
        return 0;
    }
    // The length sits in the four bytes before the first element. Indexing back from the
    // element with an unsigned index would wrap the pointer: step back once, then forward.
    std::int32_t count = 0;
    const auto* header = reinterpret_cast<const unsigned char*>(first) - sizeof count;
    for (std::size_t i = 0; i < sizeof count; ++i) {
        reinterpret_cast<unsigned char*>(&count)[i] = header[i];
    }
    return count;
}

// Layouts for the host's 32-bit process and for 64-bit builds.
constexpr bool kWide = sizeof(void*) == 8;
constexpr std::size_t Pick(std::size_t narrow, std::size_t wide) {
    return kWide ? wide : narrow;
}

static_assert(sizeof(KibShortString) == 1026);
static_assert(sizeof(TTask) == 1 && sizeof(TComPortNum) == 1);

static_assert(offsetof(OPCITEMSTATE, hClient) == 0);
static_assert(offsetof(OPCITEMSTATE, ftTimeStamp) == 4);
static_assert(offsetof(OPCITEMSTATE, wQuality) == 12);
static_assert(offsetof(OPCITEMSTATE, wReserved) == 14);
static_assert(offsetof(OPCITEMSTATE, vDataValue) == 16);
static_assert(sizeof(OPCITEMSTATE) == Pick(32, 40));

static_assert(offsetof(TItemProperty, vtDataType) == 0);
static_assert(offsetof(TItemProperty, wReserved) == 2);
static_assert(offsetof(TItemProperty, dwPropertyID) == 4);
static_assert(offsetof(TItemProperty, szItemID) == 8);
static_assert(offsetof(TItemProperty, szDescription) == 1034);
static_assert(offsetof(TItemProperty, vValue) == 2064);
static_assert(offsetof(TItemProperty, hrErrorID) == Pick(2080, 2088));
static_assert(offsetof(TItemProperty, dwReserved) == Pick(2084, 2092));
static_assert(sizeof(TItemProperty) == Pick(2088, 2096));

static_assert(offsetof(TItemAttributes, szAccessPath) == 0);
static_assert(offsetof(TItemAttributes, szItemID) == 1026);
static_assert(offsetof(TItemAttributes, bActive) == 2052);
static_assert(offsetof(TItemAttributes, hClient) == 2056);
static_assert(offsetof(TItemAttributes, hServer) == 2060);
static_assert(offsetof(TItemAttributes, dwAccessRights) == 2064);
static_assert(offsetof(TItemAttributes, dwBlobSize) == 2068);
static_assert(offsetof(TItemAttributes, pBlob) == 2072);
static_assert(offsetof(TItemAttributes, vtRequestedDataType) == Pick(2076, 2080));
static_assert(offsetof(TItemAttributes, vtCanonicalDataType) == Pick(2078, 2082));
static_assert(offsetof(TItemAttributes, dwEUType) == Pick(2080, 2084));
static_assert(offsetof(TItemAttributes, vEUInfo) == 2088);
static_assert(sizeof(TItemAttributes) == Pick(2104, 2112));

static_assert(offsetof(TTaskDef, ItemID) == 0);
static_assert(offsetof(TTaskDef, Task) == 1026);
static_assert(offsetof(TTaskDef, Item) == Pick(1028, 1032));
static_assert(offsetof(TTaskDef, TransactID) == Pick(1032, 1040));
static_assert(offsetof(TTaskDef, ptrItemState) == Pick(1036, 1048));
static_assert(offsetof(TTaskDef, ptrNodeProperties) == Pick(1040, 1056));
static_assert(offsetof(TTaskDef, ptrItemProperties) == Pick(1044, 1064));
static_assert(offsetof(TTaskDef, ptrReturnState) == Pick(1048, 1072));
static_assert(offsetof(TTaskDef, ptrResult) == Pick(1052, 1080));
static_assert(sizeof(TTaskDef) == Pick(1056, 1088));

static_assert(offsetof(TTaskHDADef, ItemID) == 0);
static_assert(offsetof(TTaskHDADef, Task) == 1026);
static_assert(offsetof(TTaskHDADef, Item) == Pick(1028, 1032));
static_assert(offsetof(TTaskHDADef, TransactID) == Pick(1032, 1040));
static_assert(offsetof(TTaskHDADef, ptrItemState) == Pick(1036, 1048));
static_assert(offsetof(TTaskHDADef, ptrNodeProperties) == Pick(1040, 1056));
static_assert(offsetof(TTaskHDADef, ptrItemProperties) == Pick(1044, 1064));
static_assert(offsetof(TTaskHDADef, ptrResult) == Pick(1048, 1072));
static_assert(offsetof(TTaskHDADef, StartTime) == Pick(1056, 1080));
static_assert(offsetof(TTaskHDADef, EndTime) == Pick(1064, 1088));
static_assert(offsetof(TTaskHDADef, MaxCount) == Pick(1072, 1096));
static_assert(sizeof(TTaskHDADef) == Pick(1080, 1104));

static_assert(offsetof(TAggregate, AggrID) == 0);
static_assert(offsetof(TAggregate, AggrName) == 4);
static_assert(offsetof(TAggregate, AggrDescript) == 1030);
static_assert(sizeof(TAggregate) == 2056);

// ---- Interfaces. Methods are numbered after the three of IUnknown; unnamed slots are the
// host's and are never called by the driver, but must hold their places. ----

struct IKibDriver3;
struct IKibReceiveData;

struct IKibOPCServer : IUnknown {
    virtual void VX_STDCALL SaveConfig(const KibShortString& key, const KibShortString& value) = 0;
    virtual void VX_STDCALL WriteLog(const KibShortString& line, std::int32_t kind) = 0;
    virtual void VX_STDCALL ServerSlot3() = 0;
    virtual void VX_STDCALL ServerSlot4() = 0;
    virtual void VX_STDCALL ServerSlot5() = 0;
    virtual void VX_STDCALL ServerSlot6() = 0;
    virtual void VX_STDCALL ServerSlot7() = 0;
    virtual void VX_STDCALL ServerSlot8() = 0;
    virtual void VX_STDCALL ServerSlot9() = 0;
    virtual void VX_STDCALL ServerSlot10() = 0;
};

struct IKibOPCServer2 : IKibOPCServer {};

struct IKibItem : IUnknown {
    virtual HRESULT VX_STDCALL AddChild(TItemAttributes attributes, std::int32_t kind,
                                        std::int32_t flags, PItemProperties properties,
                                        IKibDriver3* driver, IKibItem** child) = 0;
    virtual void VX_STDCALL ReadComplete(std::uint32_t transactId, HRESULT result) = 0;
    virtual void VX_STDCALL WriteComplete(std::uint32_t transactId, HRESULT result) = 0;
    virtual HRESULT VX_STDCALL UpdateItem(TItemAttributes attributes,
                                          PItemProperties properties) = 0;
    virtual void VX_STDCALL ReportExchange(std::uint32_t answered, std::uint32_t retries,
                                           std::uint8_t first) = 0;
    virtual void VX_STDCALL ItemSlot6() = 0;
    virtual void VX_STDCALL ItemSlot7() = 0;
    virtual void VX_STDCALL ItemSlot8() = 0;
    virtual void VX_STDCALL ItemSlot9() = 0;
    virtual void VX_STDCALL ItemSlot10() = 0;
};

struct IKibComPort : IUnknown {
    virtual std::uint8_t VX_STDCALL WriteData(TComPortNum port, const void* data, std::int32_t size,
                                              IKibReceiveData* receiver) = 0;
    virtual void VX_STDCALL PortSlot2() = 0;
    virtual void VX_STDCALL ReleasePort(TComPortNum port, IKibReceiveData* receiver) = 0;
};

struct IKibComPort2 : IKibComPort {
    virtual void VX_STDCALL PortSlot4() = 0;
    virtual void VX_STDCALL PortSlot5() = 0;
    virtual void VX_STDCALL PortSlot6() = 0;
    virtual void VX_STDCALL PortSlot7() = 0;
    virtual void VX_STDCALL PortSlot8() = 0;
    virtual void VX_STDCALL PortSlot9() = 0;
    virtual void VX_STDCALL PortSlot10() = 0;
};

struct IKibComPort3 : IKibComPort2 {
    virtual bool VX_STDCALL CapturePort(TComPortNum port, IKibReceiveData* receiver) = 0;
    virtual void VX_STDCALL ServicePort(TComPortNum port, IKibReceiveData* receiver) = 0;
};

struct IKibReceiveData : IUnknown {
    virtual void VX_STDCALL OnReceiveData(TComPortNum port, const void* data,
                                          std::int32_t size) = 0;
    virtual void VX_STDCALL OnReleasePort(TComPortNum port) = 0;
    virtual bool VX_STDCALL CompleteReceive(TComPortNum port, const void* data,
                                            std::int32_t size) = 0;
};

struct IKibDriver : IUnknown {
    virtual void VX_STDCALL Initial(IKibOPCServer* server, IKibComPort* comPort,
                                    KibShortString* name, KibShortString* descript,
                                    KibShortString* helpFileName,
                                    IKibReceiveData** receiveData) = 0;
    virtual bool VX_STDCALL ConfigCreate(WindowHandle parent, WindowHandle* child,
                                         std::int32_t* width, std::int32_t* height) = 0;
    virtual bool VX_STDCALL AddNodeCreate(WindowHandle parent, IKibItem* item, WindowHandle* child,
                                          std::int32_t* width, std::int32_t* height) = 0;
    virtual bool VX_STDCALL AddItemCreate(WindowHandle parent, IKibItem* item,
                                          PItemProperties props, WindowHandle* child,
                                          std::int32_t* width, std::int32_t* height) = 0;
    virtual bool VX_STDCALL ChangeChildItem(WindowHandle parent, IKibItem* item,
                                            const KibShortString& itemName, std::uint32_t flag,
                                            PItemProperties nodeProps, PItemProperties props,
                                            WindowHandle* child, std::int32_t* width,
                                            std::int32_t* height) = 0;
    virtual HRESULT VX_STDCALL AddTask(TTaskDef taskDef) = 0;
    virtual HRESULT VX_STDCALL RunTasks(std::uint8_t priority) = 0;
    virtual bool VX_STDCALL LoadConfig(const KibShortString& name, const KibShortString& value) = 0;
    virtual void VX_STDCALL PurgeAction(IKibItem* item) = 0;
    virtual void VX_STDCALL GetPropStr(std::uint32_t propId, VARIANT value,
                                       KibShortString* text) = 0;
    virtual HRESULT VX_STDCALL ResetDeviceState(TTaskDef taskDef) = 0;
    virtual void VX_STDCALL PurgeActions() = 0;
    virtual void VX_STDCALL SetDebugMode(bool value) = 0;
    virtual bool VX_STDCALL GetWatchdogTimeout(PItemProperties nodeProps, PItemProperties props,
                                               std::int32_t* timeout) = 0;
    virtual bool VX_STDCALL SetSlaveMode(bool value) = 0;
    virtual bool VX_STDCALL GetComPort(TItemProperties props, TComPortNum* comPortNum) = 0;
    virtual bool VX_STDCALL IsSupportDataAccess() = 0;
    virtual bool VX_STDCALL IsSupportHistoryDataAccess() = 0;
    virtual bool VX_STDCALL GetAggregates(TAggregates* aggregates) = 0;
    virtual bool VX_STDCALL RunHDATasks(std::uint8_t priority) = 0;
    virtual bool VX_STDCALL AddHDATask(TTaskHDADef taskDef) = 0;
};

struct IKibDriver2 : IKibDriver {
    virtual void VX_STDCALL Execute() = 0;
};

struct IKibDriver3 : IKibDriver2 {
    virtual bool VX_STDCALL IsSupportReplicateNode() = 0;
    virtual bool VX_STDCALL IsSupportReplicateItem() = 0;
    virtual void VX_STDCALL Deinitial() = 0;
};

// Interface identities as the host knows them.
constexpr GUID IID_IUnknown_ = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr GUID IID_IKibDriver = {
    0xC057E49C, 0x3221, 0x4DF8, {0x81, 0x34, 0x1B, 0x2B, 0x51, 0x6C, 0xB0, 0xB1}};
constexpr GUID IID_IKibDriver2 = {
    0x267AFD2B, 0xC23F, 0x42DA, {0xA8, 0xDF, 0xFA, 0x32, 0x08, 0x6E, 0x75, 0xD7}};
constexpr GUID IID_IKibDriver3 = {
    0x79433AC7, 0x69FC, 0x4085, {0xA0, 0x08, 0xB8, 0x38, 0x35, 0xF8, 0x34, 0xB4}};
constexpr GUID IID_IKibReceiveData = {
    0xFACC000A, 0x9C12, 0x46B9, {0xA9, 0x1B, 0x25, 0x4F, 0x02, 0xBA, 0x51, 0xF6}};
constexpr GUID IID_IKibOPCServer = {
    0x66C716E1, 0xCB78, 0x4DD4, {0x93, 0xF2, 0xEC, 0x7E, 0xBE, 0xAF, 0x03, 0x54}};
constexpr GUID IID_IKibOPCServer2 = {
    0xE531EA56, 0x9D39, 0x491E, {0xAD, 0xF8, 0x1A, 0xB6, 0x35, 0xEE, 0xF1, 0x17}};
constexpr GUID IID_IKibItem = {
    0xF2B0EFCD, 0x411F, 0x4E2A, {0xB6, 0x3D, 0x46, 0xA1, 0xBB, 0xE1, 0xC9, 0x21}};
constexpr GUID IID_IKibComPort = {
    0x740C49CF, 0x02A2, 0x4427, {0xB3, 0x43, 0x2A, 0x76, 0xB9, 0x45, 0xE9, 0xD9}};
constexpr GUID IID_IKibComPort2 = {
    0x4C25A371, 0x0344, 0x4688, {0x80, 0x4A, 0x13, 0x27, 0xB2, 0x4D, 0x3F, 0x9F}};
constexpr GUID IID_IKibComPort3 = {
    0x11AFEB48, 0xC45F, 0x4D35, {0xB7, 0x19, 0x00, 0x30, 0xE1, 0x8D, 0xC2, 0xA3}};

} // namespace vemox

// The library's one export: stores the driver interface in the caller's variable.
extern "C" void VX_STDCALL GetKibDriver2(vemox::IKibDriver3** result);
