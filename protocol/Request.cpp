#include "protocol/Request.h"

#include "platform/Com.h"
#include "platform/VariantConvert.h"
#include "protocol/Codec.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vemox {

namespace {

constexpr std::uint8_t kHighestOutputBit = 15;
constexpr int kDecimalsMask = 0x07;
constexpr int kLevelDigitsBytes = 3;

} // namespace

int FillHeader(const Addressing& addressing, std::uint8_t* body) noexcept {
    if (addressing.network) {
        body[0] = addressing.address;
        return 0;
    }
    body[0] = 0x00;
    body[1] = static_cast<std::uint8_t>(addressing.serial >> 16);
    body[2] = static_cast<std::uint8_t>(addressing.serial >> 8);
    body[3] = static_cast<std::uint8_t>(addressing.serial);
    return 3;
}

// The initial read of an item is a synchronous read by another name.
bool IsReadTask(TTask kind) noexcept {
    return kind == tSyncRead || kind == tAsyncRead || kind == tInit;
}

bool IsWriteTask(TTask kind) noexcept {
    return kind == tSyncWrite || kind == tAsyncWrite;
}

std::vector<std::uint8_t> FrameRequest(const Addressing& addressing, const RequestBody& body,
                                       bool withCrc) {
    const std::uint8_t length =
        LengthQuery(addressing.network, withCrc, static_cast<std::uint8_t>(1 + body.count));
    std::uint8_t raw[16] = {};
    int at = FillHeader(addressing, raw) + 1;
    raw[at++] = body.command;
    for (std::uint8_t i = 0; i < body.count; ++i) {
        raw[at++] = body.data[i];
    }
    if (withCrc) {
        raw[length - 1] = CalcCRC(raw, length - 1, 1);
    }
    return WrapFrame(raw, length);
}

bool ReadRequest(Operation operation, std::uint8_t parameter, RequestBody& body) {
    body = RequestBody{};
    switch (operation) {
    case Operation::Counter:
        body.command = kCmdReadCounter;
        body.data[body.count++] = parameter;
        return true;
    case Operation::DigitalInputs:
        body.command = kCmdReadInputs;
        return true;
    case Operation::DigitalOutputs:
        body.command = kCmdReadOutputs;
        return true;
    case Operation::WeightPoints:
        body.command = kCmdReadWeightPoint;
        body.data[body.count++] = parameter;
        return true;
    case Operation::NetWeight:
        body.command = kCmdReadNet;
        return true;
    case Operation::GrossWeight:
        body.command = kCmdReadGross;
        return true;
    case Operation::State:
        body.command = kCmdReadState;
        return true;
    case Operation::DosingControl:
    case Operation::LinkDiagnostics:
    case Operation::None:
        break;
    }
    return false;
}

std::uint32_t ScaleLevel(double value, int decimals) {
    if (!std::isfinite(value) || value < 0) {
        throw platform::ConversionError("level is negative or not a finite number");
    }
    // Fifteen significant digits give back the decimal the operator typed for any double.
    char text[40];
    std::snprintf(text, sizeof text, "%.14e", value);
    const char* mantissa = text + (text[0] == '-' ? 1 : 0); // -0 is 0
    const char* exponentText = std::strchr(mantissa, 'e');
    const long exponent = std::strtol(exponentText + 1, nullptr, 10);
    // Digits of the scaled value that lie before its decimal point.
    const long whole = exponent + decimals + 1;
    std::uint64_t result = 0;
    long taken = 0;
    for (const char* p = mantissa; p != exponentText && taken < whole; ++p) {
        if (*p < '0' || *p > '9') {
            continue; // the decimal point, whatever the locale makes of it
        }
        result = result * 10u + static_cast<std::uint64_t>(*p - '0');
        ++taken;
    }
    for (; taken < whole && result <= kLevelRawMax; ++taken) {
        result *= 10u;
    }
    // The controller keeps six digits: a larger level would go out as another setpoint.
    if (result > kLevelRawMax) {
        throw platform::ConversionError("level has more than six digits");
    }
    return static_cast<std::uint32_t>(result);
}

std::uint8_t DosingByte(const VARIANT& value) {
    // A Boolean keeps its meaning: true is all bits set, false none.
    if (value.vt == VT_BOOL) {
        return value.boolVal ? kDosingMax : 0;
    }
    const std::int32_t number = platform::VariantToInt32(value);
    if (number < 0 || number > kDosingMax) {
        throw platform::ConversionError("dosing value outside 0..255");
    }
    return static_cast<std::uint8_t>(number);
}

bool WriteRequest(Operation operation, const WriteTarget& target, const VARIANT& value,
                  const TSaveData& cache, RequestBody& body) {
    body = RequestBody{};
    switch (operation) {
    case Operation::DigitalOutputs: {
        const std::uint8_t bit = target.bit > kHighestOutputBit ? kHighestOutputBit : target.bit;
        std::uint16_t mask = static_cast<std::uint16_t>(cache.DigitalOutput | (1u << bit));
        if (platform::VariantEquals(value, platform::Variant::Int32(0).get())) {
            mask = static_cast<std::uint16_t>(mask & ~(1u << bit));
        }
        body.command = kCmdWriteOutputs;
        body.data[body.count++] = static_cast<std::uint8_t>(mask);
        if (cache.SizeDigitalOutput > 1) {
            body.data[body.count++] = static_cast<std::uint8_t>(mask >> 8);
        }
        return true;
    }
    case Operation::WeightPoints: {
        const std::uint8_t number = target.point;
        std::uint32_t low = GetWeightPoint(cache, number, false);
        std::uint32_t high = GetWeightPoint(cache, number, true);
        const std::uint32_t raw =
            ScaleLevel(platform::VariantToDouble(value), GetWeightParams(cache) & kDecimalsMask);
        (target.upper ? high : low) = raw;
        body.command = kCmdWriteWeightPoint;
        body.data[body.count++] = number;
        IntToBCD(low, body.data + body.count, kLevelDigitsBytes);
        body.count += kLevelDigitsBytes;
        IntToBCD(high, body.data + body.count, kLevelDigitsBytes);
        body.count += kLevelDigitsBytes;
        return true;
    }
    case Operation::DosingControl:
        body.command = kCmdWriteDosing;
        body.data[body.count++] = DosingByte(value);
        return true;
    default:
        return false;
    }
}

std::vector<std::uint8_t> BuildWriteFrame(const Addressing& addressing, Operation operation,
                                          const WriteTarget& target, const VARIANT& value,
                                          const TSaveData& cache, bool withCrc) {
    RequestBody body;
    if (!WriteRequest(operation, target, value, cache, body)) {
        return {};
    }
    return FrameRequest(addressing, body, withCrc);
}

} // namespace vemox
