// Number texts of the program. Every number is formatted and parsed with "." as the decimal
// separator, whatever the computer's regional setting.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model/text.h"

namespace vir05 {

// General format with up to 15 significant digits, no trailing zeros: 21.5, -3, 0.07.
std::string FormatReal(double v);

// General format with at most 6 significant digits (the text output): 21.5, -5.43, 20, 1.07.
std::string FormatDecimal(double v);

// A current temperature in hundredths of a degree; "---" outside -10000..20000 (no value).
std::string FormatTemp(int v);
inline constexpr int kTempMin = -10000;
inline constexpr int kTempMax = 20000;

inline std::string FormatInt(long long v) {
    return std::to_string(v);
}
inline std::string FormatUnsigned(unsigned long long v) {
    return std::to_string(v);
}

// The byte as two upper-case hexadecimal digits; for a BCD byte, its two decimal digits.
std::string Hex2(std::uint8_t b);

// Upper-case hexadecimal with at least `minDigits` digits.
std::string HexUpper(std::uint32_t v, int minDigits);

// A decimal number with "." as separator (an optional exponent allowed); nullopt otherwise.
std::optional<double> ParseReal(std::string_view text);

}  // namespace vir05
