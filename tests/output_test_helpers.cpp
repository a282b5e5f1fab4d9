#include "output_test_helpers.hpp"

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "level_builder.hpp"
#include "program_runner.hpp"

namespace meshwright {

namespace fs = std::filesystem;

std::string text_of(const std::vector<uint8_t>& bytes)
{
    return {bytes.begin(), bytes.end()};
}

void put_files(const TempDir& dir, const Files& files)
{
    for (const auto& [name, content] : files)
        write_file(dir.path(name), std::vector<uint8_t>(content.begin(), content.end()));
}

Converted converted(const std::string& level)
{
    TempDir dir;
    put_files(dir, {{"in.bsp", level}});
    const Outcome outcome = run_in(dir, {"meshwright", "in.bsp", "out.obj"});
    if (outcome.status != 0)
        throw std::runtime_error("reference conversion failed: " + outcome.out);
    return {outcome.files.at("out.obj"), outcome.files.at("out.mtl"), outcome.out};
}

std::string one_triangle_level(const std::string& texture)
{
    LevelPlan plan;
    plan.models = {"m"};
    plan.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 1}};
    add_surface(plan, 0, texture, {{0, 1, 2}});
    return text_of(build_level(plan));
}

std::string many_textures_level()
{
    LevelPlan plan;
    plan.models = {"m"};
    for (int i = 0; i < 200; ++i) {
        std::string name = "textures/walls/long_name_" + std::to_string(100000 + i);
        add_surface(plan, 0, name, {});
    }
    return text_of(build_level(plan));
}

std::string large_level(const std::string& texture, int seed, int materials)
{
    LevelPlan plan;
    plan.models = {"m"};
    for (int i = 0; i < 65536; ++i) {
        const float f = static_cast<float>(i * seed);
        plan.vertices.push_back({f * 0.25f, -f, f + 0.5f});
        plan.tex_coords.push_back({f / 7, f / 3});
    }
    for (int s = 0; s < 300; ++s) {
        std::vector<std::array<uint16_t, 3>> triangles;
        for (int t = 0; t < 1000; ++t) {
            const auto v = static_cast<uint16_t>((s * 1000 + t) % 65520);
            triangles.push_back({v, static_cast<uint16_t>(v + 1), static_cast<uint16_t>(v + 7)});
        }
        add_surface(plan, 0, texture + std::to_string(s % 3), triangles);
    }
    for (int m = 0; m < materials; ++m)
        add_surface(plan, 0, "textures/walls/long_name_" + std::to_string(1000000 + m), {});
    return text_of(build_level(plan));
}

std::string geometry_of(const std::string& obj)
{
    return obj.substr(obj.find("\n\nv "));
}

bool is_temporary(const std::string& name)
{
    return name.find(temporary_marker) != std::string::npos;
}

bool has_temporary_file(const Files& files)
{
    return std::any_of(files.begin(), files.end(), [](const auto& file) { return is_temporary(file.first); });
}

std::vector<fs::path> temporary_files(const fs::path& folder)
{
    std::vector<fs::path> found;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        if (is_temporary(entry->path().filename().string()))
            found.push_back(entry->path());
    }
    return found;
}

void wait_for_temporary_file(const TempDir& dir)
{
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < give_up && temporary_files(dir.root()).empty())
        std::this_thread::sleep_for(std::chrono::microseconds(100));
}

fs::perms permissions(const std::string& path)
{
    return fs::status(path).permissions();
}

bool running_as_root()
{
#if defined(_WIN32)
    return false;
#else
    return geteuid() == 0;
#endif
}

} // namespace meshwright
