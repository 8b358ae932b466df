#include "platform/VariantConvert.h"

#include "platform/Com.h"
#include "platform/Text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace vemox::platform {
namespace {

[[noreturn]] void Fail(const char* what) {
    throw ConversionError(what);
}

bool IsSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

std::u16string_view Trim(std::u16string_view text) {
    while (!text.empty() && IsSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// A decimal number in text: sign, digits, optional fraction and exponent. No locale.
bool ParseNumber(std::u16string_view text, double& out) {
    text = Trim(text);
    if (text.empty() || text.size() > 64) {
        return false;
    }
    std::string ascii;
    for (char16_t c : text) {
        if (c > 0x7F) {
            return false;
        }
        ascii.push_back(static_cast<char>(c));
    }
    const char* first = ascii.data();
    const char* last = first + ascii.size();
    if (*first == '+') {
        ++first;
    }
    auto [end, ec] = std::from_chars(first, last, out, std::chars_format::general);
    return ec == std::errc() && end == last && std::isfinite(out);
}

bool TextToBool(std::u16string_view text, bool& out) {
    text = Trim(text);
    auto equalsNoCase = [&](std::u16string_view word) {
        if (text.size() != word.size()) {
            return false;
        }
        for (std::size_t i = 0; i < word.size(); ++i) {
            char16_t c = text[i];
            if (c >= u'A' && c <= u'Z') {
                c = static_cast<char16_t>(c - u'A' + u'a');
            }
            if (c != word[i]) {
                return false;
            }
        }
        return true;
    };
    if (equalsNoCase(u"true")) {
        out = true;
        return true;
    }
    if (equalsNoCase(u"false")) {
        out = false;
        return true;
    }
    double number = 0;
    if (ParseNumber(text, number)) {
        out = number != 0;
        return true;
    }
    return false;
}

enum class Kind { Empty, Null, Integer, Unsigned, Real, Boolean, Text, Other };

struct Scalar {
    Kind kind = Kind::Other;
    std::int64_t integer = 0;
    std::uint64_t unsignedValue = 0;
    double real = 0;
    std::u16string_view text;
};

Scalar Classify(const VARIANT& v) {
    Scalar s;
    switch (v.vt) {
    case VT_EMPTY:
        s.kind = Kind::Empty;
        break;
    case VT_NULL:
        s.kind = Kind::Null;
        break;
    case VT_I1:
        s.kind = Kind::Integer;
        s.integer = v.cVal;
        break;
    case VT_UI1:
        s.kind = Kind::Integer;
        s.integer = v.bVal;
        break;
    case VT_I2:
        s.kind = Kind::Integer;
        s.integer = v.iVal;
        break;
    case VT_UI2:
        s.kind = Kind::Integer;
        s.integer = v.uiVal;
        break;
    case VT_I4:
    case VT_INT:
        s.kind = Kind::Integer;
        s.integer = v.lVal;
        break;
    case VT_UI4:
    case VT_UINT:
        s.kind = Kind::Integer;
        s.integer = v.ulVal;
        break;
    case VT_I8:
        s.kind = Kind::Integer;
        s.integer = v.llVal;
        break;
    case VT_UI8:
        s.kind = Kind::Unsigned;
        s.unsignedValue = v.ullVal;
        break;
    case VT_R4:
        s.kind = Kind::Real;
        s.real = v.fltVal;
        break;
    case VT_R8:
        s.kind = Kind::Real;
        s.real = v.dblVal;
        break;
    case VT_DATE:
        s.kind = Kind::Real;
        s.real = v.date;
        break;
    case VT_BOOL:
        s.kind = Kind::Boolean;
        s.integer = v.boolVal ? -1 : 0;
        break;
    case VT_BSTR:
        s.kind = Kind::Text;
        s.text = BstrView(v.bstrVal);
        break;
    default:
        s.kind = Kind::Other;
        break;
    }
    return s;
}

// The value as a whole number in [lo, hi], or a conversion error.
std::int64_t ToWhole(const VARIANT& value, double lo, double hi) {
    const Scalar s = Classify(value);
    double real = 0;
    switch (s.kind) {
    case Kind::Empty:
        return 0;
    case Kind::Integer:
    case Kind::Boolean:
        if (static_cast<double>(s.integer) < lo || static_cast<double>(s.integer) > hi) {
            Fail("integer out of range");
        }
        return s.integer;
    case Kind::Unsigned:
        if (static_cast<double>(s.unsignedValue) > hi) {
            Fail("integer out of range");
        }
        return static_cast<std::int64_t>(s.unsignedValue);
    case Kind::Real:
        real = s.real;
        break;
    case Kind::Text:
        if (!ParseNumber(s.text, real)) {
            Fail("text is not a number");
        }
        break;
    default:
        Fail("value has no numeric form");
    }
    if (!std::isfinite(real)) {
        Fail("not a finite number");
    }
    real = RoundHalfEven(real);
    // hi is not exactly representable for 64 bits; compare against 2^63 instead.
    if (real < lo || real >= hi + 1.0) {
        Fail("number out of range");
    }
    return static_cast<std::int64_t>(real);
}

std::u16string RealText(double value) {
    if (std::isnan(value)) {
        return u"NAN";
    }
    if (std::isinf(value)) {
        return value > 0 ? u"INF" : u"-INF";
    }
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.15G", value);
    // "1.5E+020" style exponents become "1.5E20", as a person writes them.
    std::string text(buffer);
    const auto e = text.find('E');
    if (e != std::string::npos) {
        std::string mantissa = text.substr(0, e);
        std::string exponent = text.substr(e + 1);
        bool negative = false;
        if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) {
            negative = exponent[0] == '-';
            exponent.erase(0, 1);
        }
        while (exponent.size() > 1 && exponent[0] == '0') {
            exponent.erase(0, 1);
        }
        text = mantissa + "E" + (negative ? "-" : "") + exponent;
    }
    return Widen(text);
}

} // namespace

double RoundHalfEven(double value) noexcept {
    const double floor = std::floor(value);
    const double diff = value - floor;
    if (diff < 0.5) {
        return floor;
    }
    if (diff > 0.5) {
        return floor + 1.0;
    }
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

std::int32_t VariantToInt32(const VARIANT& value) {
    return static_cast<std::int32_t>(ToWhole(value, -2147483648.0, 2147483647.0));
}

std::int64_t VariantToInt64(const VARIANT& value) {
    return ToWhole(value, -9223372036854775808.0, 9223372036854775807.0);
}

double VariantToDouble(const VARIANT& value) {
    const Scalar s = Classify(value);
    switch (s.kind) {
    case Kind::Empty:
        return 0.0;
    case Kind::Integer:
    case Kind::Boolean:
        return static_cast<double>(s.integer);
    case Kind::Unsigned:
        return static_cast<double>(s.unsignedValue);
    case Kind::Real:
        return s.real;
    case Kind::Text: {
        double out = 0;
        if (!ParseNumber(s.text, out)) {
            Fail("text is not a number");
        }
        return out;
    }
    default:
        Fail("value has no numeric form");
    }
}

bool VariantToBool(const VARIANT& value) {
    const Scalar s = Classify(value);
    switch (s.kind) {
    case Kind::Empty:
        return false;
    case Kind::Integer:
    case Kind::Boolean:
        return s.integer != 0;
    case Kind::Unsigned:
        return s.unsignedValue != 0;
    case Kind::Real:
        return s.real != 0.0;
    case Kind::Text: {
        bool out = false;
        if (!TextToBool(s.text, out)) {
            Fail("text is not a Boolean");
        }
        return out;
    }
    default:
        Fail("value has no Boolean form");
    }
}

std::u16string VariantToText(const VARIANT& value) {
    const Scalar s = Classify(value);
    switch (s.kind) {
    case Kind::Empty:
        return {};
    case Kind::Integer:
        return DecimalText(s.integer);
    case Kind::Unsigned:
        return Widen(std::to_string(s.unsignedValue));
    case Kind::Boolean:
        return s.integer ? u"True" : u"False";
    case Kind::Real:
        return RealText(s.real);
    case Kind::Text:
        return std::u16string(s.text);
    default:
        Fail("value has no text form");
    }
}

bool VariantEquals(const VARIANT& a, const VARIANT& b) {
    const Scalar x = Classify(a);
    const Scalar y = Classify(b);
    if (x.kind == Kind::Null || y.kind == Kind::Null) {
        return x.kind == y.kind;
    }
    if (x.kind == Kind::Text && y.kind == Kind::Text) {
        return x.text == y.text;
    }
    if (x.kind == Kind::Other || y.kind == Kind::Other) {
        Fail("values cannot be compared");
    }
    if (x.kind == Kind::Empty && y.kind == Kind::Empty) {
        return true;
    }
    if ((x.kind == Kind::Integer || x.kind == Kind::Boolean || x.kind == Kind::Empty) &&
        (y.kind == Kind::Integer || y.kind == Kind::Boolean || y.kind == Kind::Empty)) {
        return x.integer == y.integer;
    }
    return VariantToDouble(a) == VariantToDouble(b);
}

bool ParseInt32(std::u16string_view text, std::int32_t& out) noexcept {
    text = Trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == u'-' || text.front() == u'+')) {
        negative = text.front() == u'-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 10) {
        return false;
    }
    std::int64_t magnitude = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') {
            return false;
        }
        magnitude = magnitude * 10 + (c - u'0');
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max()) {
        return false;
    }
    out = static_cast<std::int32_t>(value);
    return true;
}

} // namespace vemox::platform
