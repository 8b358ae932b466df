#include "protocol/Codec.h"

#include "platform/Clock.h"
#include "platform/Com.h"
#include "platform/DateTime.h"
#include "platform/Text.h"
#include "platform/VariantConvert.h"

#include <algorithm>
#include <cstring>

namespace vemox {

namespace {

constexpr std::uint8_t ShiftIn(std::uint8_t data, std::uint8_t crc) noexcept {
    for (int bit = 0; bit < 8; ++bit) {
        const bool carry = (crc & 0x80u) != 0;
        crc = static_cast<std::uint8_t>((crc << 1) | ((data >> 7) & 1u));
        data = static_cast<std::uint8_t>(data << 1);
        if (carry) {
            crc ^= kCrcPolynomial;
        }
    }
    return crc;
}

// The eight carries of a byte depend only on the register, not on the byte shifted in (it
// reaches the top bit only after the eighth shift), so ShiftIn(d, c) == ShiftIn(0, c) ^ d
// and a byte costs one lookup instead of eight conditional shifts.
struct CrcTable {
    constexpr CrcTable() : next() {
        for (int crc = 0; crc < 256; ++crc) {
            next[crc] = ShiftIn(0, static_cast<std::uint8_t>(crc));
        }
    }
    std::uint8_t next[256];
};
constexpr CrcTable kCrcTable;

} // namespace

std::uint8_t CRCMaker(std::uint8_t data, std::uint8_t crc) noexcept {
    return static_cast<std::uint8_t>(kCrcTable.next[crc] ^ data);
}

std::uint8_t CalcCRC(const std::uint8_t* buffer, std::int32_t count, std::uint8_t final) noexcept {
    std::uint8_t crc = 0;
    for (std::int32_t i = 0; buffer && i < count; ++i) {
        crc = CRCMaker(buffer[i], crc);
    }
    if (final == 1) {
        crc = CRCMaker(0, crc);
    }
    return crc;
}

std::uint32_t BCDToInt(const std::uint8_t* buffer, std::uint8_t count) noexcept {
    std::uint32_t value = 0;
    std::uint32_t weight = 1;
    for (std::uint8_t i = 0; i < count; ++i) {
        value += (buffer[i] & 0x0Fu) * weight;
        weight *= 10u;
        value += static_cast<std::uint32_t>(buffer[i] >> 4) * weight;
        weight *= 10u;
    }
    return value;
}

void IntToBCD(std::uint32_t value, std::uint8_t* buffer, std::uint8_t count) noexcept {
    for (std::uint8_t i = 0; i < count; ++i) {
        buffer[i] = static_cast<std::uint8_t>(value % 10u + 16u * ((value / 10u) % 10u));
        value /= 100u;
    }
}

std::vector<std::uint8_t> WrapFrame(const std::uint8_t* body, std::int32_t count) {
    const std::int32_t n = std::max<std::int32_t>(count, 0);
    const auto stuffed = std::count(body, body + n, kFrameMarker);
    std::vector<std::uint8_t> frame;
    frame.reserve(static_cast<std::size_t>(n + stuffed + 3));
    frame.push_back(kFrameMarker);
    for (std::int32_t i = 0; i < n; ++i) {
        frame.push_back(body[i]);
        if (body[i] == kFrameMarker) {
            frame.push_back(kFrameStuffing);
        }
    }
    frame.push_back(kFrameMarker);
    frame.push_back(kFrameMarker);
    return frame;
}

bool OnlyMarkers(const std::uint8_t* data, std::int32_t count) noexcept {
    return std::all_of(data, data + std::max<std::int32_t>(count, 0),
                       [](std::uint8_t b) { return b == kFrameMarker || b == kFrameStuffing; });
}

std::int32_t FrameSpan(const std::uint8_t* data, std::int32_t count) noexcept {
    if (!data || count <= 0) {
        return 0;
    }
    std::int32_t i = 0;
    while (i < count && (data[i] == kFrameMarker || data[i] == kFrameStuffing)) {
        ++i;
    }
    // Inside a stuffed body 0xFF is always followed by 0xFE: the first pair is the end marker,
    // and a 0xFF followed by anything else starts the next frame (noise went before it).
    for (; i + 1 < count; ++i) {
        if (data[i] != kFrameMarker || data[i + 1] == kFrameStuffing) {
            continue;
        }
        return data[i + 1] == kFrameMarker ? i + 2 : i;
    }
    return count;
}

void ExtractFrame(std::uint8_t*& data, std::int32_t& count) noexcept {
    if (!data || count <= 0) {
        return;
    }
    std::int32_t skip = 0;
    while (skip < count && (data[skip] == kFrameMarker || data[skip] == kFrameStuffing)) {
        ++skip;
    }
    if (skip < count) {
        data += skip;
        count -= skip;
    }
    for (std::int32_t i = 0; i + 1 < count; ++i) {
        if (data[i] == kFrameMarker && data[i + 1] == kFrameMarker) {
            count = i;
            break;
        }
    }
    for (std::int32_t i = 0; i < count - 1; ++i) {
        if (data[i] == kFrameMarker && data[i + 1] == kFrameStuffing) {
            std::memmove(data + i + 1, data + i + 2, static_cast<std::size_t>(count - i - 2));
            --count;
        }
    }
}

std::uint8_t LengthQuery(bool networkAddressing, bool withCrc, std::uint8_t base) noexcept {
    return static_cast<std::uint8_t>(base + (networkAddressing ? 1 : 4) + (withCrc ? 1 : 0));
}

std::u16string GetPortName(std::uint8_t port) {
    return u"COM" + platform::DecimalText(static_cast<std::int64_t>(port) + 1);
}

std::u16string GetStrData(const std::uint8_t* buffer, std::int32_t count) {
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    std::u16string text;
    if (!buffer || count <= 0) {
        return text;
    }
    text.reserve(static_cast<std::size_t>(count) * 3);
    for (std::int32_t i = 0; i < count; ++i) {
        text.push_back(kHex[buffer[i] >> 4]);
        text.push_back(kHex[buffer[i] & 0x0F]);
        text.push_back(u' ');
    }
    return text;
}

FILETIME DateTimeToOPCTime(double localDateTime) {
    const platform::CivilTime civil = platform::SplitDateTime(localDateTime);
    return platform::LocalToUtc(platform::MakeFileTime(platform::CivilToFileTimeTicks(civil)));
}

} // namespace vemox
