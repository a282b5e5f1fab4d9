#include "temp_dir.hpp"

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <stdlib.h>

namespace meshwright {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "meshwright-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary directory");
    root_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

} // namespace meshwright
