#include "model/text.h"

#include <charconv>

namespace vir05 {

std::string_view TrimBlanks(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

std::optional<std::int32_t> ParseInt(std::string_view t) {
    if (t.empty()) return std::nullopt;
    std::size_t i = 0;
    if (t[0] == '+') i = 1;  // from_chars takes '-' but not '+'
    std::int32_t v = 0;
    const char* first = t.data() + i;
    const char* last = t.data() + t.size();
    if (first == last || (i == 1 && *first == '-')) return std::nullopt;
    const auto res = std::from_chars(first, last, v);
    if (res.ec != std::errc() || res.ptr != last) return std::nullopt;
    return v;
}

}  // namespace vir05
