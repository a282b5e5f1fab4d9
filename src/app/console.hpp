#pragma once

#include <string_view>

namespace meshwright {

// Writes one line of console text to standard output and flushes it, so that
// every line is visible as soon as it is complete, even when a later step
// fails or the output is a pipe.
void console_line(std::string_view text);

} // namespace meshwright
