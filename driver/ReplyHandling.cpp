// Bytes from a port, or the notice that none came: the head request's outcome is judged,
// its tasks completed towards the host, and the controller's cache and link flags refreshed.
#include "config/PropertySets.h"
#include "contract/Constants.h"
#include "driver/Globals.h"
#include "driver/LinkFigures.h"
#include "driver/Main.h"
#include "driver/Process.h"
#include "platform/Clock.h"
#include "platform/Com.h"
#include "platform/DateTime.h"
#include "platform/FloatEnvironment.h"
#include "platform/Text.h"
#include "platform/VariantConvert.h"
#include "protocol/Codec.h"
#include "protocol/Reply.h"
#include "protocol/Request.h"

#include <algorithm>
#include <cstring>

namespace vemox {

// What is known of the reply to one command, shared by all its tasks.
struct TComPortDriver::ReplyJudgement {
    TComPort* port = nullptr;
    TCommand* command = nullptr;
    TDevice* device = nullptr;
    RequestView request;
    const std::uint8_t* body = nullptr;
    std::int32_t length = 0;
    bool crcError = false;
    bool replyPath = false; // a body came, without checksum error, from a known controller
    EchoResult echo = EchoResult::TooShort;
    bool lengthOk = false;
    ReplyValues values;
    bool notAnswering = false; // a task found that the reply does not answer the request
    bool lineWritten = false;  // the "not reachable" line of this call
};

namespace {

constexpr std::uint8_t kMaxTryCount = 0xFF; // TryCount is one byte

TDevice* DeviceOf(TComPort& port, const TCommand& command) noexcept {
    return command.DeviceIndex < port.Devices.size() ? &port.Devices[command.DeviceIndex] : nullptr;
}

// The request body as it was built: the frame without markers and stuffing.
RequestView UnframeRequest(const TCommand& command, std::vector<std::uint8_t>& buffer) {
    buffer.assign(command.Data, command.Data + std::max(command.Size, 0));
    std::uint8_t* start = buffer.data();
    std::int32_t count = static_cast<std::int32_t>(buffer.size());
    if (count > 0) {
        ExtractFrame(start, count);
    }
    RequestView view;
    view.body = start;
    view.length = count;
    view.addressSize = command.AddressSize;
    view.withCrc = command.WithCrc;
    return view;
}

// The delivery's bytes, copied: the host only lends its buffer, and a host that calls back into
// the driver (from ReleasePort, from a completion) must not disturb the frames still to be read.
class Received {
public:
    Received(const std::uint8_t* bytes, std::int32_t size) {
        if (size <= static_cast<std::int32_t>(sizeof inline_)) {
            std::memcpy(inline_, bytes, static_cast<std::size_t>(size));
            data_ = inline_;
        } else {
            heap_.assign(bytes, bytes + size);
            data_ = heap_.data();
        }
    }
    Received(const Received&) = delete;
    Received& operator=(const Received&) = delete;
    std::uint8_t* data() noexcept { return data_; }

private:
    std::uint8_t inline_[64];
    std::vector<std::uint8_t> heap_;
    std::uint8_t* data_ = nullptr;
};

// The item parameter that picks this task's part out of a shared reply.
std::int32_t ItemParameter(std::uint8_t code, PItemProperties item) {
    switch (code) {
    case kCmdReadCounter:
        return ReadByteProperty(item, kPropCounter);
    case kCmdReadInputs:
        return ReadByteProperty(item, kPropDigitalInput);
    case kCmdReadOutputs:
        return ReadByteProperty(item, kPropDigitalOutput);
    case kCmdReadWeightPoint:
        return ReadByteProperty(item, kPropWeightPointLevel);
    case kCmdReadState:
        return ReadByteProperty(item, kPropStateBit);
    default:
        return 0;
    }
}

void StoreValue(OPCITEMSTATE& state, const ItemValue& value) noexcept {
    if (value.kind == ItemValue::None) {
        return;
    }
    platform::VariantRelease(state.vDataValue);
    if (value.kind == ItemValue::Real) {
        state.vDataValue.vt = VT_R8;
        state.vDataValue.dblVal = value.real;
    } else {
        state.vDataValue.vt = VT_I4;
        state.vDataValue.lVal = value.bit;
    }
}

} // namespace

void TComPortDriver::Log(const std::u16string& line) noexcept {
    try {
        if (KibServer) {
            KibShortString text;
            GetShortString(line, text);
            KibServer->WriteLog(text, kLogKind);
        }
    } catch (...) {
        // A log line lost is no reason to lose the reply.
    }
}

void VX_STDCALL TComPortDriver::OnReceiveData(TComPortNum portNumber, const void* data,
                                              std::int32_t size) {
    const platform::DriverFloatScope floatScope;
    try {
        if (!data || size <= 0) {
            TakeFrame(portNumber, nullptr, 0); // the notice that no reply came
        } else {
            const auto* bytes = static_cast<const std::uint8_t*>(data);
            Log(GetPortName(portNumber) + kLogRx + GetStrData(bytes, size));
            Received received(bytes, size);
            for (std::int32_t offset = 0; offset < size;) {
                std::uint8_t* frame = received.data() + offset;
                std::int32_t length = FrameSpan(frame, size - offset);
                const bool filler = offset > 0 && OnlyMarkers(frame, length);
                offset += length;
                if (!filler) {
                    ExtractFrame(frame, length);
                    TakeFrame(portNumber, frame, length);
                }
            }
        }
    } catch (...) {
        // Nothing may cross back into the host.
    }
    DeliverCompletions();
}

void TComPortDriver::TakeFrame(TComPortNum portNumber, const std::uint8_t* frame,
                               std::int32_t length) {
    const auto byNumber = [portNumber](const TComPort& p) { return p.Port == portNumber; };
    auto port = std::find_if(Ports.begin(), Ports.end(), byNumber);
    TCommand* head =
        port != Ports.end() && !port->Commands.empty() ? port->Commands.front() : nullptr;
    if (!head || head->State != csActive) {
        if (frame && length > 0) {
            Log(kLogUnexpected);
        }
        return;
    }
    if (frame && !IsAnswer(*port, *head, frame, length)) {
        // Not this request's reply: it keeps the port and waits on, its time-out running from
        // its write, so that one late reply cannot shift every later exchange by one.
        Log(kLogUnexpected);
        return;
    }
    if (KibComPorts) {
        KibComPorts->ReleasePort(portNumber, ReceiveInterface());
    }
    // The host may have called back into the driver: the port is found again, and the reply is
    // judged only if its request is still the one awaiting it.
    port = std::find_if(Ports.begin(), Ports.end(), byNumber);
    if (port != Ports.end() && !port->Commands.empty() && port->Commands.front() == head &&
        head->State == csActive && ProcessReply(*port, head, frame, length)) {
        port->Commands.pop_front();
        FreeCommand(head);
    }
}

bool TComPortDriver::IsAnswer(TComPort& port, TCommand& head, const std::uint8_t* frame,
                              std::int32_t length) {
    const RequestView request = UnframeRequest(head, FRequest);
    const bool ambiguous = ReplyMayEqualRequest(request);
    switch (ClassifyFrame(request, frame, length)) {
    case FrameRole::Stray:
        head.SawStray = true;
        if (TDevice* device = DeviceOf(port, head)) {
            ++device->Link.Mismatches;
        }
        return false;
    case FrameRole::Copy:
        if (!ambiguous) {
            port.Echoes = true;
            head.EchoSeen = true;
            return false;
        }
        if (port.Echoes && !head.EchoSeen) {
            head.EchoSeen = true; // the echo; the controller's answer is still to come
            return false;
        }
        return true;
    case FrameRole::Candidate:
        if (!ambiguous && length > 0 && !head.EchoSeen) {
            port.Echoes = false; // answered without an echo: the line no longer echoes
        }
        return true;
    }
    return true;
}

bool TComPortDriver::ProcessReply(TComPort& port, TCommand* command, const std::uint8_t* body,
                                  std::int32_t length) {
    ReplyJudgement j;
    j.port = &port;
    j.command = command;
    j.device = DeviceOf(port, *command);
    j.body = body;
    j.length = length;
    const bool hasBody = body && length > 0;
    const bool answered = body != nullptr; // something came, even if nothing was left of it
    j.crcError = command->WithCrc && hasBody && CalcCRC(body, length, 0) != 0;
    if (j.crcError && j.device) {
        ++j.device->Link.ChecksumErrors;
    }

    if (!hasBody || j.crcError) {
        const std::int32_t limit = std::min<std::int32_t>(DriverSettings.CountTry, kMaxTryCount);
        if (j.device && j.device->TryConnect && command->TryCount < limit) {
            command->State = csWaiting;
            j.device->State = sdSuccess;
            ++j.device->Link.Repeats;
            return false;
        }
        if (j.device) {
            j.device->TryConnect = false;
            CountLinkDown(j.device->Link, !hasBody && command->TryCount > 0);
        }
    }

    j.request = UnframeRequest(*command, FRequest);
    const std::uint8_t code = j.request.Code();

    j.replyPath = hasBody && j.device && !j.crcError;
    bool accepted = false;
    if (j.replyPath) {
        j.device->TryConnect = true;
        j.echo = CheckEcho(j.request, body, length);
        if (j.echo == EchoResult::Match) {
            j.lengthOk =
                ParseReply(code, body, length, j.request.addressSize, j.request.withCrc, j.values);
            if (j.lengthOk) {
                RefreshCache(*j.device, j.request, j.values);
                accepted = true;
                CountGoodReply(j.device->Link, platform::LocalNow(), command->SendTime);
            }
        }
        if (!accepted) {
            ++j.device->Link.Mismatches;
        }
    }
    if (!accepted && j.device && command->TryCount > 0) {
        // A write that went out unacknowledged may or may not have taken effect: what the
        // cache says of that state is no longer known.
        TSaveData& cache = j.device->SaveData;
        if (code == kCmdWriteOutputs) {
            cache.OutputsKnown = false;
        } else if (code == kCmdWriteWeightPoint && j.request.length > j.request.addressSize + 1) {
            const std::uint8_t point = j.request.body[j.request.addressSize + 1];
            cache.WeightPoint.erase(
                std::remove_if(cache.WeightPoint.begin(), cache.WeightPoint.end(),
                               [point](const TWeightPoint& p) { return p.Number == point; }),
                cache.WeightPoint.end());
        }
    }

    if (command->ReadFor) {
        // The driver's own read: no task, no exchange report. If it failed for good, the write
        // that needed it fails with its outcome and sends nothing.
        const Verdict verdict = JudgeTask(j, nullptr);
        if (verdict.outcome != S_OK) {
            FailCommand(port, command->ReadFor, verdict);
        }
        return true;
    }

    FWaitTask.CollectTasks(command, FCompleting);
    FPending.reserve(FPending.size() + FCompleting.size());
    bool firstReport = true;
    for (std::size_t i = FCompleting.size(); i-- > 0;) {
        TQueuedTask* task = FCompleting[i];
        Verdict verdict;
        try {
            verdict = JudgeTask(j, task);
        } catch (...) {
            // A property of this item that does not convert: this task fails alone.
            verdict = Verdict{};
            verdict.stamp = platform::UtcNow();
        }
        FWaitTask.Remove(task);
        SettleTask(task, verdict, *command, j.device, answered, firstReport);
    }
    FCompleting.clear();
    return true;
}

TComPortDriver::Verdict TComPortDriver::JudgeTask(ReplyJudgement& j, const TQueuedTask* task) {
    Verdict v;
    v.stamp = platform::UtcNow();
    if (j.replyPath && !j.notAnswering) {
        if (j.echo != EchoResult::Match) {
            if (j.echo == EchoResult::Mismatch) {
                v.outcome = kOutcomeWrongReply;
                v.quality = kQualityWrongReply;
            }
            j.notAnswering = true;
            return v;
        }
        if (!j.lengthOk) {
            v.outcome = kOutcomeWrongReply;
            v.quality = kQualityWrongReply;
            return v;
        }
        const std::int32_t parameter =
            task ? ItemParameter(j.values.code, task->ptrItemProperties) : 0;
        if (ValueForItem(j.values, parameter, j.device->SaveData.WeightParams, v.value)) {
            v.outcome = S_OK;
            v.quality = kQualityGood;
        }
        return v;
    }

    // Failure path.
    TDevice* device = j.device;
    if (device && device->LastTimeSend > 0) {
        // The moment the reply time-out ran out.
        v.stamp = DateTimeToOPCTime(device->LastTimeSend +
                                    DriverSettings.WaitTimeout / platform::kMillisecondsPerDay);
    }
    if (j.crcError) {
        v.outcome = kOutcomeChecksum;
        v.quality = kQualityChecksum;
    } else if (j.notAnswering || j.command->SawStray) {
        v.outcome = kOutcomeWrongReply;
        v.quality = kQualityWrongReply;
    } else if (device && device->State == sdErrorInit) {
        v.outcome = kOutcomeErrorInit;
        v.quality = kQualityErrorInit;
    } else if (device && device->State == sdNotAnswer) {
        v.outcome = kOutcomeNotAnswer;
        v.quality = kQualityNotAnswer;
    }
    if (j.command->SendTime > 0 && !j.lineWritten) {
        j.lineWritten = true;
        std::u16string line = GetPortName(j.port->Port);
        if (task) {
            if (UsesNetworkAddress(task->ptrNodeProperties)) {
                line += kLogAddress +
                        platform::DecimalText(ReadInteger(task->ptrNodeProperties, kPropAddress));
            } else {
                line += kLogSerial +
                        platform::DecimalText(ReadInteger(task->ptrNodeProperties, kPropSerial));
            }
        } else if (device && j.request.addressSize == kSerialAddressSize) {
            line += kLogSerial + platform::DecimalText(device->Serial);
        } else if (device) {
            line += kLogAddress + platform::DecimalText(device->Address);
        }
        Log(line + kLogUnreachable);
    }
    return v;
}

void TComPortDriver::SettleTask(TQueuedTask* task, const Verdict& verdict, const TCommand& command,
                                TDevice* device, bool answered, bool& firstReport) noexcept {
    if (device && IsWriteTask(task->Task)) {
        ++(verdict.outcome == S_OK ? device->Link.GoodWrites : device->Link.FailedWrites);
    }
    if (task->ptrItemState) {
        task->ptrItemState->ftTimeStamp = verdict.stamp;
        task->ptrItemState->wQuality = verdict.quality;
        StoreValue(*task->ptrItemState, verdict.value);
    }
    PendingCompletion completion{task, verdict.outcome, false, 0, 0, 0};
    if (command.TryCount > 0 && task->Item) {
        completion.report = true;
        completion.answered = answered ? 1u : 0u;
        completion.retries = answered ? command.TryCount - 1u : command.TryCount;
        completion.first = firstReport ? 1 : 0;
        firstReport = false;
    }
    Defer(completion);
}

void TComPortDriver::Defer(const PendingCompletion& completion) noexcept {
    try {
        FPending.push_back(completion);
    } catch (...) {
        // Out of memory: better a completion now than a task never completed.
        Deliver(completion);
        FreeQueuedTask(completion.task);
    }
}

void TComPortDriver::Deliver(const PendingCompletion& completion) noexcept {
    TQueuedTask* task = completion.task;
    try {
        if (task->Task == tAsyncRead && task->Item) {
            task->Item->ReadComplete(task->TransactID, completion.outcome);
        } else if (task->Task == tAsyncWrite && task->Item) {
            task->Item->WriteComplete(task->TransactID, completion.outcome);
        } else if (task->Task != tAsyncRead && task->Task != tAsyncWrite && task->ptrResult) {
            *task->ptrResult = completion.outcome;
        }
    } catch (...) {
        // The host's failure does not stop the task from being finished.
    }
    try {
        if (completion.report) {
            task->Item->ReportExchange(completion.answered, completion.retries, completion.first);
        }
    } catch (...) {
        // Nor does a failing report.
    }
}

void TComPortDriver::DeliverCompletions() noexcept {
    if (FDelivering) {
        return; // called back from a completion: the delivery under way takes the new ones too
    }
    FDelivering = true;
    // Index, not iterator: completions queued by calls from the host extend the list.
    for (std::size_t i = 0; i < FPending.size(); ++i) {
        const PendingCompletion completion = FPending[i];
        if (!completion.task) {
            continue;
        }
        FPending[i].task = nullptr; // being completed now: a purge from the host leaves it be
        Deliver(completion);
        FreeQueuedTask(completion.task);
    }
    FPending.clear();
    FDelivering = false;
}

void TComPortDriver::DropPending(IKibItem* item, bool all) noexcept {
    std::vector<TQueuedTask*> dropped;
    try {
        for (PendingCompletion& completion : FPending) {
            if (completion.task && (all || completion.task->Item == item)) {
                dropped.push_back(completion.task);
                completion.task = nullptr;
            }
        }
    } catch (...) {
        // Out of memory: what was not taken stays queued and is completed after all.
    }
    // Releasing an item may call back into the driver; the queue is no longer walked here.
    for (std::size_t i = dropped.size(); i-- > 0;) {
        FreeQueuedTask(dropped[i]);
    }
}

void TComPortDriver::FailCommand(TComPort& port, TCommand* command,
                                 const Verdict& verdict) noexcept {
    const auto at = std::find(port.Commands.begin(), port.Commands.end(), command);
    if (at == port.Commands.end()) {
        return;
    }
    port.Commands.erase(at);
    try {
        FWaitTask.CollectTasks(command, FCompleting);
        FPending.reserve(FPending.size() + FCompleting.size());
    } catch (...) {
        // Whatever was collected is still settled; Defer copes without the reservation.
    }
    bool firstReport = true;
    for (std::size_t i = FCompleting.size(); i-- > 0;) {
        TQueuedTask* task = FCompleting[i];
        FWaitTask.Remove(task);
        SettleTask(task, verdict, *command, DeviceOf(port, *command), false, firstReport);
    }
    FCompleting.clear();
    FreeCommand(command);
}

void TComPortDriver::RefreshCache(TDevice& device, const RequestView& request,
                                  const ReplyValues& values) {
    switch (values.code) {
    case kCmdReadOutputs:
        SetDigitalOutput(device, values.mask, values.maskBytes);
        break;
    case kCmdReadNet:
    case kCmdReadGross:
        SetWeightParams(device, values.status);
        break;
    case kCmdReadWeightPoint:
        SetWeightPoint(device, values.point, values.lowLevel, values.highLevel);
        break;
    case kCmdWriteOutputs: {
        std::uint16_t mask = 0;
        std::uint8_t bytes = 0;
        if (ParseOutputsWrite(request, mask, bytes)) {
            SetDigitalOutput(device, mask, bytes);
        }
        break;
    }
    case kCmdWriteWeightPoint: {
        std::uint8_t point = 0;
        std::uint32_t low = 0;
        std::uint32_t high = 0;
        if (ParseWeightPointWrite(request, point, low, high)) {
            SetWeightPoint(device, point, low, high);
        }
        break;
    }
    default:
        break;
    }
}

void TComPortDriver::SetDigitalOutput(TDevice& device, std::uint16_t mask,
                                      std::uint8_t size) noexcept {
    device.SaveData.DigitalOutput = mask;
    device.SaveData.SizeDigitalOutput = size;
    device.SaveData.OutputsKnown = true;
}

void TComPortDriver::SetWeightParams(TDevice& device, std::uint8_t status) noexcept {
    device.SaveData.WeightParams = status;
    device.SaveData.WeightParamsKnown = true;
}

void TComPortDriver::SetWeightPoint(TDevice& device, std::uint8_t number, std::uint32_t lowLevel,
                                    std::uint32_t highLevel) {
    auto& points = device.SaveData.WeightPoint;
    auto point = std::find_if(points.begin(), points.end(),
                              [number](const TWeightPoint& p) { return p.Number == number; });
    if (point == points.end()) {
        points.push_back({number, lowLevel, highLevel});
    } else {
        point->LowLevel = lowLevel;
        point->HighLevel = highLevel;
    }
}

} // namespace vemox
