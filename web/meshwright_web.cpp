// The converter as WebAssembly: the page hands a level to the very same
// driver, reader and writers as the command line, on emscripten's in-memory
// file system, and reads back what they printed and wrote.
#include <emscripten/emscripten.h>

#include "app/run.hpp"

// Converts the level at `input_path` to `output_path` (an OBJ file and its
// material file beside it, or a binary glTF file) as "meshwright [-v] INPUT
// OUTPUT" does, and returns the exit status.
extern "C" EMSCRIPTEN_KEEPALIVE int convert_level(const char* input_path, const char* output_path, int verbose)
{
    const char* with_report[] = {"meshwright", "-v", input_path, output_path, nullptr};
    const char* without_report[] = {"meshwright", input_path, output_path, nullptr};
    return verbose ? meshwright::run(4, const_cast<char**>(with_report))
                   : meshwright::run(3, const_cast<char**>(without_report));
}
