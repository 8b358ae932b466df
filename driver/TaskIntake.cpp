// RunTasks: a committed batch of host tasks becomes requests queued per port and controller;
// tasks that no request serves are answered at once.
#include "driver/Constants.h"
#include "driver/Globals.h"
#include "driver/Main.h"
#include "platform/Clock.h"
#include "platform/Com.h"
#include "platform/VariantConvert.h"
#include "protocol/Sharing.h"

#include <memory>
#include <unordered_map>
#include <vector>

namespace vemox {

namespace {

constexpr std::size_t kNoTask = static_cast<std::size_t>(-1);

struct CommandDeleter {
    void operator()(TCommand* command) const noexcept { FreeCommand(command); }
};
using CommandHolder = std::unique_ptr<TCommand, CommandDeleter>;

// For every task, the next task of the batch with the same share key (kNoTask when none):
// the candidates for its request, found without comparing every pair.
std::vector<std::size_t> ChainSharers(const std::vector<TQueuedTask*>& batch, std::size_t count) {
    std::vector<std::size_t> next(count, kNoTask);
    std::unordered_map<ShareKey, std::size_t, ShareKeyHash> last;
    last.reserve(count);
    ShareKey key;
    for (std::size_t i = 0; i < count; ++i) {
        if (!batch[i] || !ReadShareKey(*batch[i], key)) {
            continue;
        }
        auto [at, added] = last.try_emplace(key, i);
        if (!added) {
            next[at->second] = i;
            at->second = i;
        }
    }
    return next;
}

// Completion of a task that no request serves: good only when the item state was already
// answered (dosing control); the host's exceptions stay out of the driver.
void CompleteAtOnce(TQueuedTask& task) noexcept {
    try {
        HRESULT result = E_FAIL;
        if (task.ptrItemState) {
            task.ptrItemState->ftTimeStamp = platform::UtcNow();
            if (task.ptrItemState->wQuality == kQualityGood) {
                result = S_OK;
            }
        }
        if (task.Task == tAsyncRead) {
            if (task.Item) {
                task.Item->ReadComplete(task.TransactID, result);
            }
        } else if (task.Task == tAsyncWrite) {
            if (task.Item) {
                task.Item->WriteComplete(task.TransactID, result);
            }
        } else if (task.ptrResult) {
            *task.ptrResult = result;
        }
    } catch (...) {
        // The task is freed all the same.
    }
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
        TCommand* built = nullptr;
        if (!BuildRequest(task, port, device, built)) {
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
    try {
        if (FAddTask.empty()) {
            return S_OK;
        }
        const std::size_t count = FAddTask.size();
        // Room for every served task up front, so that no task is lost halfway through.
        FWaitTask.reserve(FWaitTask.size() + count);
        const std::vector<std::size_t> next = ChainSharers(FAddTask, count);

        for (std::size_t i = 0; i < count; ++i) {
            TQueuedTask* task = FAddTask[i];
            if (!task || task->Command || !ServeTask(*task)) {
                continue;
            }
            for (std::size_t k = next[i]; k != kNoTask; k = next[k]) {
                if (CanShareRequest(*task, *FAddTask[k])) {
                    FAddTask[k]->Command = task->Command;
                }
            }
        }

        for (std::size_t i = count; i-- > 0;) {
            TQueuedTask* task = FAddTask[i];
            if (!task) {
                continue;
            }
            if (task->Command) {
                FWaitTask.push_back(task);
                FAddTask[i] = nullptr;
            } else {
                CompleteAtOnce(*task);
            }
        }
        ClearLists(true, false);
        return S_OK;
    } catch (...) {
        // Only the bookkeeping above can run out of memory, before any task was touched.
        return E_OUTOFMEMORY;
    }
}

} // namespace vemox
