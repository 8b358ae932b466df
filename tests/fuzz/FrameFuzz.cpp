// Frame codec: any body wrapped by the driver comes back unchanged from ExtractFrame, the
// driver's frames and checksums match the simulator's independent code, a body followed by
// its checksum tests as sound, and ExtractFrame on any received bytes stays inside them.
#include "FuzzInput.h"
#include "protocol/Codec.h"
#include "sim/Crc8.h"
#include "sim/Frame.h"

#include <cstdint>
#include <vector>

using vemox::fuzz::FuzzInput;
using vemox::fuzz::Require;

namespace {

bool IsMarker(std::uint8_t byte) {
    return byte == vemox::kFrameMarker || byte == vemox::kFrameStuffing;
}

void RoundTrip(const std::vector<std::uint8_t>& body) {
    const auto size = static_cast<std::int32_t>(body.size());
    std::vector<std::uint8_t> frame = vemox::WrapFrame(body.data(), size);
    Require(frame == vemox::sim::WrapFrame(body), "driver and simulator frame a body alike");

    std::uint8_t* start = frame.data();
    std::int32_t count = static_cast<std::int32_t>(frame.size());
    vemox::ExtractFrame(start, count);
    Require(start >= frame.data() && count >= 0 && start + count <= frame.data() + frame.size(),
            "extracted body lies inside the frame");
    const std::vector<std::uint8_t> extracted(start, start + count);
    // A body that starts with 0xFF or 0xFE cannot come back: its first bytes read as
    // markers. Real bodies start with an address byte or 0x00.
    if (body.empty() || !IsMarker(body.front())) {
        Require(extracted == body, "a body that starts with no marker byte comes back whole");
    }

    const std::uint8_t crc = vemox::CalcCRC(body.data(), size, 1);
    Require(crc == vemox::sim::Crc8(body), "driver and simulator agree on the checksum");
    std::vector<std::uint8_t> sealed = body;
    sealed.push_back(crc);
    Require(vemox::CalcCRC(sealed.data(), size + 1, 0) == 0, "a sealed body tests as sound");
}

// Bytes as a port might deliver them: extraction works in place and must stay inside them.
void Received(std::vector<std::uint8_t> bytes) {
    std::uint8_t* start = bytes.data();
    std::int32_t count = static_cast<std::int32_t>(bytes.size());
    vemox::ExtractFrame(start, count);
    if (bytes.empty()) {
        return;
    }
    Require(start >= bytes.data() && count >= 0 && start + count <= bytes.data() + bytes.size(),
            "extraction of received bytes stays inside them");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const bool asReceived = in.Byte() & 1;
    std::vector<std::uint8_t> bytes = in.Rest();
    if (asReceived) {
        Received(bytes);
    } else {
        RoundTrip(bytes);
    }
    return 0;
}
