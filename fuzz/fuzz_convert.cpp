// Runs the whole program on arbitrary bytes as its input file, writing the
// OBJ and material files into a private folder. Every input must end with
// status 0 or 1: never a crash, a hang, a leak or a read out of bounds.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/run.hpp"
#include "app/verbose.hpp"

namespace {

std::string folder;

void remove_folder()
{
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char pattern[] = "/tmp/meshwright-fuzz-XXXXXX";
    if (!mkdtemp(pattern) || !std::freopen("/dev/null", "w", stdout))
        return 1;
    folder = pattern;
    // libFuzzer ends the process with exit(), which runs this.
    std::atexit(remove_folder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input = folder + "/in.bsp";
    const std::string output = folder + "/out.obj";
    FILE* file = std::fopen(input.c_str(), "wb");
    if (!file)
        std::abort();
    if (size > 0)
        std::fwrite(data, 1, size, file);
    std::fclose(file);

    meshwright::verbose = false;
    std::string arguments[] = {"meshwright", "-v", input, output};
    char* argv[] = {arguments[0].data(), arguments[1].data(), arguments[2].data(), arguments[3].data()};
    const int status = meshwright::run(4, argv);
    if (status != 0 && status != 1)
        std::abort();
    return 0;
}
