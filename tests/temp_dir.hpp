#pragma once

#include <filesystem>
#include <string>

namespace meshwright {

// A UTF-8 file name as a path, on every system.
inline std::filesystem::path u8path(const std::string& name)
{
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

// A path as UTF-8, on every system.
inline std::string u8name(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// A fresh directory that is removed with everything in it when the test ends.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The UTF-8 path of `name` inside the directory.
    std::string path(const std::string& name) const { return u8name(root_ / u8path(name)); }
    const std::filesystem::path& root() const { return root_; }

  private:
    std::filesystem::path root_;
};

// The whole content of a file named in UTF-8, or throws std::runtime_error.
std::string read_file(const std::string& path);

} // namespace meshwright
