// Encoder of compressed archive blocks, the controller's side of the tool's UnpackByte.
//
// The first 32 bytes of a block go out plain. After them every byte becomes one symbol of a bit
// stream that fills each output byte from its lowest bit upwards: a 0 bit when the byte equals
// the one 32 positions back, otherwise a 1 bit followed by the 8 bits of the byte, lowest first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vir05::sim {

// Encodes `count` bytes. The decoder always finishes the input byte it is given, and a 0 bit in
// the padding of the last byte would make it emit extra repeats past the end of the block (which
// the tool would then take for the checksum byte). The padding therefore starts with a 1 bit: a
// literal that never completes, so decoding the whole stream yields exactly `count` bytes.
std::vector<std::uint8_t> EncodeArchiveBlock(const std::uint8_t* data, std::size_t count);

}  // namespace vir05::sim
