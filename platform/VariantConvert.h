// Conversions of VARIANT values, written once so that Linux tests prove the Windows
// behaviour. They follow the ordinary OLE variant rules: floating values go to the nearest
// integer with halves to even, Booleans are 0 and -1, texts are parsed as numbers, and a
// value that does not fit or does not parse is a conversion error.
#pragma once

#include "platform/Types.h"

#include <stdexcept>
#include <string>

namespace vemox::platform {

class ConversionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::int32_t VariantToInt32(const VARIANT& value);
std::int64_t VariantToInt64(const VARIANT& value);
double VariantToDouble(const VARIANT& value);
bool VariantToBool(const VARIANT& value);
std::u16string VariantToText(const VARIANT& value);

// Variant comparison as a scripting host does it: numbers by value, texts as text, a text
// against a number as a number; Null equals nothing but Null and Empty counts as 0.
bool VariantEquals(const VARIANT& a, const VARIANT& b);

// Whole-number text of the settings: optional sign and decimal digits, nothing else.
bool ParseInt32(std::u16string_view text, std::int32_t& out) noexcept;

// Rounds to the nearest whole number, halves to the even neighbour.
double RoundHalfEven(double value) noexcept;

} // namespace vemox::platform
