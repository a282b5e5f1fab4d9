#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bsp/bsp_data.hpp"

namespace meshwright {

// How a test hands level bytes to the reader.
enum class StreamKind { regular_file, memory, pipe };

struct LoadResult {
    std::optional<BspData> level; // set when the reader accepted the file
    std::string error;            // the message text it threw otherwise
    std::string console;          // everything it printed
};

// Runs the reader over `bytes`, describing the level when `verbose_on`, and
// collects every line it prints.
LoadResult load_level(const std::vector<uint8_t>& bytes, bool verbose_on, StreamKind kind = StreamKind::regular_file);

} // namespace meshwright
