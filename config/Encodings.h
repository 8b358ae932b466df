// How the pages' values map onto the stored ones: seconds against milliseconds, port names
// against port indexes, and the ranges a stored number must lie in to reach a page field.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vemox {

// Milliseconds to store for a scan rate the page shows in whole seconds.
std::int64_t ScanRateSecondsToMs(std::int32_t seconds) noexcept;
// Whole seconds for a stored scan rate: ms / 1000 to the nearest, halves to the even one.
// Not clamped; the page's field holds it to its own range.
double ScanRateMsToSeconds(double ms) noexcept;

// "COM" and the one-based number: index 0 is COM1.
std::u16string PortNameOf(std::int32_t index);
// The number behind the first three characters minus 1; 0 (COM1) when that rest is not an
// integer or the index would not fit.
std::int32_t PortIndexOf(std::u16string_view name) noexcept;

// The field value a stored network address or serial number gives the page, rounded to the
// nearest whole number; nothing when it lies outside the field's range (NaN included).
std::optional<std::int32_t> AcceptAddress(double stored) noexcept;
std::optional<std::int32_t> AcceptSerial(double stored) noexcept;

} // namespace vemox
