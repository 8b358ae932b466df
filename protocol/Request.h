// The request that serves a task: which command an operation and direction map to, its
// parameters, the write encodings completed from the controller's cached values, and the
// finished frame. Pure functions of plain values, so that a write can be built again from a
// fresher cache just before it goes out.
#pragma once

#include "contract/Operations.h"
#include "contract/PluginInterface.h"
#include "protocol/ControllerCache.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vemox {

// Command codes of the requests.
constexpr std::uint8_t kCmdReadCounter = 0xC8;
constexpr std::uint8_t kCmdReadInputs = 0xC4;
constexpr std::uint8_t kCmdReadOutputs = 0xC5;
constexpr std::uint8_t kCmdReadWeightPoint = 0xB1;
constexpr std::uint8_t kCmdReadNet = 0xC2;
constexpr std::uint8_t kCmdReadGross = 0xC3;
constexpr std::uint8_t kCmdReadState = 0xBF;
constexpr std::uint8_t kCmdWriteOutputs = 0xD0;
constexpr std::uint8_t kCmdWriteWeightPoint = 0xD1;
constexpr std::uint8_t kCmdWriteDosing = 0xDF;

// How a controller is named in the address section of a body.
struct Addressing {
    bool network = true;
    std::uint8_t address = 0; // low byte of the network address
    std::uint32_t serial = 0; // low 32 bits of the serial number
};

// Writes the address section and answers the index of its last byte (0 or 3).
int FillHeader(const Addressing& addressing, std::uint8_t* body) noexcept;

bool IsReadTask(TTask kind) noexcept;
bool IsWriteTask(TTask kind) noexcept;

// Which part of the controller an item's write acts on.
struct WriteTarget {
    std::uint8_t bit = 0;   // discrete output number
    std::uint8_t point = 0; // weight point number
    bool upper = false;     // the weight point's upper level rather than its lower one
};

// Command and data of a request, before the address section and checksum are added.
struct RequestBody {
    std::uint8_t command = 0;
    std::uint8_t data[7] = {};
    std::uint8_t count = 0; // data bytes
};

// Frames a body: address section, command, data and, when asked, the checksum.
std::vector<std::uint8_t> FrameRequest(const Addressing& addressing, const RequestBody& body,
                                       bool withCrc);

// The read request of an operation; false when the operation has no read exchange. The
// parameter is the counter number or the weight point number, for the operations that send one.
bool ReadRequest(Operation operation, std::uint8_t parameter, RequestBody& body);

// The largest raw weight-point level: six packed-BCD digits.
constexpr std::uint32_t kLevelRawMax = 999999;
// The largest value of the dosing-control byte.
constexpr std::uint8_t kDosingMax = 0xFF;

// Value times 10^decimals, truncated toward zero. Exact for every value written with at most
// that many decimals: the double is read back as the shortest decimal it stands for, so 0.57
// scales to 57, not to the 56.99999... of binary multiplication. Throws
// platform::ConversionError for a value that is negative, not finite or above kLevelRawMax once
// scaled: the controller would store another setpoint than the one asked for.
std::uint32_t ScaleLevel(double value, int decimals);

// The dosing-control byte for a value to write: a Boolean as all bits or none, any other value
// rounded to an integer (halves to even). Throws platform::ConversionError outside 0..255.
std::uint8_t DosingByte(const VARIANT& value);

// The write request of an operation with the value to write; false when the operation is
// not writable. Throws platform::ConversionError for a value that does not convert.
bool WriteRequest(Operation operation, const WriteTarget& target, const VARIANT& value,
                  const TSaveData& cache, RequestBody& body);

// The whole framed write; empty when the operation is not writable. Called when a task is
// taken in and again when its request is about to go out, with the cache as it is then.
std::vector<std::uint8_t> BuildWriteFrame(const Addressing& addressing, Operation operation,
                                          const WriteTarget& target, const VARIANT& value,
                                          const TSaveData& cache, bool withCrc);

} // namespace vemox
