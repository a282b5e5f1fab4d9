// Feeds arbitrary bytes to the level reader. Every input must end in a
// level or a message text: never a crash, a hang or a read out of bounds.
#include <cstdint>
#include <cstdio>

#include "app/verbose.hpp"
#include "bsp/bsp_reader.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The report and closing line are not what is tested here.
    if (!std::freopen("/dev/null", "w", stdout))
        return 1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The magic is never checked, so its first byte may choose the report.
    verbose = data[0] & 1;
    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!file)
        return 0;
    try {
        BspData level = load_bsp(file);
    } catch (const char*) {
    }
    std::fclose(file);
    return 0;
}
