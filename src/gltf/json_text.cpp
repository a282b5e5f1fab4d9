#include "gltf/json_text.hpp"

#include <cassert>
#include <cmath>
#include <vector>

#include "base/utf8.hpp"

namespace meshwright {

namespace {

constexpr std::string_view replacement_character = "\xEF\xBF\xBD";

} // namespace

std::string readable_name(std::string_view bytes)
{
    std::string name;
    for (size_t at = 0; at < bytes.size();) {
        const int length = utf8_character_length(bytes, at);
        if (length < 0) {
            name += replacement_character;
            at += static_cast<size_t>(-length);
            continue;
        }
        const auto byte = static_cast<unsigned char>(bytes[at]);
        if (byte < 0x20 || byte == 0x7F)
            name += '_';
        else
            name.append(bytes.substr(at, static_cast<size_t>(length)));
        at += static_cast<size_t>(length);
    }
    return name;
}

void append_json_string(std::string& out, std::string_view bytes)
{
    out += '"';
    for (char c : readable_name(bytes)) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    out += '"';
}

void append_exact_decimal(std::string& out, float value)
{
    assert(std::isfinite(value));
    if (value == 0) {
        out += '0';
        return;
    }
    // value = mantissa * 2^exponent with a whole 24-bit mantissa; frexp and
    // ldexp are exact.
    int exponent = 0;
    const float fraction = std::frexp(std::fabs(value), &exponent);
    auto mantissa = static_cast<uint32_t>(std::ldexp(fraction, 24));
    exponent -= 24;
    // The decimal digits of mantissa * 2^exponent, or of mantissa *
    // 5^-exponent with as many digits after the point; least significant
    // first.
    std::vector<uint8_t> digits;
    for (; mantissa > 0; mantissa /= 10)
        digits.push_back(static_cast<uint8_t>(mantissa % 10));
    const unsigned factor = exponent >= 0 ? 2 : 5;
    for (int i = 0; i < std::abs(exponent); ++i) {
        unsigned carry = 0;
        for (uint8_t& digit : digits) {
            const unsigned product = digit * factor + carry;
            digit = static_cast<uint8_t>(product % 10);
            carry = product / 10;
        }
        for (; carry > 0; carry /= 10)
            digits.push_back(static_cast<uint8_t>(carry % 10));
    }
    size_t point = exponent >= 0 ? 0 : static_cast<size_t>(-exponent); // digits after the point
    size_t lowest = 0;
    while (lowest < point && digits[lowest] == 0)
        ++lowest;
    if (value < 0)
        out += '-';
    if (digits.size() <= point) {
        out += "0.";
        out.append(point - digits.size(), '0');
    }
    for (size_t i = digits.size(); i-- > lowest;) {
        out += static_cast<char>('0' + digits[i]);
        if (i == point && i > lowest)
            out += '.';
    }
}

void append_uint(std::string& out, uint64_t value)
{
    out += std::to_string(value);
}

} // namespace meshwright
