// Per-frame cost of the frame codec (wrap, extract, checksum, packed BCD) and per-task cost
// of building a request from the host's property sets: the steps BuildRequest takes for a
// read (addressing, operation, command, frame) and for a write completed from the cache.
#include "config/PropertySet.h"
#include "config/PropertySets.h"
#include "contract/Constants.h"
#include "fakes/HostTasks.h"
#include "platform/Com.h"
#include "protocol/Codec.h"
#include "protocol/Request.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace vemox::bench {
namespace {

// A counter reply of a serially addressed controller whose serial number holds 0xFF, so
// that stuffing is exercised.
const std::vector<std::uint8_t> kBody = {0xFF, 0x42, 0x0F, 0x00, 0xC8, 0x03,
                                         0x89, 0x67, 0x45, 0x23, 0x01};

void BM_WrapFrame(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(WrapFrame(kBody.data(), static_cast<std::int32_t>(kBody.size())));
    }
}

void BM_ExtractFrame(benchmark::State& state) {
    const std::vector<std::uint8_t> frame =
        WrapFrame(kBody.data(), static_cast<std::int32_t>(kBody.size()));
    std::vector<std::uint8_t> copy(frame.size());
    for (auto _ : state) {
        copy = frame; // extraction works in place
        std::uint8_t* data = copy.data();
        std::int32_t count = static_cast<std::int32_t>(copy.size());
        ExtractFrame(data, count);
        benchmark::DoNotOptimize(data);
        benchmark::DoNotOptimize(count);
    }
}

void BM_CalcCRC(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(CalcCRC(kBody.data(), static_cast<std::int32_t>(kBody.size()), 1));
    }
}

void BM_BcdRoundTrip(benchmark::State& state) {
    std::uint8_t digits[5] = {};
    std::uint32_t value = 1234567890;
    for (auto _ : state) {
        IntToBCD(value, digits, 5);
        value = BCDToInt(digits, 5);
        benchmark::DoNotOptimize(value);
    }
}

void BM_BuildReadRequest(benchmark::State& state) {
    PropertySet node = state.range(0) ? testing::NetworkNode(0, 5) : testing::SerialNode(0, 987654);
    PropertySet item = testing::Item(u"Счетчик", kPropCounter, 3);
    for (auto _ : state) {
        const Addressing addressing = ReadAddressing(node.get());
        const Operation operation = OperationOf(ReadOperationText(item.get()));
        RequestBody body;
        ReadRequest(operation, item.get(), body);
        benchmark::DoNotOptimize(FrameRequest(addressing, body, true));
    }
}

void BM_BuildWriteFrame(benchmark::State& state) {
    PropertySet node = testing::NetworkNode(0, 5);
    PropertySet item = testing::Item(u"Дискретные выходы", kPropDigitalOutput, 3);
    TSaveData cache{};
    const platform::Variant value = platform::Variant::Int32(1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            BuildWriteFrame(ReadAddressing(node.get()), item.get(), value.get(), cache, true));
    }
}

BENCHMARK(BM_WrapFrame);
BENCHMARK(BM_ExtractFrame);
BENCHMARK(BM_CalcCRC);
BENCHMARK(BM_BcdRoundTrip);
BENCHMARK(BM_BuildReadRequest)->ArgName("network")->Arg(1)->Arg(0);
BENCHMARK(BM_BuildWriteFrame);

} // namespace
} // namespace vemox::bench

BENCHMARK_MAIN();
