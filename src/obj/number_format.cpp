#include "obj/number_format.hpp"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace meshwright {

namespace {

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

} // namespace

char* format_uint(char* out, uint32_t value)
{
    if (value >= 1000000) [[unlikely]] {
        out = write_below_million(out, value / 1000000);
        store_bytes(out, six_digit_text(value % 1000000));
        return out + 6;
    }
    return write_below_million(out, value);
}

namespace {

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

} // namespace

char* format_float_slowly(char* out, float value)
{
    if (std::isnan(value) || std::isinf(value)) {
        static const SpecialTexts special;
        const int which = (std::isinf(value) ? 2 : 0) + (std::signbit(value) ? 1 : 0);
        std::memcpy(out, special.text[which], float_room);
        return out + special.length[which];
    }
    return out + std::snprintf(out, float_room, "%f", static_cast<double>(value));
}

} // namespace meshwright
