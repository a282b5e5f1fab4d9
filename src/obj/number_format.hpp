#pragma once

#include <cstddef>
#include <cstdint>

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

// Writes `value` widened to double exactly as printf's "%f" does and returns
// the end of the text (no NUL is added). `out` needs float_room bytes.
char* format_float(char* out, float value);

// Writes `value` in decimal, as "%u" does; returns the end of the text.
// `out` needs uint_room bytes.
char* format_uint(char* out, uint32_t value);

} // namespace meshwright
