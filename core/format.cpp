#include "core/format.h"

#include <charconv>
#include <cmath>

namespace vir05 {

namespace {
std::string General(double v, int precision) {
    if (v == 0.0) return "0";  // also folds -0 into 0
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, precision);
    return std::string(buf, res.ptr);
}
}  // namespace

std::string FormatReal(double v) {
    return General(v, 15);
}

std::string FormatDecimal(double v) {
    return General(v, 6);
}

std::string FormatTemp(int v) {
    if (v < kTempMin || v > kTempMax) return "---";
    return FormatReal(v * 0.01);
}

std::string Hex2(std::uint8_t b) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return std::string{kDigits[b >> 4], kDigits[b & 0x0F]};
}

std::string HexUpper(std::uint32_t v, int minDigits) {
    char buf[16];
    auto res = std::to_chars(buf, buf + sizeof buf, v, 16);
    std::string s(buf, res.ptr);
    for (char& c : s)
        c = static_cast<char>(c >= 'a' && c <= 'f' ? c - 'a' + 'A' : c);
    if (static_cast<int>(s.size()) < minDigits)
        s.insert(0, static_cast<std::size_t>(minDigits) - s.size(), '0');
    return s;
}

std::optional<double> ParseReal(std::string_view t) {
    if (t.empty()) return std::nullopt;
    std::size_t i = t[0] == '+' ? 1 : 0;
    double v = 0;
    const char* first = t.data() + i;
    const char* last = t.data() + t.size();
    if (first == last || (i == 1 && *first == '-')) return std::nullopt;
    const auto res = std::from_chars(first, last, v, std::chars_format::general);
    if (res.ec != std::errc() || res.ptr != last || !std::isfinite(v)) return std::nullopt;
    return v;
}

}  // namespace vir05
