#pragma once

#include <cstdio>

#include "bsp/bsp_data.hpp"

// Reads a whole level file from `file`, which is positioned at its first byte
// and stays open. Throws a message text when the file is not a level this
// program can convert. Prints the report when `verbose` is set, and always a
// closing line with the final read position.
BspData load_bsp(FILE* file);
