#include "obj/obj_writer.hpp"

#include <algorithm>
#include <thread>

#include "base/messages.hpp"
#include "obj/mtl_writer.hpp"
#include "obj/obj_chunks.hpp"
#include "obj/ordered_writer.hpp"
#include "obj/output_file.hpp"
#include "obj/replaced_file.hpp"

namespace meshwright {

namespace {

// Levels with fewer lines than this are written on one thread: starting
// others would cost more than it saves.
constexpr uint64_t small_level_lines = 16384;

// The buffers in flight share about this much memory.
constexpr size_t buffer_budget_bytes = size_t{8} << 20;
constexpr size_t min_buffer_bytes = size_t{256} << 10;
constexpr size_t max_buffer_bytes = size_t{2} << 20;

// Every corner must name a stored vertex; checked before any file is touched
// so that a bad level leaves nothing behind.
void check_vertex_indices(const BspData& level)
{
    for (const BspSurface& surface : level.surfaces) {
        for (uint16_t index : level.triangle_indices_of(surface)) {
            if (index >= level.vertices.size())
                throw messages::vertex_index_out_of_range;
        }
    }
}

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

void write_obj(BspData level, const std::string& output_path, unsigned threads)
{
    const std::string material_path = material_file_name(output_path);
    if (same_file(material_path, output_path))
        throw messages::material_replaces_output;
    check_vertex_indices(level);

    const unsigned workers = worker_count(level, threads);
    const size_t buffer_bytes = buffer_bytes_for(workers);
    const ObjChunks chunks(level, buffer_bytes);
    OutputFile file(output_path, messages::unopenable_obj, messages::unwritable_obj);
    file.write("# This is a converted version of a Dravic .BSP file!\n\nmtllib ");
    // Readers look for the material file in the OBJ's own folder.
    file.write(final_component(material_path));
    file.write("\n\n");
    write_in_order(
        chunks.count(), buffer_bytes, workers, [&](size_t index, char* out) { return chunks.format(index, out); },
        [&](const char* data, size_t size) {
            file.write({data, size});
        });
    // Runs writing the same output put their files in place one pair at a
    // time, so an OBJ never ends up beside another run's material file.
    const FolderLock lock(output_path);
    file.close();
    write_mtl(material_path, chunks.texture_names());
}

} // namespace meshwright
