#pragma once

// What the tests of safe output share: levels of useful sizes, the files a
// clean run makes of them, and looks at a folder while a run works in it.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "temp_dir.hpp"

namespace meshwright {

using Files = std::map<std::string, std::string>;

inline constexpr std::string_view temporary_marker = ".meshwright-tmp-";

std::string text_of(const std::vector<uint8_t>& bytes);
void put_files(const TempDir& dir, const Files& files);

// The OBJ and material file that a clean run makes of `level` as out.obj.
struct Converted {
    std::string obj;
    std::string mtl;
    std::string closing_line;
};
Converted converted(const std::string& level);

// One triangle with the texture `texture`.
std::string one_triangle_level(const std::string& texture);

// 200 surfaces, each with its own 31-byte texture name and no triangles:
// an OBJ of about 11 kB and a material file of about 17 kB.
std::string many_textures_level();

// About 25 MB of OBJ text: long enough to interrupt while it is written;
// `materials` surfaces more, without triangles, make a material file of
// about 80 bytes each.
std::string large_level(const std::string& texture, int seed, int materials = 0);

// An OBJ file without its head, which names its material file.
std::string geometry_of(const std::string& obj);

bool is_temporary(const std::string& name);
bool has_temporary_file(const Files& files);

// The temporary files in a folder.
std::vector<std::filesystem::path> temporary_files(const std::filesystem::path& folder);

// Waits until the run has a temporary file, or gives up after a while (the
// run may have finished before one was seen).
void wait_for_temporary_file(const TempDir& dir);

std::filesystem::perms permissions(const std::string& path);

// Runs that must meet permissions run as this user when the tests run as
// root, who may write anything.
inline constexpr unsigned other_user = 65534;
bool running_as_root();

// Reads everything that arrives at a FIFO until the writer closes it.
// Reads everything that arrives at a FIFO until the writer closes it; a
// slow reader opens it at once but reads only after `pause`.
class FifoReader {
  public:
    explicit FifoReader(const std::string& path, std::chrono::milliseconds pause = {})
        : thread_([this, path, pause] {
              std::ifstream in(path, std::ios::binary);
              std::this_thread::sleep_for(pause);
              std::ostringstream all;
              all << in.rdbuf();
              text_ = all.str();
          })
    {
    }
    std::string text()
    {
        thread_.join();
        return text_;
    }

  private:
    std::string text_;
    std::thread thread_;
};

} // namespace meshwright
