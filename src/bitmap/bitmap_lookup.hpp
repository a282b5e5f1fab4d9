#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace meshwright {

// A texture name's parts, split on '/' and '\'.
std::vector<std::string> texture_name_parts(std::string_view name);

// The text with ASCII letters in lower case, other bytes as they are.
std::string lower_ascii(std::string text);

// A folder tree where a game keeps bitmaps, listed once: the paths of its
// files relative to it, parts joined by '/', each name's bytes as the
// system gives them.
struct BitmapTree {
    std::vector<std::string> files;
};

// The bitmap chosen for a texture: a file of one of the trees, and the
// other files of that tree it was chosen over, for a warning.
struct BitmapFound {
    size_t tree = 0;
    std::string path;
    std::vector<std::string> others;
};

// Finds the bitmaps of texture names in listed folder trees, by the names
// alone: no call to the file system, so that every program (and the page,
// in WebAssembly) chooses the same file from the same listings.
class BitmapLookup {
  public:
    explicit BitmapLookup(std::vector<BitmapTree> trees);

    // The bitmap "<name>.bmp" for the texture `name`, searched in the trees
    // in their order. In a tree, a file matches whose last parts are the
    // name's parts, at any depth ("textures/set_0" matches
    // "maps/textures/set_0.bmp", not "mytextures/set_0.bmp"): those that
    // match byte for byte first, else those that match but for the case of
    // ASCII letters (levels made on Windows); among several, the one of
    // fewest parts, then the least in byte order. Nothing for a name that
    // could leave a folder (see names_texture_inside) or that no tree holds.
    std::optional<BitmapFound> find(std::string_view name) const;

  private:
    std::vector<BitmapTree> trees_;
    // The trees' files by their last part in lower ASCII case: (tree, file).
    std::unordered_map<std::string, std::vector<std::pair<uint32_t, uint32_t>>> by_file_name_;
};

} // namespace meshwright
