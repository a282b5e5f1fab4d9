#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
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

// Makes the texture of one texture name, or nothing, with the reason.
using TextureMaker = std::function<std::optional<GlbTexture>(const std::string& name, TextureOutcome& outcome)>;

// A bitmap file's texture: decoded and encoded as a PNG image, or nothing
// for one not read or that is no bitmap the converter reads.
std::optional<GlbTexture> texture_of(const TextureFile& file, TextureOutcome& outcome);

// About the most memory that making the texture of a name holds at once,
// until it is taken.
using TextureMemory = std::function<uint64_t(const std::string& name)>;

// The memory that the images being made and waiting for their turn may
// hold together, whatever the number of processors: 16 bitmaps of 4096 x
// 4096 pixels are made two at a time. One image larger than this is made
// alone, and the image next in turn is made whatever the others hold, so
// that the work always goes on.
inline constexpr uint64_t texture_memory_budget = uint64_t{384} << 20;

// The texture of each name, made by `make`, handed to `take` in the names'
// order on the calling thread, with the outcomes in `outcomes`. Textures
// are made on up to `threads` threads (0: one per processor), each making
// one at a time, with at most two finished images per thread waiting for
// their turn, and, given `memory`, within texture_memory_budget; the result
// does not depend on how many. What a thread or `take` throws ends the
// work and passes on.
void make_textures(const std::vector<std::string>& names, unsigned threads, std::vector<TextureOutcome>& outcomes,
                   const TextureTaker& take, const TextureMaker& make, const TextureMemory& memory = {});

// The textures of a glTF file in `folder`: for each texture name, the
// bitmap that the material file would name beside it, made as by
// make_textures().
void find_textures(const std::filesystem::path& folder, const std::vector<std::string>& names, unsigned threads,
                   std::vector<TextureOutcome>& outcomes, const TextureTaker& take);

// The words on the textures: "textures: N of M " and `counted`, then the
// bitmaps not found and those found but unreadable, as the material file
// names them (a few, then how many more; all of them with `every_name`).
std::string texture_words(const TextureReport& report, std::string_view counted, bool every_name);

// The console line on a glTF file's textures: how many were embedded, from
// which folder, and those not embedded, as texture_words() tells them.
std::string texture_line(const TextureReport& report, bool every_name);

} // namespace meshwright
