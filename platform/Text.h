// UTF-16 text helpers: the host speaks UTF-16, tools and logs speak UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vemox::platform {

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// ASCII-only text (numbers, hexadecimal dumps) widened unit by unit.
std::u16string Widen(std::string_view ascii);

std::u16string DecimalText(std::int64_t value);

} // namespace vemox::platform
