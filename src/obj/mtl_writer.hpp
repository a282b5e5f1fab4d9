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

// The bitmap a material points at, as the material file writes it.
using BitmapReference = std::function<std::string(const std::string& texture_name)>;

// Writes one material per texture name into `file`, each pointing at the
// bitmap `bitmap_of` gives for its name, by default "<name>.bmp".
void write_mtl(OutputFile& file, const TextureNames& texture_names, const BitmapReference& bitmap_of = {});

} // namespace meshwright
