#pragma once

namespace meshwright {

// Set by "-v" on the command line; makes the reader report the level file.
extern bool verbose;

} // namespace meshwright
