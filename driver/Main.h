// The driver object the host talks to, and the process-wide objects around it.
#pragma once

#include "driver/PluginInterface.h"
#include "driver/Registry.h"
#include "platform/Com.h"

#include <memory>
#include <vector>

namespace vemox {

class TfmConfig;
class TfmItemProps;
class TfmNodeProps;
class TKibProcess;

class TComPortDriver final : public IKibDriver3, public IKibReceiveData {
public:
    TComPortDriver() = default;
    TComPortDriver(const TComPortDriver&) = delete;
    TComPortDriver& operator=(const TComPortDriver&) = delete;
    virtual ~TComPortDriver();

    // IUnknown (both bases share one implementation)
    HRESULT VX_STDCALL QueryInterface(REFIID riid, void** object) override;
    ULONG VX_STDCALL AddRef() override;
    ULONG VX_STDCALL Release() override;

    // IKibDriver
    void VX_STDCALL Initial(IKibOPCServer* server, IKibComPort* comPort, KibShortString* name,
                            KibShortString* descript, KibShortString* helpFileName,
                            IKibReceiveData** receiveData) override;
    bool VX_STDCALL ConfigCreate(WindowHandle parent, WindowHandle* child, std::int32_t* width,
                                 std::int32_t* height) override;
    bool VX_STDCALL AddNodeCreate(WindowHandle parent, IKibItem* item, WindowHandle* child,
                                  std::int32_t* width, std::int32_t* height) override;
    bool VX_STDCALL AddItemCreate(WindowHandle parent, IKibItem* item, PItemProperties props,
                                  WindowHandle* child, std::int32_t* width,
                                  std::int32_t* height) override;
    bool VX_STDCALL ChangeChildItem(WindowHandle parent, IKibItem* item,
                                    const KibShortString& itemName, std::uint32_t flag,
                                    PItemProperties nodeProps, PItemProperties props,
                                    WindowHandle* child, std::int32_t* width,
                                    std::int32_t* height) override;
    HRESULT VX_STDCALL AddTask(TTaskDef taskDef) override;
    HRESULT VX_STDCALL RunTasks(std::uint8_t priority) override;
    bool VX_STDCALL LoadConfig(const KibShortString& name, const KibShortString& value) override;
    void VX_STDCALL PurgeAction(IKibItem* item) override;
    void VX_STDCALL GetPropStr(std::uint32_t propId, VARIANT value, KibShortString* text) override;
    HRESULT VX_STDCALL ResetDeviceState(TTaskDef taskDef) override;
    void VX_STDCALL PurgeActions() override;
    void VX_STDCALL SetDebugMode(bool value) override;
    bool VX_STDCALL GetWatchdogTimeout(PItemProperties nodeProps, PItemProperties props,
                                       std::int32_t* timeout) override;
    bool VX_STDCALL SetSlaveMode(bool value) override;
    bool VX_STDCALL GetComPort(TItemProperties props, TComPortNum* comPortNum) override;
    bool VX_STDCALL IsSupportDataAccess() override;
    bool VX_STDCALL IsSupportHistoryDataAccess() override;
    bool VX_STDCALL GetAggregates(TAggregates* aggregates) override;
    bool VX_STDCALL RunHDATasks(std::uint8_t priority) override;
    bool VX_STDCALL AddHDATask(TTaskHDADef taskDef) override;
    // IKibDriver2
    void VX_STDCALL Execute() override;
    // IKibDriver3
    bool VX_STDCALL IsSupportReplicateNode() override;
    bool VX_STDCALL IsSupportReplicateItem() override;
    void VX_STDCALL Deinitial() override;

    // IKibReceiveData
    void VX_STDCALL OnReceiveData(TComPortNum port, const void* data, std::int32_t size) override;
    void VX_STDCALL OnReleasePort(TComPortNum port) override;
    bool VX_STDCALL CompleteReceive(TComPortNum port, const void* data,
                                    std::int32_t size) override;

    IKibDriver3* DriverInterface() noexcept { return this; }
    IKibReceiveData* ReceiveInterface() noexcept { return this; }

    IKibOPCServer2* Server() const noexcept { return KibServer.get(); }
    IKibComPort3* ComPorts() const noexcept { return KibComPorts.get(); }
    const std::vector<TQueuedTask*>& AddedTasks() const noexcept { return FAddTask; }
    const std::vector<TQueuedTask*>& WaitingTasks() const noexcept { return FWaitTask; }

    // Drops tasks without completing them: the added ones, and/or the waiting ones together
    // with every port, controller and queued request.
    void ClearLists(bool clearAdded, bool clearWaitingAndRegistry) noexcept;

private:
    std::vector<TQueuedTask*> FAddTask;  // added since the last RunTasks
    std::vector<TQueuedTask*> FWaitTask; // served by a queued request, awaiting its outcome
    platform::ComRef<IKibOPCServer2> KibServer;
    platform::ComRef<IKibComPort3> KibComPorts;
};

// Releases the task's item reference and frees the record.
void FreeQueuedTask(TQueuedTask* task) noexcept;

// Process-wide objects, created at library load in this order and freed in the reverse one.
extern std::unique_ptr<TfmNodeProps> fmNodeProps;
extern std::unique_ptr<TfmItemProps> fmItemProps;
extern std::unique_ptr<TfmConfig> fmConfig;
extern std::unique_ptr<TKibProcess> PollProcess;
extern std::unique_ptr<TComPortDriver> PortDriver;

} // namespace vemox
