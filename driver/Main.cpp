#include "driver/Main.h"

#include "config/Config.h"
#include "config/ItemProps.h"
#include "config/NodeProps.h"
#include "config/PageSupport.h"
#include "config/PropertySets.h"
#include "contract/Constants.h"
#include "driver/Globals.h"
#include "driver/Process.h"
#include "platform/FloatEnvironment.h"
#include "platform/Text.h"
#include "platform/VariantConvert.h"
#include "protocol/Reply.h"

#include <cstring>

namespace vemox {

void FreeQueuedTask(TQueuedTask* task) noexcept {
    if (!task) {
        return;
    }
    if (task->Item) {
        try {
            task->Item->Release();
        } catch (...) {
            // A host object that throws on release must not keep the task alive.
        }
    }
    FreeKibMemory(task);
}

TComPortDriver::~TComPortDriver() {
    ClearLists(true, true);
}

HRESULT VX_STDCALL TComPortDriver::QueryInterface(REFIID riid, void** object) {
    if (!object) {
        return E_POINTER;
    }
    *object = nullptr;
    if (SameGuid(riid, IID_IUnknown_) || SameGuid(riid, IID_IKibDriver3) ||
        SameGuid(riid, IID_IKibDriver2) || SameGuid(riid, IID_IKibDriver)) {
        *object = static_cast<IKibDriver3*>(this);
    } else if (SameGuid(riid, IID_IKibReceiveData)) {
        *object = static_cast<IKibReceiveData*>(this);
    } else {
        return E_NOINTERFACE;
    }
    return S_OK;
}

// The driver lives from library load to unload; references do not govern it.
ULONG VX_STDCALL TComPortDriver::AddRef() {
    return static_cast<ULONG>(-1);
}
ULONG VX_STDCALL TComPortDriver::Release() {
    return static_cast<ULONG>(-1);
}

void VX_STDCALL TComPortDriver::Initial(IKibOPCServer* server, IKibComPort* comPort,
                                        KibShortString* name, KibShortString* descript,
                                        KibShortString* helpFileName,
                                        IKibReceiveData** receiveData) {
    const platform::DriverFloatScope floatScope;
    try {
        if (receiveData) {
            *receiveData = nullptr;
        }
        KibServer = platform::QueryAs<IKibOPCServer2>(server, IID_IKibOPCServer2);
        KibComPorts = platform::QueryAs<IKibComPort3>(comPort, IID_IKibComPort3);
        if (receiveData) {
            *receiveData = ReceiveInterface();
        }
        if (name) {
            GetShortString(kDriverName, *name);
        }
        if (descript) {
            GetShortString(kDriverDescription, *descript);
        }
        if (helpFileName) {
            GetShortString(u"", *helpFileName);
        }
    } catch (...) {
        // A host that fails inside QueryInterface is left without our interfaces.
    }
}

void VX_STDCALL TComPortDriver::Deinitial() {
    const platform::DriverFloatScope floatScope;
    try {
        KibServer.reset();
        KibComPorts.reset();
    } catch (...) {
        // Releasing the host's interfaces is all there is to do; a failure leaves them dropped.
    }
}

bool VX_STDCALL TComPortDriver::ConfigCreate(WindowHandle parent, WindowHandle* child,
                                             std::int32_t* width, std::int32_t* height) {
    const platform::DriverFloatScope floatScope;
    ClearPageOutputs(child, width, height);
    if (!fmConfig) {
        return false;
    }
    return EmbedPage(
        fmConfig->Window(), parent, [&] { fmConfig->Init(parent); }, child, width, height);
}

bool VX_STDCALL TComPortDriver::AddNodeCreate(WindowHandle parent, IKibItem* item,
                                              WindowHandle* child, std::int32_t* width,
                                              std::int32_t* height) {
    const platform::DriverFloatScope floatScope;
    ClearPageOutputs(child, width, height);
    try {
        const platform::ComRef<IKibItem> hold(item);
        if (!fmNodeProps) {
            return false;
        }
        return EmbedPage(
            fmNodeProps->Window(), parent, [&] { fmNodeProps->Init(parent, item); }, child, width,
            height);
    } catch (...) {
        return false;
    }
}

bool VX_STDCALL TComPortDriver::AddItemCreate(WindowHandle parent, IKibItem* item,
                                              PItemProperties props, WindowHandle* child,
                                              std::int32_t* width, std::int32_t* height) {
    const platform::DriverFloatScope floatScope;
    ClearPageOutputs(child, width, height);
    try {
        const platform::ComRef<IKibItem> hold(item);
        if (!fmItemProps) {
            return false;
        }
        return EmbedPage(
            fmItemProps->Window(), parent, [&] { fmItemProps->Init(parent, item, props, nullptr); },
            child, width, height);
    } catch (...) {
        return false;
    }
}

bool VX_STDCALL TComPortDriver::ChangeChildItem(WindowHandle parent, IKibItem* item,
                                                const KibShortString& itemName, std::uint32_t flag,
                                                PItemProperties nodeProps, PItemProperties props,
                                                WindowHandle* child, std::int32_t* width,
                                                std::int32_t* height) {
    const platform::DriverFloatScope floatScope;
    ClearPageOutputs(child, width, height);
    try {
        const platform::ComRef<IKibItem> hold(item);
        KibShortString name;
        std::memcpy(name, itemName, sizeof name);
        if (flag == kChangeChildNode) {
            if (!fmNodeProps) {
                return false;
            }
            return EmbedPage(
                fmNodeProps->Window(), parent,
                [&] {
                    fmNodeProps->Init(parent, item);
                    fmNodeProps->SetNode(name, props);
                },
                child, width, height);
        }
        if (!fmItemProps) {
            return false;
        }
        return EmbedPage(
            fmItemProps->Window(), parent,
            [&] {
                fmItemProps->Init(parent, item, nodeProps, props);
                fmItemProps->SetItem(name, nodeProps, props);
            },
            child, width, height);
    } catch (...) {
        return false;
    }
}

HRESULT VX_STDCALL TComPortDriver::AddTask(TTaskDef taskDef) {
    const platform::DriverFloatScope floatScope;
    try {
        auto* task = AllocKibRecord<TQueuedTask>();
        if (!task) {
            return E_OUTOFMEMORY;
        }
        task->Task = taskDef.Task;
        task->TransactID = taskDef.TransactID;
        std::memcpy(task->ItemID, taskDef.ItemID, sizeof task->ItemID);
        task->ptrItemState = taskDef.ptrItemState;
        task->ptrNodeProperties = taskDef.ptrNodeProperties;
        task->ptrItemProperties = taskDef.ptrItemProperties;
        task->ptrReturnState = taskDef.ptrReturnState;
        task->ptrResult = taskDef.ptrResult;
        task->Command = nullptr;
        try {
            FAddTask.push_back(task);
        } catch (...) {
            FreeKibMemory(task);
            return E_OUTOFMEMORY;
        }
        task->Item = taskDef.Item;
        if (task->Item) {
            task->Item->AddRef();
        }
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

bool VX_STDCALL TComPortDriver::LoadConfig(const KibShortString& name,
                                           const KibShortString& value) {
    const platform::DriverFloatScope floatScope;
    try {
        KibShortString key;
        KibShortString text;
        std::memcpy(key, name, sizeof key);
        std::memcpy(text, value, sizeof text);
        if (!fmConfig) {
            return false;
        }
        return fmConfig->LoadConfig(key, text);
    } catch (...) {
        return false;
    }
}

void VX_STDCALL TComPortDriver::PurgeAction(IKibItem* item) {
    const platform::DriverFloatScope floatScope;
    // The item's tasks leave the lists first and are released after: releasing the host's
    // item may call back into the driver, which must then find the lists whole.
    std::vector<TQueuedTask*> dropped;
    try {
        for (std::size_t i = FAddTask.size(); i-- > 0;) {
            TQueuedTask* task = FAddTask[i];
            if (task && task->Item == item) {
                dropped.push_back(task);
                FAddTask.erase(FAddTask.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
        FWaitTask.ForEachFromLast([this, item, &dropped](TQueuedTask* task) {
            if (task->Item != item) {
                return;
            }
            dropped.push_back(task);
            FWaitTask.Remove(task);
        });
    } catch (...) {
        // Out of memory: the tasks not yet taken stay queued.
    }
    DropPending(item, false);
    for (TQueuedTask* task : dropped) {
        FreeQueuedTask(task);
    }
}

void VX_STDCALL TComPortDriver::GetPropStr(std::uint32_t propId, VARIANT value,
                                           KibShortString* text) {
    const platform::DriverFloatScope floatScope;
    if (!text) {
        return;
    }
    GetShortString(u"", *text);
    try {
        if (UndefinedData(value)) {
            return;
        }
        if (propId == static_cast<std::uint32_t>(kPropComPort)) {
            // "COM" and the one-based port number.
            const double port = platform::VariantToDouble(value) + 1.0;
            platform::Variant sum = platform::Variant::Double(port);
            GetShortString(u"COM" + platform::DecimalText(platform::VariantToInt64(sum.get())),
                           *text);
        } else {
            GetShortString(platform::VariantToText(value), *text);
        }
    } catch (...) {
        GetShortString(u"", *text);
    }
}

HRESULT VX_STDCALL TComPortDriver::ResetDeviceState(TTaskDef) {
    return S_OK;
}

void VX_STDCALL TComPortDriver::PurgeActions() {
    const platform::DriverFloatScope floatScope;
    // A port captured for an active request is given back, or the host keeps it for ever.
    try {
        std::vector<TComPortNum> captured;
        for (const TComPort& port : Ports) {
            if (!port.Commands.empty() && port.Commands.front()->State == csActive) {
                captured.push_back(port.Port);
            }
        }
        // Not inside the walk: the host may call back into the driver from ReleasePort.
        for (const TComPortNum port : captured) {
            if (KibComPorts) {
                KibComPorts->ReleasePort(port, ReceiveInterface());
            }
        }
    } catch (...) {
        // The registry is dropped all the same.
    }
    ClearLists(true, true);
}

void VX_STDCALL TComPortDriver::SetDebugMode(bool) {}

bool VX_STDCALL TComPortDriver::GetWatchdogTimeout(PItemProperties, PItemProperties,
                                                   std::int32_t* timeout) {
    const platform::DriverFloatScope floatScope;
    if (timeout) {
        *timeout = WatchdogTimeoutMs(DriverSettings);
    }
    return true;
}

bool VX_STDCALL TComPortDriver::SetSlaveMode(bool) {
    return false;
}

bool VX_STDCALL TComPortDriver::GetComPort(TItemProperties, TComPortNum*) {
    return false;
}

bool VX_STDCALL TComPortDriver::IsSupportDataAccess() {
    return true;
}

bool VX_STDCALL TComPortDriver::IsSupportHistoryDataAccess() {
    return false;
}

bool VX_STDCALL TComPortDriver::GetAggregates(TAggregates* aggregates) {
    if (aggregates) {
        *aggregates = nullptr;
    }
    return false;
}

bool VX_STDCALL TComPortDriver::RunHDATasks(std::uint8_t) {
    return false;
}

bool VX_STDCALL TComPortDriver::AddHDATask(TTaskHDADef) {
    return false;
}

void VX_STDCALL TComPortDriver::Execute() {
    const platform::DriverFloatScope floatScope;
    if (PollProcess) {
        PollProcess->OnTimer(*this);
    }
    DeliverCompletions();
}

bool VX_STDCALL TComPortDriver::IsSupportReplicateNode() {
    return false;
}

bool VX_STDCALL TComPortDriver::IsSupportReplicateItem() {
    return false;
}

void VX_STDCALL TComPortDriver::OnReleasePort(TComPortNum) {}

bool VX_STDCALL TComPortDriver::CompleteReceive(TComPortNum, const void*, std::int32_t) {
    return false;
}

void TComPortDriver::ClearLists(bool clearAdded, bool clearWaitingAndRegistry) noexcept {
    // Everything leaves the lists before the first item is released: a release may call back
    // into the driver, which then finds the lists already empty rather than half freed.
    std::vector<TQueuedTask*> added;
    std::vector<TQueuedTask*> waiting;
    std::vector<TComPort> ports;
    if (clearAdded) {
        added.swap(FAddTask);
    }
    if (clearWaitingAndRegistry) {
        try {
            waiting = FWaitTask.Snapshot();
        } catch (...) {
            FWaitTask.ForEachFromLast(FreeQueuedTask); // out of memory: free them in place
        }
        FWaitTask.clear();
        ports.swap(Ports);
    }
    for (std::size_t p = ports.size(); p-- > 0;) {
        for (std::size_t c = ports[p].Commands.size(); c-- > 0;) {
            FreeCommand(ports[p].Commands[c]);
        }
    }
    for (std::size_t i = added.size(); i-- > 0;) {
        FreeQueuedTask(added[i]);
    }
    for (std::size_t i = waiting.size(); i-- > 0;) {
        FreeQueuedTask(waiting[i]);
    }
    if (clearWaitingAndRegistry) {
        DropPending(nullptr, true);
    }
}

} // namespace vemox
