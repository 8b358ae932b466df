// Writes of discrete outputs and weight-point levels send the controller's whole state of
// that kind, so they are framed from the cache at the moment they go out, and only from a
// cache that holds what the controller reported: missing state is read first, by requests
// the driver queues for itself right ahead of the write.
#include "config/PropertySets.h"
#include "contract/Constants.h"
#include "driver/Globals.h"
#include "driver/Main.h"
#include "platform/Clock.h"
#include "protocol/Reply.h"
#include "protocol/Request.h"

#include <algorithm>
#include <cstring>

namespace vemox {

namespace {

bool HasWeightPoint(const TSaveData& cache, std::uint8_t number) noexcept {
    return std::any_of(cache.WeightPoint.begin(), cache.WeightPoint.end(),
                       [number](const TWeightPoint& p) { return p.Number == number; });
}

// The command byte of a framed request: after the start marker and the address section,
// where each address byte 0xFF is followed by its stuffing byte.
std::uint8_t CommandCode(const TCommand& command) noexcept {
    if (!command.Data || command.Size < 3 || command.AddressSize == 0) {
        return 0;
    }
    std::int32_t index = 1;
    for (std::uint8_t i = 0; i < command.AddressSize && index < command.Size; ++i) {
        index += command.Data[index] == 0xFF ? 2 : 1;
    }
    return index < command.Size ? command.Data[index] : 0;
}

} // namespace

TCommand* TComPortDriver::PrepareHead(TComPort& port) {
    for (;;) {
        if (port.Commands.empty()) {
            return nullptr;
        }
        TCommand* head = port.Commands.front();
        if (head->State != csWaiting || head->ReadFor) {
            return head;
        }
        TQueuedTask* task = FWaitTask.FirstTaskOf(head);
        const std::uint8_t code = CommandCode(*head);
        if (code != kCmdWriteOutputs && code != kCmdWriteWeightPoint) {
            return head;
        }
        if (!task) {
            // Nobody waits for this write any more, and its frame may carry state that is no
            // longer the controller's: it is not sent.
            port.Commands.pop_front();
            FreeCommand(head);
            continue;
        }
        Verdict failed;
        failed.stamp = platform::UtcNow();
        if (head->DeviceIndex >= port.Devices.size() || !task->ptrItemState) {
            FailCommand(port, head, failed);
            continue;
        }
        const TSaveData& cache = port.Devices[head->DeviceIndex].SaveData;
        try {
            if (code == kCmdWriteOutputs && !cache.OutputsKnown) {
                if (TCommand* read = QueueReadFor(port, head, *task, kCmdReadOutputs, 0)) {
                    return read;
                }
                FailCommand(port, head, failed);
                continue;
            }
            if (code == kCmdWriteWeightPoint) {
                const std::uint8_t point =
                    ReadByteProperty(task->ptrItemProperties, kPropWeightPoint);
                const std::uint8_t readCode = !HasWeightPoint(cache, point) ? kCmdReadWeightPoint
                                              : !cache.WeightParamsKnown    ? kCmdReadNet
                                                                            : 0;
                if (readCode) {
                    if (TCommand* read = QueueReadFor(port, head, *task, readCode, point)) {
                        return read;
                    }
                    FailCommand(port, head, failed);
                    continue;
                }
            }
            const Addressing addressing = ReadAddressing(task->ptrNodeProperties);
            const bool withCrc = DriverSettings.CalcCRC;
            const std::vector<std::uint8_t> frame =
                BuildWriteFrame(addressing, task->ptrItemProperties, task->ptrItemState->vDataValue,
                                cache, withCrc);
            auto* data = static_cast<std::uint8_t*>(
                frame.empty() ? nullptr : AllocKibMemory(static_cast<std::int32_t>(frame.size())));
            if (!data) {
                FailCommand(port, head, failed);
                continue;
            }
            std::memcpy(data, frame.data(), frame.size());
            FreeKibMemory(head->Data);
            head->Data = data;
            head->Size = static_cast<std::int32_t>(frame.size());
            head->AddressSize = addressing.network ? kNetworkAddressSize : kSerialAddressSize;
            head->WithCrc = withCrc;
            return head;
        } catch (...) {
            // A value or property that no longer converts: this write fails alone.
            FailCommand(port, head, failed);
        }
    }
}

TCommand* TComPortDriver::QueueReadFor(TComPort& port, TCommand* write, const TQueuedTask& task,
                                       std::uint8_t code, std::uint8_t point) {
    RequestBody body;
    body.command = code;
    if (code == kCmdReadWeightPoint) {
        body.data[0] = point;
        body.count = 1;
    }
    const bool withCrc = DriverSettings.CalcCRC;
    const std::vector<std::uint8_t> frame =
        FrameRequest(ReadAddressing(task.ptrNodeProperties), body, withCrc);
    auto* read = AllocKibRecord<TCommand>();
    if (!read) {
        return nullptr;
    }
    read->Data =
        static_cast<std::uint8_t*>(AllocKibMemory(static_cast<std::int32_t>(frame.size())));
    if (!read->Data) {
        FreeKibMemory(read);
        return nullptr;
    }
    std::memcpy(read->Data, frame.data(), frame.size());
    read->Size = static_cast<std::int32_t>(frame.size());
    read->State = csWaiting;
    read->DeviceIndex = write->DeviceIndex;
    read->AddressSize = write->AddressSize;
    read->WithCrc = withCrc;
    read->ReadFor = write;
    try {
        port.Commands.push_front(read);
    } catch (...) {
        FreeCommand(read);
        return nullptr;
    }
    return read;
}

} // namespace vemox
