#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

// File names travel through the program as UTF-8 bytes, as the command line
// gives them on Linux and as the Windows entry point converts them. These
// turn them into what each system's file functions take.
namespace meshwright {

std::filesystem::path path_from_utf8(const std::string& name);
std::string utf8_from_path(const std::filesystem::path& path);

// fopen for a UTF-8 name: the wide-character function on Windows, so that
// names outside the system's code page open too.
FILE* open_file(const std::string& name, const char* mode);

} // namespace meshwright
