#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace meshwright {

enum class BatchFormat { glb, gltf, obj };

// What meshwright-batch is asked to do.
struct BatchOptions {
    bool help = false;
    bool version = false;
    std::filesystem::path output;                       // the folder the outputs go to
    std::vector<std::filesystem::path> texture_folders; // -t, in the order given
    BatchFormat format = BatchFormat::glb;
    unsigned jobs = 0; // 0: one per processor
    std::vector<std::filesystem::path> inputs;          // levels and folders
};

// Two levels for each pending file that an interrupt removes: an OBJ and its
// material file each.
inline constexpr unsigned max_jobs = 32;

// Reads the command line into `options`; returns what is wrong with it, if
// anything. Options may come anywhere; "--" ends them.
std::optional<std::string> scan_batch_options(int argc, char** argv, BatchOptions& options);

// The usage text, one line per element.
std::vector<std::string> batch_usage();

// The outputs' extension for a format, with its dot.
const char* output_extension(BatchFormat format);

} // namespace meshwright
