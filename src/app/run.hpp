#pragma once

#include <string>

namespace meshwright {

// Converts the level named on the command line; returns the exit status.
int run(int argc, char** argv);

// Prints the banner and the usage text.
void print_usage(const std::string& program_name);

} // namespace meshwright
