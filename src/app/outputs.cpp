#include "app/outputs.hpp"

#include <optional>

#include "app/textures.hpp"
#include "base/file_names.hpp"
#include "base/messages.hpp"
#include "bsp/level_checks.hpp"
#include "gltf/glb_writer.hpp"
#include "io/commit.hpp"
#include "io/file_system.hpp"
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

TextureReport write_gltf_output(const BspData& level, const fs::path& output, GltfForm form, unsigned threads,
                                const TextureSource* source)
{
    OutputFile gltf(output, messages::unopenable_gltf, messages::unwritable_gltf);
    // Without a source, textures are found where the material file of an
    // OBJ of that name would point: beside the output.
    TextureReport report{source ? path_from_utf8(source->where) : output.parent_path(), {}, {}};
    const auto textures = [&](const std::vector<std::string>& names, const TextureTaker& take) {
        report.names = names;
        if (source)
            make_textures(names, threads, report.outcomes, take, source->make);
        else
            find_textures(report.folder, names, threads, report.outcomes, take);
    };
    write_gltf(level, gltf, form, messages::unwritable_gltf, textures);
    gltf.finish();
    commit_outputs({&gltf});
    return report;
}

std::optional<TextureReport> write_obj_outputs(const BspData& level, const fs::path& output,
                                               const fs::path& level_file, unsigned threads,
                                               const TextureSource* source)
{
    const fs::path material = material_file_name(output);
    // Windows' device names (NUL, CON, ...) name one device in every folder,
    // and there is no "beside" for a device, nor for a stream that a shell
    // handed over (/dev/stderr, /dev/fd/3).
    const bool beside = !file_system::names_reserved_device(output.filename()) && !reached_through_open_file(output);
    if (beside && !level_file.empty() && same_file(material, level_file))
        throw messages::material_replaces_input;
    if (beside && same_file(material, output))
        throw messages::material_replaces_output;
    check_vertex_indices(level);

    OutputFile obj(output, messages::unopenable_obj, messages::unwritable_obj);
    // Nothing is made next to /dev/null or a FIFO either.
    std::optional<OutputFile> mtl;
    if (beside && (obj.regular_destination() || is_device_or_fifo(material)))
        mtl.emplace(material, messages::unopenable_material, messages::unwritable_material);
    // Readers look for the material file in the OBJ's own folder.
    const TextureNames names = write_obj(level, obj, utf8_from_path(final_component(material)), threads);
    obj.finish();
    std::optional<TextureReport> report;
    if (source)
        report.emplace();
    if (mtl) {
        BitmapReference bitmap_of;
        if (source) {
            bitmap_of = [&](const std::string& name) {
                report->names.push_back(name);
                return source->reference(name, material.parent_path(), report->outcomes.emplace_back());
            };
        }
        write_mtl(*mtl, names, bitmap_of);
        mtl->finish();
    }
    commit_outputs({&obj, mtl ? &*mtl : nullptr});
    return report;
}

} // namespace

std::optional<TextureReport> write_outputs(const BspData& level, const fs::path& output, const fs::path& level_file,
                                           unsigned threads, const TextureSource* source)
{
    const bool gltf = names_binary_gltf(output) || names_json_gltf(output);
    // Replacing the level with its own conversion would lose it: a slip of
    // tab completion, or a link, is refused before anything is written.
    if (!level_file.empty() && same_file(output, level_file))
        throw gltf ? messages::unopenable_gltf : messages::unopenable_obj;
    if (!gltf)
        return write_obj_outputs(level, output, level_file, threads, source);
    check_vertex_indices(level);
    return write_gltf_output(level, output, names_binary_gltf(output) ? GltfForm::binary : GltfForm::json, threads,
                             source);
}

} // namespace meshwright
