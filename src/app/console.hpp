#pragma once

#include <string_view>

namespace meshwright {

// Writes one line of console text to standard output and flushes it, so that
// every line is visible as soon as it is complete, even when a later step
// fails or the output is a pipe.
void console_line(std::string_view text);

// Whether standard output is a terminal, where a progress line can be
// redrawn.
bool console_is_terminal();

// Draws `text` as the terminal's progress line, over the one drawn before
// and without ending it; an empty text clears it, before a console line.
void console_progress(std::string_view text);

// Whether any console text failed to reach standard output.
bool console_failed();

// Writes one line to standard error, for when standard output fails.
void console_error(std::string_view text);

// Makes sure the standard streams' descriptors are taken, so that no output
// file opened later lands on one of them and receives console text. One
// that was closed stays unusable: writing to it fails.
void claim_standard_streams();

} // namespace meshwright
