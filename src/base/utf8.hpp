#pragma once

#include <cstddef>
#include <string_view>

namespace meshwright {

// How many bytes of `text` from `at` form one valid UTF-8 character, or,
// when negative, how many form the longest start of one that went wrong.
int utf8_character_length(std::string_view text, size_t at);

bool is_utf8(std::string_view text);

} // namespace meshwright
