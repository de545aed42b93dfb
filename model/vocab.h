// Words for the numbers of the device image: parameter sources, error bits, event parameters.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vir05 {

inline constexpr int kSourceMin = -1;
inline constexpr int kSourceMax = 14;
inline constexpr int kSourceCount = kSourceMax - kSourceMin + 1;  // 16

// Name of a parameter-source code. `scheme` is the plant scheme index of the shown circuit as
// stored in the image: from 4 on, the first input is called "T3" instead of "T11". Codes outside
// -1..14 give an empty name.
std::string SourceName(int code, int scheme);

// The sixteen names for codes -1 to 14, in code order.
std::array<std::string, kSourceCount> SourceList(int scheme);

inline constexpr int kErrorBits = 14;
// Texts of error bits 0 to 13 of a circuit's Errors word.
extern const std::array<std::string_view, kErrorBits> kErrorTexts;
// Texts of the set bits of an Errors word, bit 0 first; bits 14 and 15 have no text.
std::vector<std::string_view> ErrorTexts(std::uint16_t errors);

inline constexpr int kEventNameCount = 100;
// The controller's event parameter names, by code (bits 0-6 of the event code).
extern const std::array<std::string_view, kEventNameCount> kEventNameTable;
// Name of an event code: 255 is a switch-off; bit 7 marks the second circuit.
std::string EventName(std::uint8_t code);

}  // namespace vir05
