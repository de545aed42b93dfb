#include "sim/encoder.h"

namespace vir05::sim {

namespace {
constexpr std::size_t kPlain = 32;  // bytes sent as they are; also the repeat distance

class BitWriter {
  public:
    explicit BitWriter(std::vector<std::uint8_t>& out) : out_(out) {}
    void Bit(unsigned b) {
        if (used_ == 0) out_.push_back(0);
        if (b) out_.back() = static_cast<std::uint8_t>(out_.back() | (1u << used_));
        used_ = (used_ + 1) % 8;
    }
    void Byte(std::uint8_t v) {
        for (int i = 0; i < 8; ++i)
            Bit((v >> i) & 1u);
    }
    // Bits left unused in the last output byte.
    int Spare() const { return used_ == 0 ? 0 : 8 - used_; }

  private:
    std::vector<std::uint8_t>& out_;
    int used_ = 0;
};
}  // namespace

std::vector<std::uint8_t> EncodeArchiveBlock(const std::uint8_t* data, std::size_t count) {
    std::vector<std::uint8_t> out;
    out.reserve(count / 4 + kPlain + 1);
    const std::size_t plain = count < kPlain ? count : kPlain;
    out.insert(out.end(), data, data + plain);
    BitWriter bits(out);
    for (std::size_t i = plain; i < count; ++i) {
        if (data[i] == data[i - kPlain]) {
            bits.Bit(0);
        } else {
            bits.Bit(1);
            bits.Byte(data[i]);
        }
    }
    if (bits.Spare() > 0) bits.Bit(1);  // an unfinished literal: the decoder stops there
    return out;
}

}  // namespace vir05::sim
