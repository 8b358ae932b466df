#include "protocol/Reply.h"
#include "protocol/Codec.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <random>
#include <vector>

namespace vemox {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes WithCrc(Bytes body) {
    body.push_back(CalcCRC(body.data(), static_cast<std::int32_t>(body.size()), 1));
    return body;
}

RequestView View(const Bytes& body, std::uint8_t addressSize = 1, bool crc = true) {
    RequestView view;
    view.body = body.data();
    view.length = static_cast<std::int32_t>(body.size());
    view.addressSize = addressSize;
    view.withCrc = crc;
    return view;
}

struct Decoded {
    bool ok;
    ItemValue value;
};

Decoded Decode(const Bytes& reply, std::int32_t parameter, std::uint8_t weightParams = 0,
               std::uint8_t addressSize = 1, bool crc = true) {
    ReplyValues values;
    Decoded out{};
    const std::uint8_t code = reply.size() > addressSize ? reply[addressSize] : 0;
    if (!ParseReply(code, reply.data(), static_cast<std::int32_t>(reply.size()), addressSize, crc,
                    values)) {
        return out;
    }
    out.ok = ValueForItem(values, parameter, weightParams, out.value);
    return out;
}

TEST(Reply, DecodesEveryReadOperation) {
    struct Case {
        const char* what;
        Bytes reply;
        std::int32_t parameter;
        std::uint8_t weightParams;
        ItemValue::Kind kind;
        double value;
    };
    const Case cases[] = {
        {"net weight", WithCrc({0x05, 0xC2, 0x45, 0x23, 0x01, 0x00}), 0, 0, ItemValue::Real,
         12345.0},
        {"negative, two decimals", WithCrc({0x05, 0xC2, 0x45, 0x23, 0x01, 0x82}), 0, 0,
         ItemValue::Real, -123.45},
        {"gross, seven decimals", WithCrc({0x05, 0xC3, 0x99, 0x99, 0x99, 0x07}), 0, 0,
         ItemValue::Real, 0.0999999},
        {"net, read as the decimal", WithCrc({0x05, 0xC2, 0x12, 0x63, 0x00, 0x02}), 0, 0,
         ItemValue::Real, 63.12},
        {"one digit, two decimals", WithCrc({0x05, 0xC2, 0x07, 0x00, 0x00, 0x02}), 0, 0,
         ItemValue::Real, 0.07},
        {"counter 1, three decimals", WithCrc({0x05, 0xC8, 0x01, 0x56, 0x34, 0x12, 0x00, 0x00}), 1,
         0x03, ItemValue::Real, 123.456},
        {"level, three decimals", WithCrc({0x05, 0xB1, 0x01, 0x56, 0x34, 0x12, 0, 0, 0}), 0, 0x83,
         ItemValue::Real, 123.456},
        {"counter 1 scaled", WithCrc({0x05, 0xC8, 0x01, 0x45, 0x23, 0x01, 0x00, 0x00}), 1, 0x82,
         ItemValue::Real, 123.45},
        {"counter 3 signed", WithCrc({0x05, 0xC8, 0x03, 0x45, 0x23, 0x01, 0x00, 0x00}), 3, 0x82,
         ItemValue::Real, -123.45},
        {"counter 2 plain", WithCrc({0x05, 0xC8, 0x02, 0x45, 0x23, 0x01, 0x00, 0x00}), 2, 0x82,
         ItemValue::Real, 12345.0},
        {"ten digits", WithCrc({0x05, 0xC8, 0x00, 0x99, 0x99, 0x99, 0x99, 0x39}), 0, 0,
         ItemValue::Real, 3999999999.0},
        {"input bit 0 of one byte", WithCrc({0x05, 0xC4, 0x05}), 0, 0, ItemValue::Bit, 1},
        {"input bit 1 of one byte", WithCrc({0x05, 0xC4, 0x05}), 1, 0, ItemValue::Bit, 0},
        {"output bit 9 of two bytes", WithCrc({0x05, 0xC5, 0x00, 0x02}), 9, 0, ItemValue::Bit, 1},
        {"bit 20 acts as 15", WithCrc({0x05, 0xC5, 0x00, 0x80}), 20, 0, ItemValue::Bit, 1},
        {"lower level", WithCrc({0x05, 0xB1, 0x02, 0x00, 0x10, 0x00, 0x50, 0x12, 0x00}), 0, 0x82,
         ItemValue::Real, 10.0},
        {"upper level", WithCrc({0x05, 0xB1, 0x02, 0x00, 0x10, 0x00, 0x50, 0x12, 0x00}), 1, 0x82,
         ItemValue::Real, 12.5},
        {"state bit 7", WithCrc({0x05, 0xBF, 0x80}), 7, 0, ItemValue::Bit, 1},
        {"state bit 9 acts as 7", WithCrc({0x05, 0xBF, 0x80}), 9, 0, ItemValue::Bit, 1},
    };
    for (const auto& c : cases) {
        const Decoded d = Decode(c.reply, c.parameter, c.weightParams);
        ASSERT_TRUE(d.ok) << c.what;
        EXPECT_EQ(d.value.kind, c.kind) << c.what;
        if (c.kind == ItemValue::Real) {
            EXPECT_EQ(d.value.real, c.value)
                << c.what << ": " << std::setprecision(17) << d.value.real
                << " is not the double nearest the decimal";
        } else {
            EXPECT_EQ(d.value.bit, static_cast<std::int32_t>(c.value)) << c.what;
        }
    }
}

TEST(Reply, RefusesWrongLengthsAndBitsBeyondTheMask) {
    // A bit of the high byte when the controller answered one mask byte.
    EXPECT_FALSE(Decode(WithCrc({0x05, 0xC5, 0x05}), 9).ok);
    ReplyValues values;
    const struct {
        const char* what;
        Bytes reply;
    } wrong[] = {
        {"weight one byte short", WithCrc({0x05, 0xC2, 0x45, 0x23, 0x01})},
        {"counter one byte long", WithCrc({0x05, 0xC8, 1, 2, 3, 4, 5, 6, 7})},
        {"three mask bytes", WithCrc({0x05, 0xC4, 1, 2, 3})},
        {"no mask byte", WithCrc({0x05, 0xC4})},
        {"write ack with data", WithCrc({0x05, 0xD0, 0x00})},
        {"dosing ack without its byte", WithCrc({0x05, 0xDF})},
        {"unknown command", WithCrc({0x05, 0xAA})},
    };
    for (const auto& w : wrong) {
        EXPECT_FALSE(ParseReply(w.reply[1], w.reply.data(),
                                static_cast<std::int32_t>(w.reply.size()), 1, true, values))
            << w.what;
    }
    EXPECT_TRUE(ParseReply(0xD0, WithCrc({0x05, 0xD0}).data(), 3, 1, true, values));
    EXPECT_TRUE(ParseReply(0xDF, WithCrc({0x05, 0xDF, 0x00}).data(), 4, 1, true, values));
}

TEST(Reply, LengthsFollowAddressingAndChecksum) {
    // Serial addressing: four address bytes.
    const Decoded serial =
        Decode(WithCrc({0x00, 0x0F, 0x42, 0x3F, 0xC3, 0x45, 0x23, 0x01, 0x00}), 0, 0, 4);
    ASSERT_TRUE(serial.ok);
    EXPECT_EQ(serial.value.real, 12345.0);
    // Checksum off: one byte shorter, and the last byte is data.
    const Decoded plain = Decode({0x05, 0xBF, 0x01}, 0, 0, 1, false);
    ASSERT_TRUE(plain.ok);
    EXPECT_EQ(plain.value.bit, 1);
    EXPECT_FALSE(Decode(WithCrc({0x05, 0xBF, 0x01}), 0, 0, 1, false).ok);
}

TEST(Reply, EchoComparesTheRequestWithoutItsChecksum) {
    const Bytes counter3 = WithCrc({0x05, 0xC8, 0x03});
    EXPECT_EQ(EchoLength(View(counter3)), 3);
    EXPECT_EQ(CheckEcho(View(counter3), WithCrc({0x05, 0xC8, 0x03, 1, 2, 3, 4, 5}).data(), 9),
              EchoResult::Match);
    EXPECT_EQ(CheckEcho(View(counter3), WithCrc({0x05, 0xC8, 0x02, 1, 2, 3, 4, 5}).data(), 9),
              EchoResult::Mismatch)
        << "the counter number is part of the echo";
    EXPECT_EQ(CheckEcho(View(counter3), Bytes{0x05, 0xC8}.data(), 2), EchoResult::TooShort);
    EXPECT_EQ(CheckEcho(View(counter3), Bytes{0x05}.data(), 1), EchoResult::TooShort);

    // The inputs of address 39 have the checksum 0xFF; it is never compared.
    const Bytes inputs39 = WithCrc({0x27, 0xC4});
    ASSERT_EQ(inputs39.back(), 0xFF);
    EXPECT_EQ(CheckEcho(View(inputs39), WithCrc({0x27, 0xC4, 0x01}).data(), 4), EchoResult::Match);

    // A write is echoed by its address section and command only.
    const Bytes write = WithCrc({0x00, 0x0F, 0x42, 0x3F, 0xD0, 0x09, 0x00});
    EXPECT_EQ(EchoLength(View(write, 4)), 5);
    EXPECT_EQ(CheckEcho(View(write, 4), WithCrc({0x00, 0x0F, 0x42, 0x3F, 0xD0}).data(), 6),
              EchoResult::Match);
    EXPECT_EQ(CheckEcho(View(write, 4), WithCrc({0x00, 0x0F, 0x42, 0x3E, 0xD0}).data(), 6),
              EchoResult::Mismatch);
}

TEST(Reply, WrittenStateIsReadBackFromTheRequest) {
    std::uint16_t mask = 0;
    std::uint8_t bytes = 0;
    ASSERT_TRUE(ParseOutputsWrite(View(WithCrc({0x05, 0xD0, 0x09, 0x01})), mask, bytes));
    EXPECT_EQ(mask, 0x0109);
    EXPECT_EQ(bytes, 2);
    ASSERT_TRUE(ParseOutputsWrite(View(WithCrc({0x05, 0xD0, 0x09})), mask, bytes));
    EXPECT_EQ(mask, 0x09);
    EXPECT_EQ(bytes, 1);
    std::uint8_t point = 0;
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    ASSERT_TRUE(ParseWeightPointWrite(
        View(WithCrc({0x05, 0xD1, 0x02, 0x00, 0x10, 0x00, 0x50, 0x12, 0x00})), point, low, high));
    EXPECT_EQ(point, 2);
    EXPECT_EQ(low, 1000u);
    EXPECT_EQ(high, 1250u);
    EXPECT_FALSE(ParseWeightPointWrite(View(WithCrc({0x05, 0xD0, 0x09})), point, low, high));
}

// Any bytes at all, against any request: judged without reading outside either buffer
// (run under the address sanitizer to mean something).
TEST(Reply, ArbitraryBytesAreJudgedSafely) {
    std::mt19937 random(20261209);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> size(0, 14);
    const std::uint8_t codes[] = {0xB1, 0xBF, 0xC2, 0xC3, 0xC4, 0xC5, 0xC8, 0xD0, 0xD1, 0xDF};
    for (int round = 0; round < 20000; ++round) {
        Bytes request(static_cast<std::size_t>(size(random)));
        Bytes reply(static_cast<std::size_t>(size(random)));
        for (auto& b : request) {
            b = static_cast<std::uint8_t>(byte(random));
        }
        for (auto& b : reply) {
            b = static_cast<std::uint8_t>(byte(random));
        }
        const std::uint8_t addressSize = round % 2 ? 1 : 4;
        const bool crc = round % 3 != 0;
        if (request.size() > addressSize) {
            request[addressSize] = codes[round % 10];
        }
        const RequestView view = View(request, addressSize, crc);
        CheckEcho(view, reply.data(), static_cast<std::int32_t>(reply.size()));
        std::uint16_t mask;
        std::uint8_t maskBytes;
        std::uint8_t point;
        std::uint32_t low;
        std::uint32_t high;
        ParseOutputsWrite(view, mask, maskBytes);
        ParseWeightPointWrite(view, point, low, high);
        ReplyValues values;
        if (ParseReply(codes[round % 10], reply.data(), static_cast<std::int32_t>(reply.size()),
                       addressSize, crc, values)) {
            ItemValue value;
            ValueForItem(values, byte(random), static_cast<std::uint8_t>(byte(random)), value);
        }
    }
}

} // namespace
} // namespace vemox
