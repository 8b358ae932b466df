// RunTasks: a committed batch of host tasks becomes requests queued per port and controller;
// tasks that no request serves are answered at once.
#include "config/PropertySets.h"
#include "contract/Constants.h"
#include "driver/Globals.h"
#include "driver/Main.h"
#include "driver/Sharing.h"
#include "platform/Clock.h"
#include "platform/Com.h"
#include "platform/FloatEnvironment.h"
#include "platform/VariantConvert.h"

#include <memory>
#include <unordered_map>
#include <vector>

namespace vemox {

namespace {

struct CommandDeleter {
    void operator()(TCommand* command) const noexcept { FreeCommand(command); }
};
using CommandHolder = std::unique_ptr<TCommand, CommandDeleter>;

// The outcome of a task that no request serves: good only when the item state was already
// answered (dosing control).
HRESULT OutcomeAtOnce(TQueuedTask& task) noexcept {
    HRESULT result = E_FAIL;
    if (task.ptrItemState) {
        task.ptrItemState->ftTimeStamp = platform::UtcNow();
        if (task.ptrItemState->wQuality == kQualityGood) {
            result = S_OK;
        }
    }
    return result;
}

} // namespace

bool TComPortDriver::ServeTask(TQueuedTask& task) {
    try {
        if (task.ptrItemState) {
            task.ptrItemState->wQuality = kQualityBad;
        }
        std::int32_t portNumber = 0;
        if (!ReadPortNumber(task.ptrNodeProperties, portNumber)) {
            return false;
        }
        std::int32_t address = 0;
        std::int64_t serial = 0;
        platform::Variant value;
        if (GetProperty(kPropAddress, task.ptrNodeProperties, value.get())) {
            address = platform::VariantToInt32(value.get());
        }
        if (GetProperty(kPropSerial, task.ptrNodeProperties, value.get())) {
            serial = platform::VariantToInt64(value.get());
        }
        TComPort& port = FindOrAddPort(static_cast<TComPortNum>(portNumber));
        // Out-of-range keys are cut to the record's widths, so they still find their record.
        const std::uint16_t device = FindOrAddDevice(port, static_cast<std::uint16_t>(address),
                                                     static_cast<std::uint32_t>(serial));
        // A write refused before it could go out (a value the controller cannot hold, an
        // item that is not writable) is a failed write of this controller all the same.
        const auto refusedWrite = [&] {
            const bool answered = task.ptrItemState && task.ptrItemState->wQuality == kQualityGood;
            if (IsWriteTask(task.Task) && !answered) {
                ++port.Devices[device].Link.FailedWrites;
            }
        };
        TCommand* built = nullptr;
        bool queued = false;
        try {
            queued = BuildRequest(task, port, device, built);
        } catch (...) {
            refusedWrite();
            throw;
        }
        if (!queued) {
            refusedWrite();
            return false;
        }
        CommandHolder command(built);
        command->State = csWaiting;
        command->SendTime = 0;
        command->TryCount = 0;
        command->DeviceIndex = device;
        port.Commands.push_back(command.get());
        task.Command = command.release();
        return true;
    } catch (...) {
        // A value that does not convert fails this task alone; the batch goes on.
        if (task.ptrItemState) {
            task.ptrItemState->wQuality = kQualityBad;
        }
        return false;
    }
}

HRESULT VX_STDCALL TComPortDriver::RunTasks(std::uint8_t) {
    const platform::DriverFloatScope floatScope;
    try {
        if (FAddTask.empty()) {
            return S_OK;
        }
        const std::size_t count = FAddTask.size();
        // Room for every served task up front, so that no task is lost halfway through.
        FWaitTask.reserve(FWaitTask.size() + count);
        FPending.reserve(FPending.size() + count);
        // Which tasks got a request, so the dispatch pass need not revisit every record.
        std::vector<bool> served(count, false);
        // The first served task of each share key in this batch: a later task with the same
        // key joins its request, found in one lookup instead of a scan of the batch.
        std::unordered_map<ShareKey, TQueuedTask*, ShareKeyHash> servedBy;
        ShareKey key;
        for (std::size_t i = 0; i < count; ++i) {
            TQueuedTask* task = FAddTask[i];
            if (!task || task->Command) {
                continue;
            }
            const bool shareable = ReadShareKey(*task, key);
            if (shareable) {
                const auto earlier = servedBy.find(key);
                if (earlier != servedBy.end() && CanShareRequest(earlier->first, key)) {
                    task->Command = earlier->second->Command;
                    served[i] = true;
                    continue;
                }
            }
            served[i] = ServeTask(*task);
            if (served[i] && shareable) {
                try {
                    servedBy.emplace(key, task);
                } catch (...) {
                    // Out of memory: later tasks of this key get requests of their own.
                }
            }
        }

        for (std::size_t i = count; i-- > 0;) {
            TQueuedTask* task = FAddTask[i];
            if (!task) {
                continue;
            }
            if (served[i]) {
                FWaitTask.push_back(task);
            } else {
                Defer({task, OutcomeAtOnce(*task), false, 0, 0, 0});
            }
            FAddTask[i] = nullptr;
        }
        ClearLists(true, false);
        DeliverCompletions();
        return S_OK;
    } catch (...) {
        // Only the reservations above can fail, before any task was touched.
        DeliverCompletions();
        return E_OUTOFMEMORY;
    }
}

} // namespace vemox
