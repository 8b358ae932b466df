// The driver's side of request building: the task's properties and the controller's cache
// go in, a queued-ready command comes out.
#include "config/PropertySets.h"
#include "contract/Constants.h"
#include "driver/Globals.h"
#include "driver/LinkFigures.h"
#include "driver/Main.h"
#include "driver/Sharing.h"
#include "platform/Clock.h"
#include "platform/Com.h"
#include "platform/VariantConvert.h"
#include "protocol/Reply.h"
#include "protocol/Request.h"

#include <cstring>
#include <vector>

namespace vemox {

namespace {

// Dosing control cannot be read from the controller; the item shows 0, good, now.
void AnswerDosingRead(OPCITEMSTATE* state) {
    if (!state) {
        return;
    }
    state->ftTimeStamp = platform::UtcNow();
    state->wQuality = kQualityGood;
    platform::VariantRelease(state->vDataValue);
    state->vDataValue.vt = VT_I4;
    state->vDataValue.lVal = 0;
}

// A diagnostic item is answered from the driver's own figures of the controller's link, at
// once: nothing is asked of the controller, so a silent one is not woken. Writing true to the
// reset figure clears them; any other write has nothing to write to (the task fails).
void AnswerLinkDiagnostics(const TQueuedTask& task, TDevice& device) {
    OPCITEMSTATE* state = task.ptrItemState;
    const LinkFigureInfo* figure =
        FindLinkFigure(ReadByteProperty(task.ptrItemProperties, kPropLinkFigure));
    if (!state || !figure) {
        return;
    }
    if (IsReadTask(task.Task)) {
        ReadLinkFigure(device.Link, figure->figure, state->vDataValue);
    } else if (IsWriteTask(task.Task) && figure->figure == LinkFigure::Reset) {
        if (platform::VariantToBool(state->vDataValue)) {
            device.Link = TLinkFigures{};
        }
    } else {
        return;
    }
    state->ftTimeStamp = platform::UtcNow();
    state->wQuality = kQualityGood;
}

} // namespace

bool TComPortDriver::BuildRequest(TQueuedTask& task, TComPort& port, std::uint16_t deviceIndex,
                                  TCommand*& command) {
    command = nullptr;
    const Addressing addressing = ReadAddressing(task.ptrNodeProperties);
    const Operation operation = OperationOf(ReadOperationText(task.ptrItemProperties));
    RequestBody body;
    if (operation == Operation::LinkDiagnostics) {
        AnswerLinkDiagnostics(task, port.Devices.at(deviceIndex));
        return false;
    }
    if (IsReadTask(task.Task)) {
        if (operation == Operation::DosingControl) {
            AnswerDosingRead(task.ptrItemState);
            return false;
        }
        if (!ReadRequest(operation, task.ptrItemProperties, body)) {
            return false;
        }
    } else if (IsWriteTask(task.Task) && task.ptrItemState) {
        if (!WriteRequest(operation, ReadWriteTarget(operation, task.ptrItemProperties),
                          task.ptrItemState->vDataValue, port.Devices.at(deviceIndex).SaveData,
                          body)) {
            return false;
        }
    } else {
        return false;
    }
    const bool withCrc = DriverSettings.CalcCRC;
    const std::vector<std::uint8_t> frame = FrameRequest(addressing, body, withCrc);
    const auto size = static_cast<std::int32_t>(frame.size());
    auto* built = AllocKibRecord<TCommand>();
    if (!built) {
        return false;
    }
    built->Data = static_cast<std::uint8_t*>(AllocKibMemory(size));
    if (!built->Data) {
        FreeKibMemory(built);
        return false;
    }
    std::memcpy(built->Data, frame.data(), frame.size());
    built->Size = size;
    built->AddressSize = addressing.network ? kNetworkAddressSize : kSerialAddressSize;
    built->WithCrc = withCrc;
    command = built;
    return true;
}

bool TComPortDriver::CanShareRequest(const ShareKey& earlier, const ShareKey& later) noexcept {
    return earlier == later;
}

} // namespace vemox
