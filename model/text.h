// The small text steps the files of the model share with the rest of the program: blanks
// trimmed and whole numbers read the same way in the settings file, the port names and the
// command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vir05 {

// The text without the blanks and tabs around it.
std::string_view TrimBlanks(std::string_view text);

// A whole decimal number with an optional sign and nothing else; nullopt when the text is not
// one or does not fit in 32 bits.
std::optional<std::int32_t> ParseInt(std::string_view text);
inline std::int32_t ParseIntOr(std::string_view text, std::int32_t fallback) {
    return ParseInt(text).value_or(fallback);
}

}  // namespace vir05
