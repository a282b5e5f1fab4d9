#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "bitmap/bitmap_lookup.hpp"

namespace meshwright {

// The files below `folder` whose names end in `extension` (".bmp", ".bsp")
// in any case, at any depth, as paths relative to it with parts joined by
// '/', in byte order. Links to folders are not followed, so that a loop or a
// link out of the game adds nothing; links to files are listed (whoever
// reads one follows it by the rule for links). A folder that cannot be
// read is passed over.
std::vector<std::string> list_files(const std::filesystem::path& folder, std::string_view extension);

// The bitmaps of a folder tree, as list_files() lists them.
BitmapTree list_bitmaps(const std::filesystem::path& folder);

// A path relative to `folder`, parts joined by '/', as it is read back by
// path_below().
std::filesystem::path path_below(const std::filesystem::path& folder, const std::string& relative);

// How a material file in `folder` names `file`: by its path relative to the
// folder, both with links resolved, parts joined by '/'; by its absolute
// path where there is no relative one (another drive).
std::string reference_from(const std::filesystem::path& folder, const std::filesystem::path& file);

} // namespace meshwright
