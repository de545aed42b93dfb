#include "core/protocol/unpack.h"

namespace vir05 {

void UnpackByte(UnpackState& s, std::uint8_t b, std::size_t& pos, std::uint8_t* buffer) {
    const unsigned w = (static_cast<unsigned>(b) << 8) | s.previous;
    s.previous = b;
    auto emit = [&](std::uint8_t out) {
        buffer[pos++] = out;
        s.history[s.outCount % kUnpackHistory] = out;
        ++s.outCount;
    };
    if (s.outCount < kUnpackHistory) {
        emit(b);
        s.literalPending = false;
        s.bitPos = 8;
        return;
    }
    for (;;) {
        if (!s.literalPending) {
            if (s.bitPos > 15) break;
            if (((w >> s.bitPos) & 1u) == 0)
                emit(s.history[s.outCount % kUnpackHistory]);  // the byte 32 positions back
            else
                s.literalPending = true;
            ++s.bitPos;
        } else {
            if (s.bitPos > 8) break;
            emit(static_cast<std::uint8_t>(w >> s.bitPos));
            s.literalPending = false;
            s.bitPos = static_cast<std::uint8_t>(s.bitPos + 8);
        }
    }
    s.bitPos = static_cast<std::uint8_t>(s.bitPos - 8);
}

}  // namespace vir05
