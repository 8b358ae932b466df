// What every frame on the controllers' line has in common: the envelope with its markers
// and byte stuffing, the CRC-8, packed-BCD numbers and the body length rule; plus the small
// texts and time stamps the log lines and item states need.
#pragma once

#include "contract/PluginInterface.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vemox {

constexpr std::uint8_t kFrameMarker = 0xFF;
constexpr std::uint8_t kFrameStuffing = 0xFE;
constexpr std::uint8_t kCrcPolynomial = 0x69;

// Feeds one byte, most significant bit first, through the CRC-8 register.
std::uint8_t CRCMaker(std::uint8_t data, std::uint8_t crc) noexcept;

// With final = 1 the register is completed by eight zero bits: that is the checksum to send.
// Over a received body including its checksum (final = 0) the answer is 0 when it is right.
std::uint8_t CalcCRC(const std::uint8_t* buffer, std::int32_t count, std::uint8_t final) noexcept;

// Unsigned packed BCD, least significant byte first. Nibbles above 9 are not refused, and
// the sum wraps modulo 2^32, as the controllers' own firmware does.
std::uint32_t BCDToInt(const std::uint8_t* buffer, std::uint8_t count) noexcept;
// Digits above the 2 * count lowest are dropped.
void IntToBCD(std::uint32_t value, std::uint8_t* buffer, std::uint8_t count) noexcept;

// Start marker, the body with a 0xFE after every 0xFF, end marker pair.
std::vector<std::uint8_t> WrapFrame(const std::uint8_t* body, std::int32_t count);

// Length of the first frame of a delivery: up to and including its end marker pair, or all of
// it when there is none. A delivery may hold several frames, such as the line's own echo of the
// request followed by the controller's reply.
std::int32_t FrameSpan(const std::uint8_t* data, std::int32_t count) noexcept;

// Whether every byte is a marker or a stuffing byte: filler between frames, not a frame.
bool OnlyMarkers(const std::uint8_t* data, std::int32_t count) noexcept;

// Finds the body of a received frame in place: skips leading markers, cuts at the end
// marker pair and removes the stuffing bytes. Start and count are updated.
void ExtractFrame(std::uint8_t*& data, std::int32_t& count) noexcept;

// Body length for a command and data of `base` bytes: address section plus checksum.
std::uint8_t LengthQuery(bool networkAddressing, bool withCrc, std::uint8_t base) noexcept;

std::u16string GetPortName(std::uint8_t port);
std::u16string GetStrData(const std::uint8_t* buffer, std::int32_t count);

// Local OLE date-time to a UTC file time for the host.
FILETIME DateTimeToOPCTime(double localDateTime);

} // namespace vemox
