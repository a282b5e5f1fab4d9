#pragma once

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/portability.hpp"

namespace meshwright {

// The longest texts: "%f" of a float is a sign, 39 digits, the point and 6
// decimals; "%u" of a 32-bit value is 10 digits.
inline constexpr size_t float_text_max = 1 + 39 + 1 + 6;
inline constexpr size_t uint_text_max = 10;

// Bytes that one call may write at `out`: the longest text, and beyond it the
// whole-word stores (or snprintf's NUL) that may reach past the text's end.
inline constexpr size_t float_room = 48;
inline constexpr size_t uint_room = 16;
static_assert(float_room >= float_text_max + 1 && uint_room >= uint_text_max + 2);

// "000" to "999" as ASCII in the three lowest bytes, first digit lowest.
inline constexpr std::array<uint32_t, 1000> three_digit_texts = [] {
    std::array<uint32_t, 1000> texts{};
    for (uint32_t i = 0; i < 1000; ++i)
        texts[i] = ('0' + i / 100) | ('0' + i / 10 % 10) << 8 | ('0' + i % 10) << 16;
    return texts;
}();

// The six digits of `value` (below 10^6, zero-padded), first digit lowest.
inline uint64_t six_digit_text(uint32_t value)
{
    return three_digit_texts[value / 1000] | uint64_t{three_digit_texts[value % 1000]} << 24;
}

// Stores the word's bytes lowest first, whatever the host's byte order.
inline void store_bytes(char* out, uint64_t word)
{
    if constexpr (std::endian::native == std::endian::big)
        word = byteswap64(word);
    std::memcpy(out, &word, sizeof word);
}

// Writes `value` in decimal, as "%u" does; returns the end of the text.
// `out` needs uint_room bytes.
char* format_uint(char* out, uint32_t value);

// format_float() of large magnitudes, infinities and NaN.
MESHWRIGHT_NOINLINE char* format_float_slowly(char* out, float value);

// Writes `value` widened to double exactly as printf's "%f" does and returns
// the end of the text (no NUL is added). `out` needs float_room bytes. Inline,
// so that the lines of several numbers set up its constants once.
inline char* format_float(char* out, float value)
{
    const double magnitude = std::fabs(static_cast<double>(value));
    // Below 10^8 a float times 10^6 is an exact double (a float has 24
    // significant bits and 10^6 adds at most 14 more) far below 2^52. NaN
    // fails this comparison too, so it takes the general route.
    if (!(magnitude < 1e8)) [[unlikely]]
        return format_float_slowly(out, value);

    // Adding 2^52 rounds the exact product to the nearest integer, ties to
    // even, just as printf rounds the exact decimal value in the default
    // rounding mode (which this program never changes); the sum's mantissa
    // bits are that integer.
    const double shifted = magnitude * 1e6 + 0x1p52;
    const uint64_t micros = bit_cast<uint64_t>(shifted) & ((uint64_t{1} << 52) - 1);
    const uint32_t whole = static_cast<uint32_t>(micros / 1000000);
    const uint32_t fraction = static_cast<uint32_t>(micros - uint64_t{whole} * 1000000);
    *out = '-';
    out += std::signbit(value);
    // Normals and most texture coordinates have one digit before the point,
    // and the positions of most levels at most four: neither needs a count
    // of digits from a table.
    if (whole < 10) {
        *out++ = static_cast<char>('0' + whole);
    } else if (whole < 10000) {
        const int digits = 2 + (whole >= 100) + (whole >= 1000);
        store_bytes(out, (three_digit_texts[whole / 10] | uint64_t{'0' + whole % 10} << 24) >> (8 * (4 - digits)));
        out += digits;
    } else {
        out = format_uint(out, whole);
    }
    store_bytes(out, '.' | six_digit_text(fraction) << 8);
    return out + 7;
}

} // namespace meshwright
