#include "obj/number_format.hpp"

#include "base/portability.hpp"

#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace meshwright {

namespace {

// "000" to "999" as ASCII in the three lowest bytes, first digit lowest.
constexpr std::array<uint32_t, 1000> three_digit_texts = [] {
    std::array<uint32_t, 1000> texts{};
    for (uint32_t i = 0; i < 1000; ++i)
        texts[i] = ('0' + i / 100) | ('0' + i / 10 % 10) << 8 | ('0' + i % 10) << 16;
    return texts;
}();

// The six digits of `value` (below 10^6, zero-padded), first digit lowest.
uint64_t six_digit_text(uint32_t value)
{
    return three_digit_texts[value / 1000] | uint64_t{three_digit_texts[value % 1000]} << 24;
}

// Stores the word's bytes lowest first, whatever the host's byte order.
void store_bytes(char* out, uint64_t word)
{
    if constexpr (std::endian::native == std::endian::big)
        word = byteswap64(word);
    std::memcpy(out, &word, sizeof word);
}

int digit_count(uint32_t value)
{
    static constexpr uint32_t powers_of_ten[] = {1,      10,      100,      1000,      10000,
                                                 100000, 1000000, 10000000, 100000000, 1000000000};
    // Setting the lowest bit never changes the digit count and keeps 0 out.
    value |= 1;
    // bit_width * 1233 / 4096 undershoots log10 by at most one.
    const int estimate = (std::bit_width(value) * 1233) >> 12;
    return estimate + 1 - (value < powers_of_ten[estimate]);
}

// Digits are written with whole 8-byte stores, which may reach past the
// number's end into the room that the caller provides.
char* write_below_million(char* out, uint32_t value)
{
    const int digits = digit_count(value);
    store_bytes(out, six_digit_text(value) >> (8 * (6 - digits)));
    return out + digits;
}

char* write_decimal(char* out, uint32_t value)
{
    if (value >= 1000000) [[unlikely]] {
        out = write_below_million(out, value / 1000000);
        store_bytes(out, six_digit_text(value % 1000000));
        return out + 6;
    }
    return write_below_million(out, value);
}

// Below this magnitude a float times 10^6 is an exact double (a float has 24
// significant bits and 10^6 adds at most 14 more) far below 2^52.
constexpr double fast_path_limit = 1e8;

// What this platform's printf writes for NaN and infinity of each sign, taken
// once: levels with many degenerate triangles are full of them.
struct SpecialTexts {
    char text[4][float_room]; // NaN, -NaN, infinity, -infinity
    int length[4];

    SpecialTexts()
    {
        const double values[4] = {std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
                                  std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
        for (int i = 0; i < 4; ++i)
            length[i] = std::snprintf(text[i], float_room, "%f", values[i]);
    }
};

// Values outside the fast path: large magnitudes, infinities and NaN.
MESHWRIGHT_NOINLINE char* format_float_slowly(char* out, float value)
{
    if (std::isnan(value) || std::isinf(value)) {
        static const SpecialTexts special;
        const int which = (std::isinf(value) ? 2 : 0) + (std::signbit(value) ? 1 : 0);
        std::memcpy(out, special.text[which], float_room);
        return out + special.length[which];
    }
    return out + std::snprintf(out, float_room, "%f", static_cast<double>(value));
}

} // namespace

char* format_float(char* out, float value)
{
    const double magnitude = std::fabs(static_cast<double>(value));
    // NaN fails this comparison too, so it takes the general route.
    if (!(magnitude < fast_path_limit)) [[unlikely]]
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
        out = write_decimal(out, whole);
    }
    store_bytes(out, '.' | six_digit_text(fraction) << 8);
    return out + 7;
}

char* format_uint(char* out, uint32_t value)
{
    return write_decimal(out, value);
}

} // namespace meshwright
