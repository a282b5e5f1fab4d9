#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "bsp/bsp_data.hpp"
#include "obj/mtl_writer.hpp"
#include "obj/obj_lines.hpp"

namespace meshwright {

// The OBJ file of a level cut into chunks of whole lines, in file order, each
// of which can be formatted on its own into a buffer of a fixed size. Written
// one after the other, the chunks are the whole file, whatever thread made
// each of them.
class ObjChunks {
  public:
    // Every chunk fits in `buffer_bytes`, which must hold at least one line
    // of each kind. The file's head (its comment and "mtllib" line) is not
    // part of the chunks: it comes before them.
    ObjChunks(const BspData& level, size_t buffer_bytes);

    size_t count() const { return chunks_.size(); }

    // Formats chunk `index` at `out` (buffer_bytes of room) and returns how
    // many bytes it wrote.
    size_t format(size_t index, char* out) const;

    // Every surface's material name, each once, as the "usemtl" lines give them.
    const TextureNames& texture_names() const { return texture_names_; }

    // How many lines of the longest kind a buffer holds: each line may take
    // its longest text, and the last one's stores may reach past its end.
    static size_t lines_per_buffer(size_t buffer_bytes, size_t line_max)
    {
        return buffer_bytes < store_overshoot_max ? 0 : (buffer_bytes - store_overshoot_max) / line_max;
    }

  private:
    enum class Kind : uint8_t { blank_line, positions, tex_coords, normals, faces };

    // Normals run over the triangles of the surfaces, faces over each
    // surface's group lines (item 0) and its triangles (item k is triangle
    // k - 1); a chunk of either starts at item `first` of `surface`.
    struct Chunk {
        Kind kind;
        uint32_t surface = 0;
        uint64_t first = 0;         // the first line or item
        uint64_t count = 0;         // how many lines or items
        uint32_t normal_number = 0; // faces: the first triangle's normal number
    };

    // Cuts items in groups (lines of one list, or a surface's triangles or
    // face items) into chunks of as many whole lines of `line_max` as a
    // buffer holds; chunk i's group and first item say where it starts.
    void pack(Kind kind, size_t line_max, size_t groups, const std::function<uint64_t(size_t group)>& items_in);
    void plan_faces();
    void collect_texture_names();

    char* format_normals(const Chunk& chunk, char* out) const;
    char* format_faces(const Chunk& chunk, char* out) const;

    const BspData& level_;
    ObjLines lines_;
    size_t buffer_bytes_;
    std::vector<Chunk> chunks_;
    TextureNames texture_names_;
};

} // namespace meshwright
