#include "protocol/Request.h"
#include "config/PropertySet.h"
#include "config/PropertySets.h"
#include "contract/Constants.h"
#include "fakes/HostTasks.h"
#include "platform/Com.h"
#include "platform/VariantConvert.h"
#include "protocol/Codec.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace vemox {
namespace {

using Bytes = std::vector<std::uint8_t>;
using platform::Variant;
using testing::Item;

TEST(Request, ScaleLevelIsExactForValuesWithinTheDecimalPlaces) {
    struct Case {
        double value;
        int decimals;
        std::uint32_t raw;
    };
    const Case cases[] = {
        {0.57, 2, 57},          {1.005, 3, 1005},     {0.579, 2, 57},        {12.5, 2, 1250},
        {0.1 + 0.2, 1, 3},      {2.675, 2, 267},      {9.9999, 3, 9999},     {123456.0, 0, 123456},
        {0.001, 7, 10000},      {4.35, 2, 435},       {1e-9, 7, 0},          {0.0, 5, 0},
        {-0.0, 2, 0},           {9999.99, 2, 999999}, {999999.0, 0, 999999}, {8.2, 1, 82},
        {0.0999999, 7, 999999},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ScaleLevel(c.value, c.decimals), c.raw) << c.value << " with " << c.decimals;
    }
    // What the controller cannot hold as asked: below zero, not a number, beyond six digits.
    const struct {
        double value;
        int decimals;
    } refused[] = {
        {-1.5, 0},
        {-0.5, 0},
        {-1e-9, 7},
        {1000000.0, 0},
        {10000.0, 2},
        {4294967296.0, 0},
        {1e300, 0},
        {0.1, 7},
        {std::numeric_limits<double>::infinity(), 2},
        {std::numeric_limits<double>::quiet_NaN(), 2},
    };
    for (const auto& r : refused) {
        EXPECT_THROW(ScaleLevel(r.value, r.decimals), platform::ConversionError)
            << r.value << " with " << r.decimals;
    }
}

TEST(Request, FillHeaderWritesNetworkOrSerialSection) {
    std::uint8_t body[4] = {};
    EXPECT_EQ(FillHeader(Addressing{true, 39, 0}, body), 0);
    EXPECT_EQ(body[0], 39);
    EXPECT_EQ(FillHeader(Addressing{false, 0, 0x00ABCDEF}, body), 3);
    EXPECT_EQ(Bytes(body, body + 4), (Bytes{0x00, 0xAB, 0xCD, 0xEF}));
}

// Body of a framed request without markers, stuffing or checksum.
Bytes Data(const Bytes& frame) {
    Bytes copy = frame;
    std::uint8_t* start = copy.data();
    std::int32_t count = static_cast<std::int32_t>(copy.size());
    ExtractFrame(start, count);
    EXPECT_EQ(CalcCRC(start, count, 0), 0) << "checksum of the built frame";
    return Bytes(start + 2, start + count - 1); // after address and command, before checksum
}

TEST(Request, WriteFrameIsBuiltFromTheCacheItIsGiven) {
    const Addressing node{true, 5, 0};
    PropertySet output = Item(u"Дискретные выходы", kPropDigitalOutput, 3);
    TSaveData cache;
    cache.DigitalOutput = 0x0001;
    EXPECT_EQ(BuildWriteFrame(node, output.get(), Variant::Bool(true).get(), cache, true),
              (Bytes{0xFF, 0x05, 0xD0, 0x09, 0x00, 0x1F, 0xFF, 0xFF}));
    // The same write built again later goes out with the fresher outputs.
    cache.DigitalOutput = 0x0100;
    EXPECT_EQ(Data(BuildWriteFrame(node, output.get(), Variant::Bool(true).get(), cache, true)),
              (Bytes{0x08, 0x01}));

    PropertySet net = Item(u"Вес Нетто");
    EXPECT_TRUE(BuildWriteFrame(node, net.get(), Variant::Int32(1).get(), cache, true).empty());
    PropertySet text = Item(u"Управление дозированием");
    EXPECT_THROW(BuildWriteFrame(node, text.get(), Variant::Text(u"abc").get(), cache, true),
                 platform::ConversionError);
}

} // namespace
} // namespace vemox
