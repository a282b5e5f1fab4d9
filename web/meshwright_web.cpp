// The converter as WebAssembly: the page hands a level to the very same
// driver, reader and writers as the command line, on emscripten's in-memory
// file system, and reads back what they printed and wrote.
#include <emscripten/emscripten.h>

#include "app/run.hpp"

// Converts the level at `input_path` to `output_path` (and its material file
// beside it) as "meshwright -v INPUT OUTPUT" does, and returns the exit status.
extern "C" EMSCRIPTEN_KEEPALIVE int convert_level(const char* input_path, const char* output_path)
{
    const char* arguments[] = {"meshwright", "-v", input_path, output_path, nullptr};
    return meshwright::run(4, const_cast<char**>(arguments));
}
