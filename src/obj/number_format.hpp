#pragma once

#include <cstddef>
#include <cstdint>

namespace meshwright {

// Bytes that one call may write at `out`: the longest text ("%f" of a float
// is a sign, 39 digits, the point and 6 decimals; "%u" is 10 digits), and
// beyond it the whole-word stores that may reach past the text's end.
inline constexpr size_t float_room = 48;
inline constexpr size_t uint_room = 16;

// Writes `value` widened to double exactly as printf's "%f" does and returns
// the end of the text (no NUL is added). `out` needs float_room bytes.
char* format_float(char* out, float value);

// Writes `value` in decimal, as "%u" does; returns the end of the text.
// `out` needs uint_room bytes.
char* format_uint(char* out, uint32_t value);

} // namespace meshwright
