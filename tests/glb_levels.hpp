#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace meshwright {

// Levels that try what the binary glTF output must get right, each with a
// name: a large generated level (with 32-bit indices), an empty level,
// surfaces without triangles, faces whose corners have no texture
// coordinate, names with control bytes and bytes that are not UTF-8,
// numbers that are not finite, a model without surfaces. The validator and
// the interop tests read the files converted from them, and the sample.
struct NamedLevel {
    std::string name;
    std::vector<uint8_t> bytes;
};

std::vector<NamedLevel> glb_test_levels();

} // namespace meshwright
