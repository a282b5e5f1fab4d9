#pragma once

#include <optional>
#include <string>

#include "app/outputs.hpp"
#include "app/textures.hpp"

namespace meshwright {

// Converts the level named on the command line; returns the exit status.
// `textures`, where given, receives what a glTF run did with each texture,
// as its console line tells in short (for the page, which lists them all).
// The textures come from `source`, where given (the page's, found by
// BitmapLookup among the files chosen), else from beside the output.
int run(int argc, char** argv, std::optional<TextureReport>* textures = nullptr,
        const TextureSource* source = nullptr);

// Prints the banner and the usage text.
void print_usage(const std::string& program_name);

} // namespace meshwright
