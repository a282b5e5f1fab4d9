#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace meshwright {

// Appends `bytes` as a JSON string in quotes that every reader takes: bytes
// below 0x20 and 0x7F become '_', as in the OBJ, and every stretch that is
// not valid UTF-8 becomes one U+FFFD.
void append_json_string(std::string& out, std::string_view bytes);

// The text that append_json_string() puts between the quotes, unescaped:
// the name a reader shows.
std::string readable_name(std::string_view bytes);

// Appends a finite float exactly, as a JSON number: every float is a finite
// decimal fraction, and readers that compare it with the binary data must
// get the very same value back.
void append_exact_decimal(std::string& out, float value);

void append_uint(std::string& out, uint64_t value);

} // namespace meshwright
