#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

// File names arrive as UTF-8 bytes, as the command line gives them on Linux
// and as the Windows entry point converts them, and travel through the
// program as paths in each system's own form.
namespace meshwright {

std::filesystem::path path_from_utf8(const std::string& name);
std::string utf8_from_path(const std::filesystem::path& path);

// fopen for a path: the wide-character function on Windows, so that names
// outside the system's code page open too.
FILE* open_file(const std::filesystem::path& path, const char* mode);

// Closes a file opened by open_file() when its holder goes.
struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

// The companion material path of an OBJ path, in the same folder: the path
// cut before the last '.' of its file name, or the whole path when the file
// name has none, followed by ".mtl".
std::filesystem::path material_file_name(const std::filesystem::path& output_path);

// Whether an output path asks for binary glTF: its file name ends in ".glb",
// in any case of letters.
bool names_binary_gltf(const std::filesystem::path& output_path);
// Whether it asks for glTF's JSON form: a file name ending in ".gltf", in
// any case.
bool names_json_gltf(const std::filesystem::path& output_path);

// The file name of a path, without its folders.
std::filesystem::path final_component(const std::filesystem::path& path);

} // namespace meshwright
