#include "temp_dir.hpp"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace meshwright {

TempDir::TempDir()
{
    static std::mt19937_64 random(std::random_device{}());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto candidate =
            std::filesystem::temp_directory_path() / ("meshwright-test-" + std::to_string(random() % 1000000000000));
        // create_directory makes a new directory only: false when the name was taken.
        if (std::filesystem::create_directory(candidate)) {
            root_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

std::string read_file(const std::string& path)
{
    std::ifstream in(u8path(path), std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

} // namespace meshwright
