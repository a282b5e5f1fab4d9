// Feeds arbitrary bytes to the level reader. Every input must end in a
// level or a message text: never a crash, a hang or a read out of bounds.
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "bsp/bsp_reader.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The magic is never checked, so its first byte may choose the report.
    const bool verbose = data[0] & 1;
    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!file)
        return 0;
    try {
        // The report's text is not what is tested here, only that making it is safe.
        meshwright::BspData level = meshwright::load_bsp(file, verbose, [](std::string_view) {});
    } catch (const char*) {
    }
    std::fclose(file);
    return 0;
}
