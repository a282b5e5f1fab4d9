#pragma once

#include <set>
#include <string>

// Texture names in byte-wise order over unsigned byte values, a proper prefix
// first (std::string compares its characters as unsigned bytes).
using TextureNames = std::set<std::string>;

// The companion material path of an OBJ path: the path cut before its last
// '.', or the whole path when it has none, followed by ".mtl".
std::string material_file_name(const std::string& output_path);

// Writes one material per texture name, each pointing at "<name>.bmp".
void write_mtl(const std::string& material_path, const TextureNames& texture_names);
