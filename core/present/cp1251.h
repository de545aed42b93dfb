// Single-byte Cyrillic texts of the controller (Windows-1251) and the program's UTF-8 strings.
#pragma once

#include <string>
#include <string_view>

namespace vir05 {

// The controller's bytes as UTF-8. Every byte has a character, so the way back restores it.
std::string Cp1251ToUtf8(std::string_view bytes);

// UTF-8 text as the controller's bytes, one per character; a character the code page lacks, or
// a byte that is not valid UTF-8, becomes '?'.
std::string Utf8ToCp1251(std::string_view text);

}  // namespace vir05
