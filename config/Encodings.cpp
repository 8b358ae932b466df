#include "config/Encodings.h"

#include "contract/Constants.h"
#include "platform/Text.h"
#include "platform/VariantConvert.h"

#include <limits>

namespace vemox {
namespace {

std::optional<std::int32_t> AcceptWithin(double stored, std::int32_t low, std::int32_t high) {
    // Written so that NaN fails both comparisons and is refused.
    if (!(stored >= low && stored <= high)) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(platform::RoundHalfEven(stored));
}

} // namespace

std::int64_t ScanRateSecondsToMs(std::int32_t seconds) noexcept {
    return seconds * kMsPerSecond;
}

double ScanRateMsToSeconds(double ms) noexcept {
    return platform::RoundHalfEven(ms / static_cast<double>(kMsPerSecond));
}

std::u16string PortNameOf(std::int32_t index) {
    return kPortPrefix + platform::DecimalText(std::int64_t{index} + 1);
}

std::int32_t PortIndexOf(std::u16string_view name) noexcept {
    constexpr std::size_t kPrefixLength = std::char_traits<char16_t>::length(kPortPrefix);
    std::int32_t number = 0;
    if (name.size() <= kPrefixLength || !platform::ParseInt32(name.substr(kPrefixLength), number) ||
        number == std::numeric_limits<std::int32_t>::min()) {
        return 0;
    }
    return number - 1;
}

std::optional<std::int32_t> AcceptAddress(double stored) noexcept {
    return AcceptWithin(stored, kAddressMin, kAddressMax);
}

std::optional<std::int32_t> AcceptSerial(double stored) noexcept {
    return AcceptWithin(stored, kSerialMin, kSerialMax);
}

} // namespace vemox
