// What a configuration write sends, and what the engineer is told about it before it goes.
//
// The write compares the configuration area of the image with ConfigShadow in 17-byte windows
// and sends, per window, the span from the first to the last changed byte. Bytes between them go
// out too, as the image holds them, so the image must hold nothing in the sent spans but the
// controller's values and the engineer's edits.
#pragma once

#include <cstdint>
#include <vector>

#include "core/present/present.h"

namespace vir05 {

struct ByteSpan {
    int first = 0;  // address of the first byte sent
    int last = 0;   // address of the last byte sent
};

// The spans the write sends for `image` against `shadow`, window by window; every byte of the
// configuration area with `rewriteAll`.
std::vector<ByteSpan> ConfigWriteSpans(const std::uint8_t* image, const std::uint8_t* shadow,
                                       bool rewriteAll);

// True for a byte of the configuration area that the engineer can change: a byte of a field on
// the configuration pages (either circuit) or of the value graphs.
bool IsEditableConfigByte(int address);

// Every byte of the configuration area that no page and no value graph edits takes its value
// from `reference`: what the plant emulation, a refused serial-number write or any other command
// left in the image is never sent.
void KeepOnlyEditableBytes(std::uint8_t* image, const std::uint8_t* reference);

// What the write of `image` (spans against `shadow`) changes in the controller whose memory is
// known as `controller`: every sent byte that differs from it, field by field.
std::vector<ConfigChange> DescribeConfigWrite(const std::uint8_t* image, const std::uint8_t* shadow,
                                              const std::uint8_t* controller, bool rewriteAll);

// `controller` after a successful write: the sent spans hold what `image` held.
void ApplyConfigWrite(std::uint8_t* controller, const std::uint8_t* image,
                      const std::vector<ByteSpan>& spans);

}  // namespace vir05
