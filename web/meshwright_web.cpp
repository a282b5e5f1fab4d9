// The converter as WebAssembly: the page hands a level to the very same
// driver, reader and writers as the command line, on emscripten's in-memory
// file system, and reads back what they printed and wrote. Its bitmaps are
// those that meshwright-batch would take for the same files: the page lists
// the files chosen, the lookup chooses among them, and the page reads only
// those chosen.
#include <emscripten/emscripten.h>

#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/run.hpp"
#include "app/verbose.hpp"
#include "base/file_names.hpp"
#include "bitmap/bitmap_lookup.hpp"
#include "bitmap/texture_files.hpp"
#include "bsp/bsp_reader.hpp"
#include "gltf/gltf_scene.hpp"
#include "gltf/json_text.hpp"

namespace {

// What the last glTF run did with each texture.
std::optional<meshwright::TextureReport> last_textures;

// The file chosen for each texture name of the level last planned, where
// the page puts it: "/bitmaps/<tree>/<path>".
std::map<std::string, std::string> planned_files;

// The trees of a listing: each tree's paths a line each, each tree ended by
// an empty line.
std::vector<meshwright::BitmapTree> trees_of(const std::string& listing)
{
    std::vector<meshwright::BitmapTree> trees;
    meshwright::BitmapTree tree;
    for (size_t begin = 0; begin < listing.size();) {
        const size_t end = std::min(listing.find('\n', begin), listing.size());
        if (end == begin)
            trees.push_back(std::exchange(tree, {}));
        else
            tree.files.push_back(listing.substr(begin, end - begin));
        begin = end + 1;
    }
    return trees;
}

std::string file_text(const char* path)
{
    std::string text;
    if (FILE* file = std::fopen(path, "rb")) {
        char buffer[1 << 16];
        for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
            text.append(buffer, got);
        std::fclose(file);
    }
    return text;
}

} // namespace

// Chooses the bitmaps of the level at `level_path` among the trees listed in
// the file at `listing_path` (the level's own folder first, then the folders
// chosen, in meshwright-batch's order), by BitmapLookup's rule, and returns
// a line for each texture name: the tree's number, a tab and the path of
// the file chosen, or nothing for a name without one; empty for a level the
// reader rejects, which the conversion then reports. The conversions that
// follow take each name's bitmap from "/bitmaps/<tree>/<path>".
extern "C" EMSCRIPTEN_KEEPALIVE const char* plan_textures(const char* level_path, const char* listing_path)
{
    static std::string lines;
    lines.clear();
    planned_files.clear();
    std::unique_ptr<FILE, meshwright::FileCloser> level_file(std::fopen(level_path, "rb"));
    if (!level_file)
        return lines.c_str();
    std::optional<meshwright::BspData> level;
    try {
        level = meshwright::load_bsp(level_file.get(), false, [](std::string_view) {});
    } catch (...) {
        return lines.c_str(); // the conversion tells why
    }
    const meshwright::BitmapLookup lookup(trees_of(file_text(listing_path)));
    const meshwright::GltfScene scene(*level);
    for (const std::string& name : scene.texture_names()) {
        const std::optional<meshwright::BitmapFound> found = lookup.find(name);
        if (found) {
            lines += std::to_string(found->tree) + '\t' + found->path;
            planned_files[name] = "/bitmaps/" + std::to_string(found->tree) + '/' + found->path;
        }
        lines += '\n';
    }
    return lines.c_str();
}

// Converts the level at `input_path` to `output_path` (an OBJ file and its
// material file beside it, or a binary glTF file) as "meshwright [-v] INPUT
// OUTPUT" does, and returns the exit status. With `planned`, a glTF file's
// textures are the bitmaps that plan_textures() chose.
extern "C" EMSCRIPTEN_KEEPALIVE int convert_level(const char* input_path, const char* output_path, int verbose,
                                                  int planned)
{
    const char* with_report[] = {"meshwright", "-v", input_path, output_path, nullptr};
    const char* without_report[] = {"meshwright", input_path, output_path, nullptr};
    meshwright::TextureSource source;
    // The report reads as the command line's for the same files side by
    // side; the page's own words say where each bitmap was taken from.
    source.where = ".";
    source.make = [](const std::string& name, meshwright::TextureOutcome& outcome) {
        const auto file = planned_files.find(name);
        outcome = meshwright::TextureOutcome::not_found;
        return file == planned_files.end()
                   ? std::nullopt
                   : meshwright::texture_of(meshwright::read_texture_file(file->second), outcome);
    };
    last_textures.reset();
    // One instance serves all of a level's runs: its OBJ after its report
    // is made without one.
    meshwright::verbose = false;
    return verbose ? meshwright::run(4, const_cast<char**>(with_report), &last_textures, planned ? &source : nullptr)
                   : meshwright::run(3, const_cast<char**>(without_report), &last_textures, planned ? &source : nullptr);
}

// What the last glTF conversion did with each of its textures, a line each:
// "embedded", "not_found" or "unreadable", a tab, and the texture's name as
// it reads (UTF-8, control bytes as '_'); empty after any other run.
extern "C" EMSCRIPTEN_KEEPALIVE const char* texture_outcomes()
{
    static std::string lines;
    lines.clear();
    if (!last_textures)
        return lines.c_str();
    for (size_t i = 0; i < last_textures->names.size(); ++i) {
        using enum meshwright::TextureOutcome;
        const meshwright::TextureOutcome outcome = last_textures->outcomes[i];
        lines += outcome == embedded ? "embedded" : outcome == not_found ? "not_found" : "unreadable";
        lines += '\t';
        lines += meshwright::readable_name(last_textures->names[i]);
        lines += '\n';
    }
    return lines.c_str();
}
