// What the driver keeps between host calls: its copies of host tasks, the requests queued
// per serial port, and the controllers met on each port with the values cached from them.
#pragma once

#include "contract/PluginInterface.h"
#include "protocol/ControllerCache.h"

#include <cstdint>
#include <deque>
#include <vector>

namespace vemox {

struct TCommand;

// The driver's copy of one host task, in COM task memory. Holds one reference to Item.
struct TQueuedTask {
    TTask Task;
    IKibItem* Item;
    std::uint32_t TransactID;
    KibShortString ItemID;
    OPCITEMSTATE* ptrItemState;
    PItemProperties ptrNodeProperties;
    PItemProperties ptrItemProperties;
    OPCITEMSTATE* ptrReturnState;
    PResult ptrResult;
    TCommand* Command; // the request that serves this task; nil while unserved
};

enum TCommandState : std::uint8_t { csWaiting = 1, csActive = 2 };

// One framed request to one controller, in COM task memory.
struct TCommand {
    std::uint8_t* Data;
    std::int32_t Size;
    std::uint8_t State;
    double SendTime; // local time of the last write in this attempt; 0 when none
    std::uint8_t TryCount;
    std::uint16_t DeviceIndex;
    // Non-nil for a read the driver makes for itself: the write queued right behind it
    // needs the controller state this read brings. Such a read serves no task.
    TCommand* ReadFor;
    // How the frame was built: the size of its address section (1 or 4) and whether it carries
    // a checksum. Its reply is judged by these, whatever the settings say by then.
    std::uint8_t AddressSize;
    bool WithCrc;
    // A frame that answered another request arrived while this one waited: if it then gets no
    // answer of its own, the line is carrying replies that do not match.
    bool SawStray;
    // The line's echo of the current attempt has been seen.
    bool EchoSeen;
};

enum TStateDevice : std::uint8_t { sdSuccess = 0, sdErrorInit = 1, sdNotAnswer = 2, sdFailed = 3 };

// What the driver has seen of its link to one controller: kept by the paths that decide each
// exchange's outcome, read by the diagnostic items without any exchange. Counts are 64-bit;
// reply times are whole milliseconds from the write to the complete reply.
struct TLinkFigures {
    std::uint64_t Replies = 0;
    std::uint64_t NoAnswer = 0;
    std::uint64_t ChecksumErrors = 0;
    std::uint64_t Mismatches = 0;
    std::uint64_t Repeats = 0;
    std::uint64_t RefusedWrites = 0;
    std::uint64_t GoodWrites = 0;
    std::uint64_t FailedWrites = 0;
    std::int64_t LastReplyMs = 0;
    std::int64_t MinReplyMs = 0;
    std::int64_t MaxReplyMs = 0;
    double LastGoodReply = 0; // local date-time, as every time the driver keeps; 0 before the first
    bool LinkUp = false;      // up after a good reply, down after a request failed for good
};

struct TDevice {
    std::uint16_t Address = 0;
    std::uint32_t Serial = 0;
    TStateDevice State = sdSuccess;
    double LastTimeSend = 0;
    bool TryConnect = true;
    TSaveData SaveData;
    TLinkFigures Link;
};

struct TComPort {
    TComPortNum Port = 0;
    std::vector<TDevice> Devices;   // only grow, so a command's DeviceIndex stays valid
    std::deque<TCommand*> Commands; // first in, first out; only the head is ever sent
    // The line gives back every request written to it (a two-wire adapter), as learnt from the
    // copies that arrived; it tells a copy of a dosing write from the controller's answer.
    bool Echoes = false;
};

// Every port met since the last purge, in creation order, one record per port number.
extern std::vector<TComPort> Ports;

// Frees a command and its frame.
void FreeCommand(TCommand* command) noexcept;

// The record of a port number, appended to Ports when the port is new.
TComPort& FindOrAddPort(TComPortNum port);

// Index of the controller (address, serial) on the port, appended when it is new. Throws
// std::length_error when the port already knows as many controllers as an index can name.
std::uint16_t FindOrAddDevice(TComPort& port, std::uint16_t address, std::uint32_t serial);

} // namespace vemox
