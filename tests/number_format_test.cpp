#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "obj/number_format.hpp"

namespace meshwright {

namespace {

std::string printf_text(const char* format, double value)
{
    char text[512];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string formatted(float value)
{
    // Exactly the room the formatter may use, so that the address sanitizer
    // catches any store beyond it.
    char text[float_room];
    return {text, format_float(text, value)};
}

std::string formatted(uint32_t value)
{
    char text[uint_room];
    return {text, format_uint(text, value)};
}

float from_bits(uint32_t bits)
{
    return std::bit_cast<float>(bits);
}

TEST(NumberFormat, FloatsMatchPrintfOnSpecialValues)
{
    // clang-format off
    const float specials[] = {
        0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 0.25f, 1e-7f, -1e-7f, 4.9999997e-7f, 5e-7f, 5.0000004e-7f,
        0.0078125f, 0.0234375f, -0.0078125f, 0.0000005f, 0.9999995f, 0.99999994f, 9.9999995f,
        123456.7890f, 99999.999999f, 999999.99f, 1e6f, 9999999.0f, 99999992.0f, 1e8f, 1.00000008e8f,
        4294967296.0f, 1e10f, 3.4028235e38f, -3.4028235e38f, std::numeric_limits<float>::min(),
        std::numeric_limits<float>::denorm_min(), -std::numeric_limits<float>::denorm_min(),
        std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
        std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::quiet_NaN(),
        from_bits(0x7FA00000), from_bits(0xFFC00001), from_bits(0x007FFFFF),
        // Either side of ten and of ten thousand, before and after rounding.
        9.999999f, -9.9999996f, 10.0f, 10.000001f, 999.99994f, 9999.999f, -9999.9999f, 10000.0f, 10000.001f,
    };
    // clang-format on
    for (float value : specials)
        EXPECT_EQ(formatted(value), printf_text("%f", value)) << "bits " << std::bit_cast<uint32_t>(value);
}

TEST(NumberFormat, FloatsMatchPrintfOnRandomBitPatterns)
{
    std::mt19937 random(12345);
    int mismatches = 0;
    for (int i = 0; i < 3'000'000 && mismatches < 10; ++i) {
        const float value = from_bits(static_cast<uint32_t>(random()));
        const std::string expected = printf_text("%f", value);
        if (formatted(value) != expected) {
            ADD_FAILURE() << "bits " << std::bit_cast<uint32_t>(value) << ": " << formatted(value) << " vs "
                          << expected;
            ++mismatches;
        }
    }
}

TEST(NumberFormat, FloatsMatchPrintfAroundEveryRoundingTie)
{
    // Exact ties at the sixth decimal are odd multiples of 2^-7; printf
    // rounds them to even, as the formatter must, and their neighbours away.
    for (int k = 1; k < (1 << 20); k += 2) {
        const float tie = std::ldexp(static_cast<float>(k), -7);
        for (float value : {tie, std::nextafter(tie, 0.0f), std::nextafter(tie, 1e9f)}) {
            ASSERT_EQ(formatted(value), printf_text("%f", value));
            ASSERT_EQ(formatted(-value), printf_text("%f", -value));
        }
    }
}

TEST(NumberFormat, UnsignedIntegersMatchPrintf)
{
    std::vector<uint32_t> values = {0, 1, 9, 10, 99, 100, 65535, 65536, 999999, 1000000, 1000001, 4294967295u};
    for (uint32_t power = 1; power <= 1000000000; power *= 10) {
        values.push_back(power - 1);
        values.push_back(power);
        values.push_back(power + 1);
    }
    std::mt19937 random(99);
    for (int i = 0; i < 200000; ++i)
        values.push_back(static_cast<uint32_t>(random()) >> (random() % 32));
    for (uint32_t value : values) {
        char expected[16];
        std::snprintf(expected, sizeof expected, "%u", value);
        ASSERT_EQ(formatted(value), expected);
    }
}

} // namespace

} // namespace meshwright
