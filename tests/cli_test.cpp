// Runs the built meshwright executable as its own process in a fresh
// directory and checks everything it prints and leaves behind.
#include <array>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/messages.hpp"
#include "bitmap_builder.hpp"
#include "level_builder.hpp"
#include "program_runner.hpp"
#include "temp_dir.hpp"

namespace meshwright {

namespace {

namespace fs = std::filesystem;

Outcome run_with(const std::map<std::string, std::string>& files, const std::vector<std::string>& args)
{
    TempDir dir;
    for (const auto& [name, content] : files)
        write_file(dir.path(name), std::vector<uint8_t>(content.begin(), content.end()));
    std::vector<std::string> argv = {"meshwright"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_in(dir, argv);
}

std::string bytes_text(const std::vector<uint8_t>& bytes)
{
    return {bytes.begin(), bytes.end()};
}

// One triangle named "wall" over three vertices with texture coordinates.
const std::string level = [] {
    LevelPlan plan;
    plan.models = {"m"};
    plan.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 1}};
    plan.tex_coords = {{0, 0}, {1, 0}, {0, 1}};
    add_surface(plan, 0, "wall", {{0, 1, 2}});
    return bytes_text(build_level(plan));
}();

std::string expected_obj(const std::string& material_path)
{
    return "# This is a converted version of a Dravic .BSP file!\n\n"
           "mtllib " +
           material_path +
           "\n\n"
           "v 0.000000 0.000000 0.000000\nv 0.000000 0.000000 1.000000\nv 1.000000 1.000000 0.000000\n\n"
           "vt 0.000000 -0.000000\nvt 1.000000 -0.000000\nvt 0.000000 -1.000000\n\n"
           "vn 0.707107 -0.707107 0.000000\n\n"
           "\ng surface0\nusemtl wall\nf 3/3/1 2/2/1 1/1/1\n";
}

const std::string expected_mtl = "newmtl wall\nmap_Kd wall.bmp\n\n";
const std::string closing_line = "final position: " + std::to_string(level.size()) + " counter: \n";
const std::string report = "BSP info:\n\tVersion: 1.0\n\tNum Models: 1\n\tNum vertices: 3\n\tNum indices: 0\n"
                           "\tModels:\n\t\tm's surfaces:\n\t\t\twall\nnum triangles: 1 num indices: 3\n";

Outcome converted(const std::string& stdout_text, const std::string& obj_name, const std::string& mtl_name)
{
    return {stdout_text, "", 0, {{"in.bsp", level}, {obj_name, expected_obj(mtl_name)}, {mtl_name, expected_mtl}}};
}

const std::string usage_tail = " filename [output filename]\nwhere 'filename' is a valid Dravic BSP file\n\n";

TEST(CommandLine, WithoutArgumentsPrintsBannerAndUsage)
{
    TempDir dir;
    const std::string banner = "Meshwright v0.1 built Mar 11 2007\nUsage: \n\t";
    EXPECT_EQ(run_in(dir, {"./bin/mw"}), (Outcome{banner + "./bin/mw" + usage_tail, "", 0, {}}));
#if !defined(_WIN32)
    // Windows always gives a program its name.
    EXPECT_EQ(run_in(dir, {}), (Outcome{banner + usage_tail, "", 0, {}}));
#endif
}

// What most users type first; a file that really has that name is still
// converted.
TEST(CommandLine, HelpSwitchesPrintTheUsageUnlessSuchAFileExists)
{
    const std::string usage = "Meshwright v0.1 built Mar 11 2007\nUsage: \n\tmeshwright" + usage_tail;
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--help"}, {"-h"}, {"-v", "-h"}, {"in.bsp", "--help"}}) {
        SCOPED_TRACE(args.front());
        EXPECT_EQ(run_with({{"in.bsp", level}}, args), (Outcome{usage, "", 0, {{"in.bsp", level}}}));
    }
    EXPECT_EQ(run_with({{"--help", level}}, {"--help"}),
              (Outcome{closing_line, "", 0, {{"--help", level}, {"default.obj", expected_obj("default.mtl")},
                                             {"default.mtl", expected_mtl}}}));
}

TEST(CommandLine, NeedsAnInputPath)
{
    const Outcome missing{message_line(messages::missing_input), "", 1, {}};
    EXPECT_EQ(run_with({}, {"-v"}), missing);
    EXPECT_EQ(run_with({}, {"-v", "-v"}), missing);
}

TEST(CommandLine, ReportsInputsItCannotOpen)
{
    const Outcome unopenable{message_line(messages::unopenable_input), "", 1, {}};
    for (const char* input : {"missing.bsp", "", "-V", "--v", "-vv", "-"}) {
        SCOPED_TRACE(input);
        EXPECT_EQ(run_with({}, {input, "out.obj"}), unopenable);
    }
    TempDir dir;
    fs::create_directory(dir.path("maps"));
    Outcome directory = run_in(dir, {"meshwright", "maps", "out.obj"});
#if defined(_WIN32)
    // Windows does not open a folder as a file at all.
    const std::string folder_message = message_line(messages::unopenable_input);
#else
    const std::string folder_message = exception_line(messages::unreadable_input);
#endif
    EXPECT_EQ(directory, (Outcome{folder_message, "", 1, {{"maps", "<directory>"}}}));
}

TEST(CommandLine, ConvertsQuietlyToTheNamedOutput)
{
    EXPECT_EQ(run_with({{"in.bsp", level}}, {"in.bsp", "out.obj"}), converted(closing_line, "out.obj", "out.mtl"));
    EXPECT_EQ(run_with({{"in.bsp", level}}, {"in.bsp"}), converted(closing_line, "default.obj", "default.mtl"));
}

TEST(CommandLine, VerboseSwitchCountsAnywhere)
{
    const Outcome expected = converted(report + closing_line, "out.obj", "out.mtl");
    const std::vector<std::vector<std::string>> placements = {
        {"-v", "in.bsp", "out.obj"},
        {"in.bsp", "-v", "out.obj"},
        {"in.bsp", "out.obj", "-v"},
        {"-v", "in.bsp", "-v", "out.obj"},
    };
    for (const auto& args : placements)
        EXPECT_EQ(run_with({{"in.bsp", level}}, args), expected) << args[0] << " " << args[1] << " " << args[2];
}

TEST(CommandLine, LookalikeSwitchesArePaths)
{
    for (const char* output : {"-V", "--v", "-vv", "-"}) {
        SCOPED_TRACE(output);
        const std::string material = std::string(output) + ".mtl";
        EXPECT_EQ(run_with({{"in.bsp", level}}, {"in.bsp", output}), converted(closing_line, output, material));
    }
}

TEST(CommandLine, LastOfSeveralPathsIsTheOutput)
{
    EXPECT_EQ(run_with({{"in.bsp", level}}, {"in.bsp", "a.obj", "b.obj", "c.obj"}),
              converted(closing_line, "c.obj", "c.mtl"));
    // An empty output path cannot be opened; the level was read completely first.
    EXPECT_EQ(run_with({{"in.bsp", level}}, {"in.bsp", "a.obj", ""}),
              (Outcome{closing_line + exception_line(messages::unopenable_obj), "", 1, {{"in.bsp", level}}}));
}

TEST(CommandLine, FileNamesMayHoldAnyCharacter)
{
    // Outside any one code page: Latin, Chinese and an emoji, for the level
    // and the output; the material file and its "mtllib" line follow.
    const std::string input = "niveau-\xC3\xA9-\xE5\x85\xB3\xE5\x8D\xA1.bsp";
    const std::string output = "\xE5\x85\xB3\xE5\x8D\xA1-\xF0\x9F\x97\xBA.obj";
    const std::string material = "\xE5\x85\xB3\xE5\x8D\xA1-\xF0\x9F\x97\xBA.mtl";
    Outcome outcome = run_with({{input, level}}, {input, output});
    EXPECT_EQ(
        outcome,
        (Outcome{closing_line, "", 0, {{input, level}, {output, expected_obj(material)}, {material, expected_mtl}}}));

    // A texture name that is not UTF-8 (Latin-1 here) names no bitmap where
    // names are UTF-16, and fails nothing.
    LevelPlan plan;
    plan.models = {"m"};
    plan.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 1}};
    add_surface(plan, 0, "mur\xE9", {{0, 1, 2}});
    const std::string latin = bytes_text(build_level(plan));
    outcome = run_with({{"in.bsp", latin}}, {"in.bsp", "out.glb"});
    EXPECT_EQ(outcome.out, "final position: " + std::to_string(latin.size()) +
                               " counter: \ntextures: 0 of 1 embedded from .; not found: mur\xE9.bmp\n");
    EXPECT_EQ(outcome.status, 0);
}

// An output whose file name ends in ".glb" or ".gltf", in any case, is one
// glTF file, binary or JSON: no material file is written or looked at.
TEST(CommandLine, GlbOutputsAreBinaryGltf)
{
    const std::string glb = run_with({{"in.bsp", level}}, {"in.bsp", "level.glb"}).files.at("level.glb");
    ASSERT_EQ(glb.substr(0, 4), "glTF");
    const std::string gltf = run_with({{"in.bsp", level}}, {"in.bsp", "level.gltf"}).files.at("level.gltf");
    ASSERT_EQ(gltf.substr(0, 9), "{\"asset\":");
    struct Case {
        std::string output;
        std::map<std::string, std::string> files;
        std::string folder = ".";
    };
    const Case cases[] = {
        {"LEVEL.GLB", {{"LEVEL.GLB", glb}}},
        {"maps.d/v1.2/level.GlB", {}, "maps.d/v1.2"},
        {"x.glb.obj", {{"x.glb.obj", expected_obj("x.glb.mtl")}, {"x.glb.mtl", expected_mtl}}, ""},
        // The material file it would have is left alone.
        {"out.glb", {{"out.glb", glb}, {"out.mtl", "mine\n"}}},
        {"LEVEL.GlTf", {{"LEVEL.GlTf", gltf}}},
        {"out.gltf", {{"out.gltf", gltf}, {"out.mtl", "mine\n"}}},
        {"x.gltf.obj", {{"x.gltf.obj", expected_obj("x.gltf.mtl")}, {"x.gltf.mtl", expected_mtl}}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        TempDir dir;
        std::map<std::string, std::string> files = {{"in.bsp", level}, {"out.mtl", "mine\n"}};
        for (const auto& [name, content] : files)
            write_file(dir.path(name), std::vector<uint8_t>(content.begin(), content.end()));
        fs::create_directories(dir.path("maps.d/v1.2"));
        const Outcome outcome = run_in(dir, {"meshwright", "in.bsp", c.output});
        files.insert(c.files.begin(), c.files.end());
        files.insert({"maps.d", "<directory>"});
        // Only glTF runs tell what became of the textures.
        const std::string textures = c.folder.empty() ? "" : "textures: 0 of 1 embedded from " + c.folder +
                                                                 "; not found: wall.bmp\n";
        EXPECT_EQ(outcome, (Outcome{closing_line + textures, "", 0, files}));
        if (c.output.starts_with("maps.d")) {
            EXPECT_EQ(folder_contents(dir.path("maps.d/v1.2")), (std::map<std::string, std::string>{{"level.GlB", glb}}));
        }
    }
    // With its bitmap beside: embedded, and nothing else left beside.
    const BmpKind kind{"24 bits", 40, 24};
    const std::vector<uint8_t> bitmap = bmp_file(test_picture(3, 3, kind), kind);
    for (const char* output : {"out.glb", "out.gltf"}) {
        const Outcome outcome = run_with({{"in.bsp", level}, {"wall.bmp", bytes_text(bitmap)}}, {"in.bsp", output});
        EXPECT_EQ(outcome.out, closing_line + "textures: 1 of 1 embedded from .\n");
        EXPECT_EQ(outcome.files.size(), 3u);
    }
}

// Converting a level onto itself, by any name, would lose it.
TEST(CommandLine, LevelIsNeverItsOwnOutput)
{
    const std::string obj_refused = closing_line + exception_line(messages::unopenable_obj);
    const std::string glb_refused = closing_line + exception_line(messages::unopenable_gltf);
    struct Case {
        const char* output;
        std::string out;
    };
    const Case cases[] = {
        {"in.bsp", obj_refused},
        {"./in.bsp", obj_refused},
        {"hard.obj", obj_refused},
        {"link.obj", obj_refused},
        {"link.glb", glb_refused},
        {"link.gltf", glb_refused},
        {"maps/../in.bsp", obj_refused},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        TempDir dir;
        write_file(dir.path("in.bsp"), std::vector<uint8_t>(level.begin(), level.end()));
        fs::create_hard_link(dir.root() / "in.bsp", dir.root() / "hard.obj");
        fs::create_directory(dir.root() / "maps");
        std::map<std::string, std::string> files = {{"in.bsp", level}, {"hard.obj", level}, {"maps", "<directory>"}};
#if !defined(_WIN32)
        for (const char* link : {"link.obj", "link.glb", "link.gltf"}) {
            fs::create_symlink("in.bsp", dir.root() / link);
            files.insert({link, "<link to in.bsp>"});
        }
#endif
        if (fs::exists(dir.root() / c.output)) {
            EXPECT_EQ(run_in(dir, {"meshwright", "in.bsp", c.output}), (Outcome{c.out, "", 1, files}));
        }
    }
}

TEST(CommandLine, ReportsRejectedLevelsWithoutWritingAnything)
{
    LevelPlan plan;
    plan.models = {"m"};
    add_surface(plan, 1, "wall", {});
    const std::string bad = bytes_text(build_level(plan));
    const std::string message = exception_line(messages::model_index_out_of_range);
    const std::string header = "BSP info:\n\tVersion: 1.0\n\tNum Models: 1\n\tNum vertices: 0\n\tNum indices: 0\n"
                               "\tModels:\n";
    EXPECT_EQ(run_with({{"in.bsp", bad}}, {"in.bsp", "out.obj"}), (Outcome{message, "", 1, {{"in.bsp", bad}}}));
    EXPECT_EQ(run_with({{"in.bsp", bad}}, {"-v", "in.bsp", "out.obj"}),
              (Outcome{header + message, "", 1, {{"in.bsp", bad}}}));

    const std::string cut = level.substr(0, 100);
    EXPECT_EQ(run_with({{"in.bsp", cut}}, {"in.bsp"}),
              (Outcome{exception_line(messages::unexpected_end), "", 1, {{"in.bsp", cut}}}));
}

using Vector = std::array<double, 3>;

Vector minus(const Vector& a, const Vector& b)
{
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}

double dot(const Vector& a, const Vector& b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

Vector cross(const Vector& a, const Vector& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// Every triangle of an OBJ shows its picture as drawn, seen from the side its
// normal points to: the picture's right (dP/du) and top (dP/dv) turn the
// way the normal says, and on a wall the top points up (+Y). Reads only the
// simple OBJ this program writes.
// Returns the number of triangles.
size_t expect_pictures_upright(const std::string& obj)
{
    std::vector<Vector> positions, normals;
    std::vector<std::array<double, 2>> tex_coords;
    std::istringstream lines(obj);
    size_t faces = 0;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string keyword;
        words >> keyword;
        Vector v{};
        if (keyword == "v" || keyword == "vn") {
            words >> v[0] >> v[1] >> v[2];
            (keyword == "v" ? positions : normals).push_back(v);
        } else if (keyword == "vt") {
            words >> v[0] >> v[1];
            tex_coords.push_back({v[0], v[1]});
        } else if (keyword == "f") {
            ++faces;
            Vector p[3];
            std::array<double, 2> t[3];
            size_t normal = 0;
            for (int c = 0; c < 3; ++c) {
                char slash;
                size_t position = 0, tex_coord = 0;
                words >> position >> slash >> tex_coord >> slash >> normal;
                p[c] = positions.at(position - 1);
                t[c] = tex_coords.at(tex_coord - 1);
            }
            // P - P0 = du dP/du + dv dP/dv, solved over the two edges.
            const Vector e1 = minus(p[1], p[0]), e2 = minus(p[2], p[0]);
            const double du1 = t[1][0] - t[0][0], dv1 = t[1][1] - t[0][1];
            const double du2 = t[2][0] - t[0][0], dv2 = t[2][1] - t[0][1];
            const double det = du1 * dv2 - du2 * dv1;
            EXPECT_NE(det, 0.0) << line;
            Vector right, top;
            for (int k = 0; k < 3; ++k) {
                right[k] = (e1[k] * dv2 - e2[k] * dv1) / det;
                top[k] = (e2[k] * du1 - e1[k] * du2) / det;
            }
            const Vector& n = normals.at(normal - 1);
            EXPECT_GT(dot(cross(right, top), n), 0.0) << "mirrored: " << line;
            if (std::abs(n[1]) < 0.5) {
                EXPECT_GT(top[1], 0.0) << "upside down: " << line;
            }
        }
    }
    EXPECT_EQ(faces, normals.size());
    return faces;
}

TEST(CommandLine, SampleLevelConvertsUprightWithoutDegenerateTriangles)
{
    const std::string sample = read_file(MESHWRIGHT_SAMPLE_LEVEL);
    const Outcome outcome = run_with({{"sample.bsp", sample}}, {"sample.bsp", "sample.obj"});
    ASSERT_EQ(outcome.status, 0) << outcome.out;
    const std::string& obj = outcome.files.at("sample.obj");
    EXPECT_EQ(obj.find("nan"), std::string::npos);
    EXPECT_EQ(expect_pictures_upright(obj), 64u);
}

TEST(CommandLine, RunningOutOfMemoryIsReported)
{
#if defined(MESHWRIGHT_SANITIZED)
    GTEST_SKIP() << "address space limits do not work under the address sanitizer";
#elif defined(_WIN32)
    GTEST_SKIP() << "Windows has no address space limit for one process";
#else
    // 8 million vertices really are in the file (as a sparse run of zeros),
    // but 96 MiB of them do not fit in a 64 MiB address space.
    TempDir dir;
    std::vector<uint8_t> header(52, 0);
    set_u32(header, header_offset::vertex_count, 8 << 20);
    write_file(dir.path("big.bsp"), header);
    fs::resize_file(dir.path("big.bsp"), 52 + 12 * (8 << 20));
    Outcome outcome = run_in(dir, {"meshwright", "big.bsp"}, {.address_space = 64 << 20});
    EXPECT_EQ(outcome.out, exception_line(messages::out_of_memory));
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.files.size(), 1u);

    // A texture of 4096 x 4096 pixels in 2 MB, whose picture does not fit:
    // the texture threads' failure is the run's, never a success without it.
    const BmpKind one_bit{"1-bit palette", 40, 1};
    std::vector<uint8_t> bitmap = bmp_file(test_picture(1, 1, one_bit), one_bit);
    set_u32(bitmap, 18, 4096);
    set_u32(bitmap, 22, 4096);
    bitmap.resize(bitmap.size() - 4 + 512 * 4096);
    TempDir textured;
    write_file(textured.path("in.bsp"), std::vector<uint8_t>(level.begin(), level.end()));
    write_file(textured.path("wall.bmp"), bitmap);
    outcome = run_in(textured, {"meshwright", "in.bsp", "out.glb"}, {.address_space = 64 << 20});
    EXPECT_EQ(outcome.out, closing_line + exception_line(messages::out_of_memory));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.files.size(), 2u);
#endif
}

} // namespace

} // namespace meshwright
