#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "bitmap/texture_files.hpp"
#include "gltf/glb_writer.hpp"

namespace meshwright {

// What a glTF run did with the textures of its materials, told on the
// console after the reader's closing line.
struct TextureReport {
    std::filesystem::path folder;         // where the bitmaps were looked for
    std::vector<std::string> names;       // each material's texture name
    std::vector<TextureOutcome> outcomes; // one per name
};

// The textures of a glTF file in `folder`: for each texture name, the
// bitmap that the material file would name beside it, as a PNG image, handed
// to `take` in the names' order on the calling thread; nothing for a name
// without one, or whose file cannot be read or decoded, with the reason in
// `outcomes`. Bitmaps are read, decoded and encoded on up to `threads`
// threads (0: one per processor), each holding one bitmap at a time, with
// at most two finished images per thread waiting for their turn; the result
// does not depend on how many. What a thread or `take` throws ends the work
// and passes on.
void find_textures(const std::filesystem::path& folder, const std::vector<std::string>& names, unsigned threads,
                   std::vector<TextureOutcome>& outcomes, const TextureTaker& take);

// The console line on the textures: how many were embedded, from which
// folder, and the bitmaps not found and those found but unreadable, as the
// material file names them (a few, then how many more; all of them with
// `every_name`).
std::string texture_line(const TextureReport& report, bool every_name);

} // namespace meshwright
