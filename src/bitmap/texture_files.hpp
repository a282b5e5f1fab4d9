#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

namespace meshwright {

// Whether a texture name stays inside the output's folder as a file name:
// parts split on '/' and '\', none of them empty, "." or "..", no ':' and
// no leading separator. A level's names never make the converter read
// elsewhere.
bool names_texture_inside(std::string_view name);

// What became of a texture: embedded, no file found for it, or a file found
// that is no bitmap the converter reads.
enum class TextureOutcome { embedded, not_found, unreadable };

struct TextureFile {
    TextureOutcome outcome = TextureOutcome::not_found;
    std::vector<uint8_t> bytes; // the bitmap's, where it was read
};

// The bytes of the bitmap that the material file names for the texture
// `name` (as its line gives it) beside an output in `folder`:
// "<folder>/<name>.bmp", or else the one file in that folder whose name is
// the same but for the case of ASCII letters (levels made on Windows). Only
// a regular file is read, opened so that a FIFO or device never blocks,
// and only as far as its header says it needs: anything else found there,
// a file cut short or no bitmap at all, is unreadable.
TextureFile read_texture_file(const std::filesystem::path& folder, std::string_view name);

} // namespace meshwright
