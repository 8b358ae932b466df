// The driver object the host talks to, and the process-wide objects around it.
#pragma once

#include "contract/PluginInterface.h"
#include "driver/Registry.h"
#include "driver/Sharing.h"
#include "driver/WaitList.h"
#include "platform/Com.h"
#include "protocol/Reply.h"

#include <memory>
#include <string>
#include <vector>

namespace vemox {

class PageContext;
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
    bool VX_STDCALL CompleteReceive(TComPortNum port, const void* data, std::int32_t size) override;

    IKibDriver3* DriverInterface() noexcept { return this; }
    IKibReceiveData* ReceiveInterface() noexcept { return this; }

    IKibOPCServer2* Server() const noexcept { return KibServer.get(); }
    IKibComPort3* ComPorts() const noexcept { return KibComPorts.get(); }
    const std::vector<TQueuedTask*>& AddedTasks() const noexcept { return FAddTask; }
    // The waiting tasks in list order (a copy, for inspection).
    std::vector<TQueuedTask*> WaitingTasks() const { return FWaitTask.Snapshot(); }

    // Drops tasks without completing them: the added ones, and/or the waiting ones together
    // with every port, controller and queued request.
    void ClearLists(bool clearAdded, bool clearWaitingAndRegistry) noexcept;

    // For the poll cycle: readies the port's head request to be written and answers it (nil
    // for an empty queue). A write that needs controller state not yet read gets the read put
    // ahead of it; a write whose state is known is framed again from the current cache.
    TCommand* PrepareHead(TComPort& port);

private:
    // One task's outcome: the code for the host, the item's quality and time stamp, and for a
    // decoded read its value.
    struct Verdict {
        HRESULT outcome = E_FAIL;
        std::uint16_t quality = 0; // bad
        FILETIME stamp{};
        ItemValue value;
    };
    struct ReplyJudgement;

    // One frame of a delivery (null: the notice that none came) for the port's head request:
    // judged when it answers the request, logged as unexpected otherwise.
    void TakeFrame(TComPortNum port, const std::uint8_t* frame, std::int32_t length);
    // Whether a received frame is the head request's reply rather than a stray frame or the
    // line's echo of the request; learns on the way whether the line echoes.
    bool IsAnswer(TComPort& port, TCommand& head, const std::uint8_t* frame, std::int32_t length);
    // Judges the reply (null body: none came) to the port's head command and completes its
    // tasks; false when the command is to be written again instead.
    bool ProcessReply(TComPort& port, TCommand* command, const std::uint8_t* body,
                      std::int32_t length);
    Verdict JudgeTask(ReplyJudgement& judgement, const TQueuedTask* task);
    // Writes the verdict into the task's item state and queues its completion; the task must
    // already be off the lists.
    void SettleTask(TQueuedTask* task, const Verdict& verdict, const TCommand& command,
                    TDevice* device, bool answered, bool& firstReport) noexcept;
    // Completes every task of the command with one verdict and drops the command unsent.
    void FailCommand(TComPort& port, TCommand* command, const Verdict& verdict) noexcept;

    // A task taken off the lists whose outcome is still to be handed to the host. The host
    // may call back into the driver from a completion, so completions are handed over only
    // where no reference into `Ports` or the task lists is held: at the end of each entry point.
    struct PendingCompletion {
        TQueuedTask* task; // nil once a purge has dropped it
        HRESULT outcome;
        bool report; // an exchange report is due
        std::uint32_t answered;
        std::uint32_t retries;
        std::uint8_t first;
    };
    // Queues a completion; completes at once (the host's calls under way) when memory is out.
    void Defer(const PendingCompletion& completion) noexcept;
    void DeliverCompletions() noexcept;
    static void Deliver(const PendingCompletion& completion) noexcept;
    // Drops queued completions without delivering them: of one item, or all (nil).
    void DropPending(IKibItem* item, bool all) noexcept;
    void RefreshCache(TDevice& device, const RequestView& request, const ReplyValues& values);
    TCommand* QueueReadFor(TComPort& port, TCommand* write, const TQueuedTask& task,
                           std::uint8_t code, std::uint8_t point);
    void Log(const std::u16string& line) noexcept;

    // Cache writers: what the controller reported, or acknowledged as written.
    static void SetDigitalOutput(TDevice& device, std::uint16_t mask, std::uint8_t size) noexcept;
    static void SetWeightParams(TDevice& device, std::uint8_t status) noexcept;
    static void SetWeightPoint(TDevice& device, std::uint8_t number, std::uint32_t lowLevel,
                               std::uint32_t highLevel);

    // The request that serves a task, framed and ready to queue; false when the task needs
    // no exchange (or gets none). Throws platform::ConversionError for unconvertible values.
    bool BuildRequest(TQueuedTask& task, TComPort& port, std::uint16_t deviceIndex,
                      TCommand*& command);
    // Whether the later task of a batch is answered by the request built for the earlier one,
    // judged on the share keys read once when each task was taken in: reading a task's
    // properties again per comparison cost more than the rest of the intake together.
    static bool CanShareRequest(const ShareKey& earlier, const ShareKey& later) noexcept;
    // Finds the task's port and controller and queues its request; false leaves it unserved.
    bool ServeTask(TQueuedTask& task);

    std::vector<TQueuedTask*> FAddTask;      // added since the last RunTasks
    TWaitList FWaitTask;                     // served by a queued request, awaiting its outcome
    std::vector<std::uint8_t> FRequest;      // the request body it is judged against
    std::vector<TQueuedTask*> FCompleting;   // the tasks of the command being finished
    std::vector<PendingCompletion> FPending; // judged, not yet handed to the host
    bool FDelivering = false;                // a DeliverCompletions call is under way
    platform::ComRef<IKibOPCServer2> KibServer;
    platform::ComRef<IKibComPort3> KibComPorts;
};

// Releases the task's item reference and frees the record.
void FreeQueuedTask(TQueuedTask* task) noexcept;

// What the pages see of the driver; the library's pages are created with it.
PageContext& DriverPages() noexcept;

// Process-wide objects, created at library load in this order and freed in the reverse one.
extern std::unique_ptr<TfmNodeProps> fmNodeProps;
extern std::unique_ptr<TfmItemProps> fmItemProps;
extern std::unique_ptr<TfmConfig> fmConfig;
extern std::unique_ptr<TKibProcess> PollProcess;
extern std::unique_ptr<TComPortDriver> PortDriver;

} // namespace vemox
