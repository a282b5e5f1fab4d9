#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "gltf/gltf_geometry.hpp"
#include "io/output_file.hpp"

namespace meshwright {

// The embedded images, set aside until the JSON that gives their sizes is
// written, then copied into the file: in a scratch file beside a file that
// is staged, so that memory does not grow with them; in memory where the
// file is written in place (a device or FIFO), which has no folder of its
// own to hold one.
class ImageStore {
  public:
    ImageStore(OutputFile& file, const char* failure) : file_(file), failure_(failure) {}

    void add(std::vector<uint8_t> png);
    size_t count() const { return sizes_.size(); }
    // Hands the image's bytes to `sink`, and forgets those held in memory.
    void copy(size_t image, const ByteSink& sink);

  private:
    OutputFile& file_;
    const char* failure_;
    std::optional<ScratchFile> scratch_;
    std::vector<std::vector<uint8_t>> memory_;
    std::vector<uint64_t> offsets_;
    std::vector<uint64_t> sizes_;
};

} // namespace meshwright
