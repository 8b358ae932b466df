#include "host/output/Sparkline.h"

#include "host/output/Report.h"
#include "platform/VariantConvert.h"

#include <algorithm>
#include <cmath>

namespace vemox::host {
namespace {

constexpr const char* kBars[] = {"▁", "▂", "▃", "▄", "▅", "▆", "▇", "█"};
constexpr int kLevels = 8;

} // namespace

std::string Sparkline(const std::deque<double>& values) {
    std::string line;
    if (values.empty()) {
        return line;
    }
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    const double span = *high - *low;
    for (const double value : values) {
        const int level = span > 0
                              ? static_cast<int>(std::lround((value - *low) / span * (kLevels - 1)))
                              : kLevels / 2 - 1;
        line += kBars[std::clamp(level, 0, kLevels - 1)];
    }
    return line;
}

void Trends::Add(const FinishedReads::Read& read) {
    // Bits and the dosing byte have no trend worth drawing; weights, counters, levels and the
    // numeric link figures do.
    const ItemConfig& config = read.item->config;
    if (ItemTypeOf(*config.operation, config.parameter).canonicalType != VT_R8 ||
        !IsGood(*read.item)) {
        return;
    }
    if (values_.size() <= read.index) {
        values_.resize(read.index + 1);
    }
    std::deque<double>& values = values_[read.index];
    values.push_back(platform::VariantToDouble(read.item->host.Shown().vDataValue));
    while (values.size() > kTrendLength) {
        values.pop_front();
    }
}

std::vector<std::string> Trends::Texts(std::size_t items) const {
    std::vector<std::string> texts(items);
    for (std::size_t i = 0; i < std::min(items, values_.size()); ++i) {
        texts[i] = Sparkline(values_[i]);
    }
    return texts;
}

} // namespace vemox::host
