#pragma once

#include <cstddef>
#include <cstdint>

// Room that one formatted number needs, terminating NUL included: the
// longest "%f" of a float is the sign, 39 digits, the point and 6 decimals.
inline constexpr size_t max_float_chars = 48;
inline constexpr size_t max_uint_chars = 10;

// Writes `value` widened to double exactly as printf's "%f" does and returns
// the end of the text (no NUL is added). `out` needs max_float_chars bytes.
char* format_float(char* out, float value);

// Writes `value` in decimal, as "%u" does; returns the end of the text.
// `out` needs max_uint_chars bytes.
char* format_uint(char* out, uint32_t value);
