#include "obj/obj_chunks.hpp"

#include <algorithm>
#include <cassert>
#include <string_view>
#include <unordered_set>

#include "bsp/triangle_normal.hpp"

namespace meshwright {

ObjChunks::ObjChunks(const BspData& level, size_t buffer_bytes)
    : level_(level), lines_(level), buffer_bytes_(buffer_bytes)
{
    assert(lines_per_buffer(buffer_bytes, std::max({position_line_max, tex_coord_line_max, normal_line_max,
                                                    face_line_max, group_lines_max})) > 0);
    pack(Kind::positions, position_line_max, 1, [&](size_t) { return level.vertices.size(); });
    chunks_.push_back({Kind::blank_line});
    pack(Kind::tex_coords, tex_coord_line_max, 1, [&](size_t) { return level.tex_coords.size(); });
    chunks_.push_back({Kind::blank_line});
    pack(Kind::normals, normal_line_max, level.surfaces.size(),
         [&](size_t s) { return uint64_t{level.surfaces[s].triangle_count}; });
    chunks_.push_back({Kind::blank_line});
    plan_faces();
    collect_texture_names();
}

void ObjChunks::pack(Kind kind, size_t line_max, size_t groups, const std::function<uint64_t(size_t)>& items_in)
{
    const uint64_t per_chunk = lines_per_buffer(buffer_bytes_, line_max);
    Chunk chunk{kind};
    for (size_t group = 0; group < groups; ++group) {
        const uint64_t items = items_in(group);
        for (uint64_t item = 0; item < items;) {
            if (chunk.count == 0)
                chunk = {kind, static_cast<uint32_t>(group), item, 0};
            const uint64_t taken = std::min(per_chunk - chunk.count, items - item);
            chunk.count += taken;
            item += taken;
            if (chunk.count == per_chunk) {
                chunks_.push_back(chunk);
                chunk.count = 0;
            }
        }
    }
    if (chunk.count > 0)
        chunks_.push_back(chunk);
}

void ObjChunks::plan_faces()
{
    const size_t first_chunk = chunks_.size();
    pack(Kind::faces, std::max(face_line_max, group_lines_max), level_.surfaces.size(),
         [&](size_t s) { return 1 + uint64_t{level_.surfaces[s].triangle_count}; });
    // Normal numbers run on across surfaces, one per triangle, as 32-bit
    // values; a chunk's first item is a group's first line or a triangle.
    uint64_t triangles_before = 0;
    size_t surface = 0;
    for (size_t i = first_chunk; i < chunks_.size(); ++i) {
        Chunk& chunk = chunks_[i];
        for (; surface < chunk.surface; ++surface)
            triangles_before += level_.surfaces[surface].triangle_count;
        chunk.normal_number = static_cast<uint32_t>(1 + triangles_before + (chunk.first > 0 ? chunk.first - 1 : 0));
    }
}

void ObjChunks::collect_texture_names()
{
    // Levels name a few hundred textures over up to millions of surfaces: a
    // name seen before, as stored, needs no look-up in the sorted set.
    std::unordered_set<std::string_view> seen;
    for (const BspSurface& surface : level_.surfaces) {
        if (seen.insert(surface.texture_name.text()).second)
            texture_names_.emplace(surface.texture_name.line_safe().text());
    }
}

size_t ObjChunks::format(size_t index, char* out) const
{
    const Chunk& chunk = chunks_[index];
    [[maybe_unused]] char* const start = out;
    switch (chunk.kind) {
    case Kind::blank_line:
        *out++ = '\n';
        break;
    case Kind::positions:
        for (uint64_t i = chunk.first; i < chunk.first + chunk.count; ++i)
            out = ObjLines::position(out, level_.vertices[i]);
        break;
    case Kind::tex_coords:
        for (uint64_t i = chunk.first; i < chunk.first + chunk.count; ++i)
            out = ObjLines::tex_coord(out, level_.tex_coords[i]);
        break;
    case Kind::normals:
        out = format_normals(chunk, out);
        break;
    case Kind::faces:
        out = format_faces(chunk, out);
        break;
    }
    assert(static_cast<size_t>(out - start) <= buffer_bytes_);
    return static_cast<size_t>(out - start);
}

namespace {

// Triangles are looked ahead this many to fetch the memory that their lines
// read (vertices, vertex number texts) early: the file's pages that the
// system fills meanwhile push it out of the cache.
constexpr size_t prefetch_distance = 16;

// The corners `prefetch_distance` triangles after `corners`, if the level
// has them (they may belong to a later surface; any vertex is a fine guess).
const uint16_t* corners_ahead(const BspData& level, const uint16_t* corners)
{
    const size_t offset = static_cast<size_t>(corners - level.triangle_indices.data()) + 3 * prefetch_distance;
    return offset + 3 <= level.triangle_indices.size() ? level.triangle_indices.data() + offset : nullptr;
}

} // namespace

char* ObjChunks::format_normals(const Chunk& chunk, char* out) const
{
    // A block of normals is worked out before any of them is written: the
    // vertex loads and divisions of its triangles then overlap, where a line
    // at a time waited for each in turn.
    constexpr size_t block = 128;
    Vec3 normals[block];
    const Vec3* const v = level_.vertices.data();
    uint64_t t = chunk.first;
    for (size_t s = chunk.surface, left = chunk.count; left > 0; ++s, t = 0) {
        // Surfaces without triangles have no normals; the plan counted
        // exactly this many triangles ahead, so this always stops.
        const BspSurface& surface = level_.surfaces[s];
        const auto count = static_cast<size_t>(std::min<uint64_t>(surface.triangle_count - t, left));
        const uint16_t* corners = level_.triangle_indices_of(surface).data() + 3 * t;
        for (size_t done = 0; done < count;) {
            const size_t n = std::min(block, count - done);
            for (size_t i = 0; i < n; ++i, corners += 3) {
                if (const uint16_t* ahead = corners_ahead(level_, corners)) {
                    for (int k = 0; k < 3; ++k)
                        MESHWRIGHT_PREFETCH(&v[std::min<size_t>(ahead[k], level_.vertices.size() - 1)]);
                }
                normals[i] = triangle_normal(v[corners[0]], v[corners[1]], v[corners[2]]);
            }
            for (size_t i = 0; i < n; ++i)
                out = ObjLines::normal(out, normals[i]);
            done += n;
        }
        left -= count;
    }
    return out;
}

char* ObjChunks::format_faces(const Chunk& chunk, char* out) const
{
    NormalNumberText normal_number(chunk.normal_number);
    uint64_t item = chunk.first;
    for (size_t s = chunk.surface, left = chunk.count; left > 0; ++s, item = 0) {
        const BspSurface& surface = level_.surfaces[s];
        if (item == 0) {
            out = ObjLines::group(out, static_cast<uint32_t>(s), surface.texture_name.line_safe().text());
            --left;
            ++item;
        }
        // Item k of the surface is its triangle k - 1.
        const auto end = static_cast<size_t>(std::min<uint64_t>(surface.triangle_count + uint64_t{1}, item + left));
        const uint16_t* corners = level_.triangle_indices_of(surface).data() + 3 * (item - 1);
        for (; item < end; ++item, corners += 3) {
            if (const uint16_t* ahead = corners_ahead(level_, corners))
                lines_.prefetch_face(ahead);
            out = lines_.face(out, corners, normal_number);
            normal_number.increment();
            --left;
        }
    }
    return out;
}

} // namespace meshwright
