// The converter as WebAssembly: the page hands a level to the very same
// driver, reader and writers as the command line, on emscripten's in-memory
// file system, and reads back what they printed and wrote.
#include <emscripten/emscripten.h>

#include <optional>
#include <string>

#include "app/run.hpp"
#include "gltf/json_text.hpp"

namespace {

// What the last glTF run did with each texture.
std::optional<meshwright::TextureReport> last_textures;

} // namespace

// Converts the level at `input_path` to `output_path` (an OBJ file and its
// material file beside it, or a binary glTF file) as "meshwright [-v] INPUT
// OUTPUT" does, and returns the exit status.
extern "C" EMSCRIPTEN_KEEPALIVE int convert_level(const char* input_path, const char* output_path, int verbose)
{
    const char* with_report[] = {"meshwright", "-v", input_path, output_path, nullptr};
    const char* without_report[] = {"meshwright", input_path, output_path, nullptr};
    last_textures.reset();
    return verbose ? meshwright::run(4, const_cast<char**>(with_report), &last_textures)
                   : meshwright::run(3, const_cast<char**>(without_report), &last_textures);
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
