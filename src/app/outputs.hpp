#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "app/textures.hpp"
#include "bsp/bsp_data.hpp"

namespace meshwright {

// Where a run takes the bitmaps of its textures from, when not from beside
// the output.
struct TextureSource {
    // Where the bitmaps were looked for, in a glTF run's console line.
    std::string where;
    // A glTF file's textures.
    TextureMaker make;
    // The bitmap of a texture name as an OBJ's material file in
    // `material_folder` names it, with its outcome (embedded: found).
    std::function<std::string(const std::string& name, const std::filesystem::path& material_folder,
                              TextureOutcome& outcome)>
        reference;
};

// Writes the level to `output`: as one binary glTF file when its name ends
// in ".glb" (in any case), as one JSON glTF file when it ends in ".gltf",
// otherwise as an OBJ file with its material file
// beside it, both or neither: each is written completely into a temporary file
// first, and the two are put in place together. A destination that is no
// regular file (a device, a FIFO) gets no material file beside it, unless
// one stands ready there as a device or FIFO too. `level_file`, when given,
// is never overwritten: an output that is the level file itself, by any
// name or link, cannot be opened, and a material file that is gets its own
// message. The textures come from `source`, where given, else from beside
// the output. Returns what became of a glTF file's textures, and of an OBJ's
// with a `source`.
//
// Throws a message text when the level cannot be written as it stands or an
// output cannot be written. `threads` as for write_obj().
std::optional<TextureReport> write_outputs(const BspData& level, const std::filesystem::path& output,
                                           const std::filesystem::path& level_file = {}, unsigned threads = 0,
                                           const TextureSource* source = nullptr);

} // namespace meshwright
