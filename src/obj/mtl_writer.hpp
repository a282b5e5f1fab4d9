#pragma once

#include <functional>
#include <set>
#include <string>

namespace meshwright {

// Texture names in byte-wise order over unsigned byte values, a proper prefix
// first (std::string compares its characters as unsigned bytes). A name can
// be looked up as a string_view, without making a string of it.
using TextureNames = std::set<std::string, std::less<>>;

// The companion material path of an OBJ path, in the same folder: the path
// cut before the last '.' of its file name, or the whole path when the file
// name has none, followed by ".mtl".
std::string material_file_name(const std::string& output_path);

// The file name of a path, without its folders.
std::string final_component(const std::string& path);

// Writes one material per texture name, each pointing at "<name>.bmp".
void write_mtl(const std::string& material_path, const TextureNames& texture_names);

} // namespace meshwright
