#include "obj/obj_writer.hpp"

#include <algorithm>
#include <thread>

#include "obj/obj_chunks.hpp"
#include "obj/ordered_writer.hpp"

namespace meshwright {

namespace {

// Levels with fewer lines than this are written on one thread: starting
// others would cost more than it saves.
constexpr uint64_t small_level_lines = 16384;

// The buffers in flight share about this much memory.
constexpr size_t buffer_budget_bytes = size_t{8} << 20;
constexpr size_t min_buffer_bytes = size_t{256} << 10;
constexpr size_t max_buffer_bytes = size_t{2} << 20;

uint64_t line_count(const BspData& level)
{
    uint64_t lines = level.vertices.size() + level.tex_coords.size() + 3 * uint64_t{level.surfaces.size()};
    for (const BspSurface& surface : level.surfaces)
        lines += 2 * uint64_t{surface.triangle_count};
    return lines;
}

unsigned worker_count(const BspData& level, unsigned threads)
{
    if (threads > 0)
        return threads;
    if (line_count(level) < small_level_lines)
        return 1;
    return std::max(1u, std::thread::hardware_concurrency());
}

size_t buffer_bytes_for(unsigned workers)
{
    return std::clamp(buffer_budget_bytes / (2 * size_t{workers} + 2), min_buffer_bytes, max_buffer_bytes);
}

} // namespace

TextureNames write_obj(const BspData& level, OutputFile& file, std::string_view material_file, unsigned threads)
{
    const unsigned workers = worker_count(level, threads);
    const size_t buffer_bytes = buffer_bytes_for(workers);
    const ObjChunks chunks(level, buffer_bytes);
    file.write("# This is a converted version of a Dravic .BSP file!\n\nmtllib ");
    file.write(material_file);
    file.write("\n\n");
    write_in_order(
        chunks.count(), buffer_bytes, workers, [&](size_t index, char* out) { return chunks.format(index, out); },
        [&](const char* data, size_t size) {
            file.write({data, size});
        });
    return chunks.texture_names();
}

} // namespace meshwright
