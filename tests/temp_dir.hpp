#pragma once

#include <filesystem>
#include <string>

namespace meshwright {

// A fresh directory that is removed with everything in it when the test ends.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string path(const std::string& name) const { return (root_ / name).string(); }
    const std::filesystem::path& root() const { return root_; }

  private:
    std::filesystem::path root_;
};

// The whole content of a file, or throws std::runtime_error.
std::string read_file(const std::string& path);

} // namespace meshwright
