#pragma once

#include <cstdio>
#include <functional>
#include <string_view>

#include "bsp/bsp_data.hpp"

namespace meshwright {

// Prints one line of console text, given without its line end.
using PrintLine = std::function<void(std::string_view line)>;

// Reads a whole level file from `file`, which is positioned at its first byte
// and stays open. Throws a message text when the file is not a level this
// program can convert. With `verbose`, describes the level through
// `print_line` while reading it; always prints a closing line with the final
// read position.
BspData load_bsp(FILE* file, bool verbose, const PrintLine& print_line);

} // namespace meshwright
