#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace meshwright {

// Whether a texture name stays inside the output's folder as a file name:
// parts split on '/' and '\', none of them empty, "." or "..", no ':' and
// no leading separator. A level's names never make the converter read
// elsewhere.
bool names_texture_inside(std::string_view name);

// The bytes of the bitmap that the material file names for the texture
// `name` (as its line gives it) beside an output in `folder`:
// "<folder>/<name>.bmp", or else the one file in that folder whose name is
// the same but for the case of ASCII letters (levels made on Windows). Only
// a regular file is read, opened so that a FIFO or device never blocks,
// and only as far as its header says it needs. Nothing when there is no
// such bitmap, or it is cut short or no bitmap at all.
std::optional<std::vector<uint8_t>> read_texture_file(const std::filesystem::path& folder, std::string_view name);

} // namespace meshwright
