#include "app/outputs.hpp"

#include <optional>

#include "base/file_names.hpp"
#include "base/messages.hpp"
#include "io/commit.hpp"
#include "io/links.hpp"
#include "obj/mtl_writer.hpp"
#include "obj/obj_writer.hpp"

namespace meshwright {

namespace fs = std::filesystem;

namespace {

bool is_device_or_fifo(const fs::path& path)
{
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    return fs::is_character_file(status) || fs::is_block_file(status) || fs::is_fifo(status);
}

} // namespace

void write_outputs(const BspData& level, const fs::path& output, const fs::path& level_file, unsigned threads)
{
    const fs::path material = material_file_name(output);
    if (!level_file.empty() && same_file(material, level_file))
        throw messages::material_replaces_input;
    if (same_file(material, output))
        throw messages::material_replaces_output;
    check_vertex_indices(level);

    OutputFile obj(output, messages::unopenable_obj, messages::unwritable_obj, level_file);
    // There is no "beside" for a device: nothing is made next to /dev/null.
    std::optional<OutputFile> mtl;
    if (obj.regular_destination() || is_device_or_fifo(material))
        mtl.emplace(material, messages::unopenable_material, messages::unwritable_material, level_file);
    // Readers look for the material file in the OBJ's own folder.
    const TextureNames names = write_obj(level, obj, utf8_from_path(final_component(material)), threads);
    obj.finish();
    if (mtl) {
        write_mtl(*mtl, names);
        mtl->finish();
    }
    commit_outputs({&obj, mtl ? &*mtl : nullptr});
}

} // namespace meshwright
