#pragma once

#include <functional>
#include <set>
#include <string>

#include "io/output_file.hpp"

namespace meshwright {

// Texture names in byte-wise order over unsigned byte values, a proper prefix
// first (std::string compares its characters as unsigned bytes). A name can
// be looked up as a string_view, without making a string of it.
using TextureNames = std::set<std::string, std::less<>>;

// Writes one material per texture name into `file`, each pointing at
// "<name>.bmp".
void write_mtl(OutputFile& file, const TextureNames& texture_names);

} // namespace meshwright
