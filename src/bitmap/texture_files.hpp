#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

namespace meshwright {

// Whether a texture name stays inside the output's folder as a file name:
// parts split on '/' and '\', none of them empty, "." or "..", no ':' and
// no leading separator. A level's names never make the converter read
// elsewhere.
bool names_texture_inside(std::string_view name);

// What became of a texture: embedded, no file found for it, or a file found
// that is no bitmap the converter reads.
enum class TextureOutcome { embedded, not_found, unreadable };

struct TextureFile {
    TextureOutcome outcome = TextureOutcome::not_found;
    std::vector<uint8_t> bytes; // the bitmap's, where it was read
};

// Reads the bitmap file at `path` (found there already), following links as
// for outputs: in a sticky folder everyone may write, only the caller's or
// the folder owner's. Only a regular file is read, opened so that a FIFO or
// device never blocks, and only as far as its header says it needs:
// anything else found there, a file cut short or no bitmap at all, is
// unreadable.
TextureFile read_texture_file(const std::filesystem::path& path);

// Finds and reads the bitmaps that the material file names beside an output
// in one folder, for one run, from any number of threads at once.
class TextureFolder {
  public:
    explicit TextureFolder(std::filesystem::path folder) : folder_(std::move(folder)) {}

    // The bitmap for the texture `name` (as the material file's line gives
    // it): "<folder>/<name>.bmp", where each folder part and the file name
    // that is not there by its exact name may be the one entry of its
    // folder that differs only in the case of ASCII letters (levels made on
    // Windows). A name that is not UTF-8 is looked up by its bytes where
    // the system's names are bytes, and is not found elsewhere. The file
    // found is read as by read_texture_file().
    TextureFile read(std::string_view name);

    // About the most memory that making the texture of `name` holds at
    // once, from its bitmap's size and header: its file, its pixels as
    // decoded and its PNG image. 0 for a name without a bitmap.
    uint64_t memory(std::string_view name);

  private:
    std::optional<std::filesystem::path> find(std::string_view name);
    std::optional<std::filesystem::path> entry_but_for_case(const std::filesystem::path& folder,
                                                            const std::string& name);

    std::filesystem::path folder_;
    std::mutex mutex_;
    // Each folder's entries listed once, by their names in lower ASCII
    // case: the one entry of that name, or nothing for two or more.
    std::map<std::filesystem::path, std::map<std::string, std::optional<std::filesystem::path>>> listings_;
};

} // namespace meshwright
