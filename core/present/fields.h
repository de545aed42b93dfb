// Reading and writing the bound fields; shared by the presentation, the collect and the change
// list.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>

#include "core/present/present.h"
#include "model/bytes.h"
#include "model/layout.h"
#include "model/vocab.h"

namespace vir05::present_detail {

// The field as a number, by its type.
inline double ReadNumber(const std::uint8_t* base, int offset, FieldType type) {
    switch (type) {
        case FieldType::U8:
            return U8(base, offset);
        case FieldType::I8:
            return I8(base, offset);
        case FieldType::U16:
            return U16(base, offset);
        case FieldType::I16:
            return I16(base, offset);
        case FieldType::U32:
            return U32(base, offset);
        case FieldType::I32:
            return I32(base, offset);
        case FieldType::F32:
            return F32(base, offset);
    }
    return 0;
}

// Integer part toward zero of a value computed from the image, which may hold any bit pattern:
// not-a-number reads as 0, values beyond 64 bits saturate.
inline long long TruncToInt(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 9.2e18) return std::numeric_limits<long long>::max();
    if (v <= -9.2e18) return std::numeric_limits<long long>::min();
    return static_cast<long long>(std::trunc(v));
}

// The integer field, by its type (a float field reads as its integer part).
inline long long ReadInt(const std::uint8_t* base, int offset, FieldType type) {
    if (type == FieldType::F32) return TruncToInt(F32(base, offset));
    return static_cast<long long>(ReadNumber(base, offset, type));
}

// The low bytes of `v` in the field's width.
inline void WriteLow(std::uint8_t* base, int offset, FieldType type, long long v) {
    const int width = FieldWidth(type);
    for (int i = 0; i < width; ++i)
        base[offset + i] = static_cast<std::uint8_t>(static_cast<unsigned long long>(v) >> (8 * i));
}

// The range a field type holds.
inline double TypeMin(FieldType type) {
    switch (type) {
        case FieldType::I8:
            return -128;
        case FieldType::I16:
            return -32768;
        case FieldType::I32:
            return std::numeric_limits<std::int32_t>::min();
        case FieldType::F32:
            return -std::numeric_limits<float>::max();
        default:
            return 0;
    }
}
inline double TypeMax(FieldType type) {
    switch (type) {
        case FieldType::U8:
            return 255;
        case FieldType::I8:
            return 127;
        case FieldType::U16:
            return 65535;
        case FieldType::I16:
            return 32767;
        case FieldType::U32:
            return std::numeric_limits<std::uint32_t>::max();
        case FieldType::I32:
            return std::numeric_limits<std::int32_t>::max();
        case FieldType::F32:
            return std::numeric_limits<float>::max();
    }
    return 0;
}

// Number of items of a list: the fixed items, or the source list with or without "нет".
inline int ListCount(const ListSpec& def) {
    switch (def.kind) {
        case ListKind::Sources:
            return kSourceCount;
        case ListKind::SourcesNoneless:
            return kSourceCount - 1;
        case ListKind::Fixed:
            break;
    }
    return static_cast<int>(def.items.size());
}

// Bytes of the image a binding covers.
inline int BindingSize(const FieldBinding& b) {
    switch (b.conversion) {
        case Conversion::GsmPhone:
            return addr::GsmPhoneSize;
        case Conversion::GsmMessage:
            return addr::GsmMessageEnd - addr::GsmMessage + 1;
        case Conversion::SensorType:
            return addr::ChannelCount;
        default:
            return FieldWidth(b.type);
    }
}

// The telephone number: its 16 bytes in order, zero bytes left out.
std::string GsmPhoneText(const std::uint8_t* image);
// The message: the bytes from 1324 up to the first 0x1A, at most to 1430, zero bytes left out.
std::string GsmMessageText(const std::uint8_t* image);

}  // namespace vir05::present_detail
