#if !defined(_WIN32)
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

#include <bit>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/outputs.hpp"
#include "base/file_names.hpp"
#include "base/messages.hpp"
#include "obj/obj_chunks.hpp"
#include "temp_dir.hpp"

namespace meshwright {

namespace {

namespace fs = std::filesystem;

struct SurfacePlan {
    std::string texture;
    std::vector<uint16_t> triangle_indices;
};

BspData make_level(const std::vector<Vec3>& vertices, const std::vector<Vec2>& tex_coords,
                   const std::vector<SurfacePlan>& surfaces)
{
    BspData level;
    level.vertices = vertices;
    level.tex_coords = tex_coords;
    for (const SurfacePlan& plan : surfaces) {
        BspSurface surface;
        std::copy(plan.texture.begin(), plan.texture.end(), surface.texture_name.bytes.begin());
        // One or two indices left over belong to no triangle.
        surface.first_index = level.triangle_indices.size();
        surface.triangle_count = static_cast<uint32_t>(plan.triangle_indices.size() / 3);
        level.triangle_indices.insert(level.triangle_indices.end(), plan.triangle_indices.begin(),
                                      plan.triangle_indices.end());
        level.surfaces.push_back(surface);
    }
    level.header.vertex_count = static_cast<uint32_t>(vertices.size());
    level.header.tex_coord_count = static_cast<uint32_t>(tex_coords.size());
    level.header.surface_count = static_cast<uint32_t>(surfaces.size());
    return level;
}

const std::vector<Vec3> corner_vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 1}};

// What this platform's "%f" writes for the NaN of a degenerate triangle's
// normal, 0 / 0: "-nan" with glibc, "nan" with mingw-w64.
const std::string degenerate_normal_text = [] {
    volatile float zero = 0;
    char text[16];
    std::snprintf(text, sizeof text, "%f", static_cast<double>(zero / zero));
    return std::string(text);
}();
const std::vector<Vec2> corner_tex_coords = {{0, 0}, {1, 0}, {0, 1}};

const char* const file_head = "# This is a converted version of a Dravic .BSP file!\n\n";

// Runs the writer in a fresh directory; returns the thrown message, if any.
struct WriteResult {
    std::string error;
    std::string obj;
    std::string mtl;
};

std::string write_in(const TempDir& dir, const BspData& level, const std::string& output_name)
{
    fs::path previous = fs::current_path();
    fs::current_path(dir.root());
    std::string error;
    try {
        write_outputs(level, u8path(output_name));
    } catch (const char* message) {
        error = message;
    }
    fs::current_path(previous);
    return error;
}

WriteResult convert(const BspData& level)
{
    TempDir dir;
    WriteResult result;
    result.error = write_in(dir, level, "out.obj");
    if (result.error.empty()) {
        result.obj = read_file(dir.path("out.obj"));
        result.mtl = read_file(dir.path("out.mtl"));
    }
    return result;
}

TEST(ObjWriter, WritesOneTriangleLevel)
{
    WriteResult result = convert(make_level(corner_vertices, corner_tex_coords, {{"wall", {0, 1, 2}}}));
    ASSERT_EQ(result.error, "");
    EXPECT_EQ(result.obj, std::string(file_head) + "mtllib out.mtl\n"
                                                   "\n"
                                                   "v 0.000000 0.000000 0.000000\n"
                                                   "v 0.000000 0.000000 1.000000\n"
                                                   "v 1.000000 1.000000 0.000000\n"
                                                   "\n"
                                                   "vt 0.000000 -0.000000\n"
                                                   "vt 1.000000 -0.000000\n"
                                                   "vt 0.000000 -1.000000\n"
                                                   "\n"
                                                   "vn 0.707107 -0.707107 0.000000\n"
                                                   "\n"
                                                   "\n"
                                                   "g surface0\n"
                                                   "usemtl wall\n"
                                                   "f 3/3/1 2/2/1 1/1/1\n");
    EXPECT_EQ(result.mtl, "newmtl wall\nmap_Kd wall.bmp\n\n");
}

TEST(ObjWriter, LevelWithoutSurfacesGetsEmptyMaterialFile)
{
    WriteResult result = convert(make_level({{1, 2, 3}}, {{0.5f, 0}}, {}));
    ASSERT_EQ(result.error, "");
    EXPECT_EQ(result.obj, std::string(file_head) + "mtllib out.mtl\n\n"
                                                   "v 3.000000 2.000000 1.000000\n"
                                                   "\n"
                                                   "vt 0.500000 -0.000000\n"
                                                   "\n"
                                                   "\n");
    EXPECT_EQ(result.mtl, "");
}

TEST(ObjWriter, FacesNameOnlyTextureCoordinatesThatExist)
{
    // Without texture coordinates the faces name none ...
    WriteResult result = convert(make_level(corner_vertices, {}, {{"wall", {2, 1, 0}}}));
    ASSERT_EQ(result.error, "");
    EXPECT_EQ(result.obj, std::string(file_head) + "mtllib out.mtl\n\n"
                                                   "v 0.000000 0.000000 0.000000\n"
                                                   "v 0.000000 0.000000 1.000000\n"
                                                   "v 1.000000 1.000000 0.000000\n"
                                                   "\n"
                                                   "\n"
                                                   "vn -0.707107 0.707107 0.000000\n"
                                                   "\n"
                                                   "\n"
                                                   "g surface0\n"
                                                   "usemtl wall\n"
                                                   "f 1//1 2//1 3//1\n");

    // ... and with some, only the faces whose corners all have one do.
    const std::vector<Vec3> vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 1}, {0, 0, 1}};
    result = convert(make_level(vertices, {{0.5f, 0.5f}, {1, 1}, {0, 1}}, {{"wall", {0, 1, 2, 1, 2, 3}}}));
    ASSERT_EQ(result.error, "");
    EXPECT_NE(result.obj.find("\nf 3/3/1 2/2/1 1/1/1\nf 4//2 3//2 2//2\n"), std::string::npos) << result.obj;
}

TEST(ObjWriter, GroupsNumberSurfacesAndNormalsRunOnAcrossThem)
{
    const std::vector<Vec3> vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 1}, {0, 0, 1}};
    // An empty surface, a degenerate triangle and a texture used twice:
    // every surface gets its group, every triangle its own normal number.
    const std::vector<Vec2> tex_coords(4);
    WriteResult result = convert(make_level(vertices, tex_coords,
                                            {
                                                {"floor", {0, 1, 2, 3, 3, 3}},
                                                {"sky", {}},
                                                {"floor", {2, 1, 0, 0, 1}},
                                            }));
    ASSERT_EQ(result.error, "");
    EXPECT_EQ(result.obj, std::string(file_head) +
                              "mtllib out.mtl\n\n"
                              "v 0.000000 0.000000 0.000000\n"
                              "v 0.000000 0.000000 1.000000\n"
                              "v 1.000000 1.000000 0.000000\n"
                              "v 1.000000 0.000000 0.000000\n"
                              "\n"
                              "vt 0.000000 -0.000000\n"
                              "vt 0.000000 -0.000000\n"
                              "vt 0.000000 -0.000000\n"
                              "vt 0.000000 -0.000000\n"
                              "\n"
                              "vn 0.707107 -0.707107 0.000000\n"
                              "vn " +
                              degenerate_normal_text + " " + degenerate_normal_text + " " + degenerate_normal_text +
                              "\n"
                              "vn -0.707107 0.707107 0.000000\n"
                              "\n"
                              "\n"
                              "g surface0\n"
                              "usemtl floor\n"
                              "f 3/3/1 2/2/1 1/1/1\n"
                              "f 4/4/2 4/4/2 4/4/2\n"
                              "\n"
                              "g surface1\n"
                              "usemtl sky\n"
                              "\n"
                              "g surface2\n"
                              "usemtl floor\n"
                              "f 1/1/3 2/2/3 3/3/3\n");
    EXPECT_EQ(result.mtl, "newmtl floor\nmap_Kd floor.bmp\n\nnewmtl sky\nmap_Kd sky.bmp\n\n");
}

TEST(ObjWriter, NormalsRoundAsWorkedOutIndependently)
{
    // Expected lines from tests/tools/expected_normals.py.
    const std::vector<Vec3> vertices = {
        {0, 0, 0},
        {1, 0, 0},
        {0, 1, 1},
        {0.1f, 0.2f, 0.3f},
        {1.7f, -2.3f, 0.9f},
        {-4.1f, 5.5f, 2.2f},
        {1e-3f, 2e-3f, 0},
        {3e-3f, -1e-3f, 5e-3f},
        {7e-3f, 7e-3f, -2e-3f},
        {1000.5f, -20.25f, 3.125f},
        {-7.75f, 600, 12.5f},
        {44, 44, -900},
    };
    WriteResult result = convert(make_level(vertices, {}, {{"a", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}}}));
    ASSERT_EQ(result.error, "");
    EXPECT_NE(result.obj.find("\n\nvn 0.707107 -0.707107 0.000000\n"
                              "vn -0.204177 -0.561992 -0.801546\n"
                              "vn 0.583713 0.708795 -0.396091\n"
                              "vn 0.440512 -0.766467 -0.467415\n\n"),
              std::string::npos)
        << result.obj;
}

// Triangles on which the exact rounding of the normal shows: computing the
// cross product in float, or not rounding the squared length to float before
// its square root, changes their lines.
TEST(ObjWriter, NormalsRoundAsWorkedOutIndependentlyOnRandomTriangles)
{
    std::ifstream data(MESHWRIGHT_RANDOM_NORMALS);
    std::vector<Vec3> vertices;
    std::vector<uint16_t> corners;
    std::string expected;
    for (std::string line; std::getline(data, line);) {
        std::istringstream fields(line.substr(0, line.find('|')));
        for (int corner = 0; corner < 3; ++corner) {
            uint32_t x, y, z;
            fields >> std::hex >> x >> y >> z;
            corners.push_back(static_cast<uint16_t>(vertices.size()));
            vertices.push_back({std::bit_cast<float>(x), std::bit_cast<float>(y), std::bit_cast<float>(z)});
        }
        expected += line.substr(line.find('|') + 1) + "\n";
    }
    ASSERT_EQ(corners.size(), 900u) << "three hundred triangles in " << MESHWRIGHT_RANDOM_NORMALS;
    WriteResult result = convert(make_level(vertices, {}, {{"a", corners}}));
    ASSERT_EQ(result.error, "");
    const size_t start = result.obj.find("\nvn ") + 1;
    EXPECT_EQ(result.obj.substr(start, expected.size()), expected);
}

// A level whose every block spans several buffers at any thread count: its
// surfaces are empty, small, or larger than a buffer, so that buffers begin
// inside groups, at group lines and inside runs of empty groups.
BspData level_across_buffers()
{
    std::mt19937 random(11);
    std::uniform_real_distribution<float> coordinate(-3000, 3000);
    std::vector<Vec3> vertices(50000);
    for (Vec3& v : vertices)
        v = {coordinate(random), coordinate(random), coordinate(random)};
    std::vector<Vec2> tex_coords(45000);
    for (Vec2& t : tex_coords)
        t = {coordinate(random) / 100, coordinate(random) / 100};
    std::uniform_int_distribution<uint16_t> vertex(0, 49999);
    std::vector<SurfacePlan> surfaces;
    for (size_t s = 0; s < 400; ++s) {
        const size_t triangles = s == 200 ? 25000 : (s % 7 == 0 ? 0 : s % 50);
        SurfacePlan surface{"texture_" + std::to_string(s % 13), {}};
        for (size_t i = 0; i < 3 * triangles; ++i)
            surface.triangle_indices.push_back(i % 17 == 16 ? surface.triangle_indices.back() : vertex(random));
        surfaces.push_back(std::move(surface));
    }
    surfaces.insert(surfaces.end(), 30000, SurfacePlan{"sky", {}});
    return make_level(vertices, tex_coords, surfaces);
}

TEST(ObjWriter, OutputIsTheSameAtEveryThreadCount)
{
    const BspData level = level_across_buffers();
    // Every block holds more lines than two of the largest buffers (2 MiB).
    const size_t largest = size_t{2} << 20;
    EXPECT_GT(level.vertices.size(), 2 * ObjChunks::lines_per_buffer(largest, position_line_max));
    EXPECT_GT(level.tex_coords.size(), 2 * ObjChunks::lines_per_buffer(largest, tex_coord_line_max));
    EXPECT_GT(level.triangle_indices.size() / 3, 2 * ObjChunks::lines_per_buffer(largest, normal_line_max));
    EXPECT_GT(level.surfaces.size() + level.triangle_indices.size() / 3,
              2 * ObjChunks::lines_per_buffer(largest, std::max(face_line_max, group_lines_max)));
    TempDir dir;
    std::string reference_obj;
    std::string reference_mtl;
    for (unsigned threads : {1u, 2u, 3u, 8u}) {
        SCOPED_TRACE(testing::Message() << threads << " threads");
        const fs::path previous = fs::current_path();
        fs::current_path(dir.root());
        write_outputs(level, "out.obj", {}, threads);
        fs::current_path(previous);
        const std::string obj = read_file(dir.path("out.obj"));
        const std::string mtl = read_file(dir.path("out.mtl"));
        if (threads == 1) {
            reference_obj = obj;
            reference_mtl = mtl;
            continue;
        }
        EXPECT_TRUE(obj == reference_obj) << "the OBJ differs from the one-thread OBJ";
        EXPECT_EQ(mtl, reference_mtl);
    }
}

TEST(ObjWriter, EmptyTextureNameIsAMaterialToo)
{
    WriteResult result = convert(make_level(corner_vertices, {}, {{"wall", {}}, {"", {}}}));
    ASSERT_EQ(result.error, "");
    EXPECT_NE(result.obj.find("\ng surface1\nusemtl \n"), std::string::npos);
    EXPECT_EQ(result.mtl, "newmtl \nmap_Kd .bmp\n\nnewmtl wall\nmap_Kd wall.bmp\n\n");
}

TEST(ObjWriter, WritesHighestVertexIndexPlusOne)
{
    std::vector<Vec3> vertices(65536);
    std::vector<Vec2> tex_coords(65536);
    WriteResult result = convert(make_level(vertices, tex_coords, {{"a", {65535, 0, 65535}}}));
    ASSERT_EQ(result.error, "");
    EXPECT_NE(result.obj.find("\nf 65536/65536/1 1/1/1 65536/65536/1\n"), std::string::npos);
}

TEST(ObjWriter, MaterialsSortByByteValue)
{
    const std::string e_acute = "\xC3\xA9t\xC3\xA9";
    WriteResult result =
        convert(make_level({}, {}, {{"wall", {}}, {e_acute, {}}, {"floor", {}}, {"Wall", {}}, {"wall2", {}}}));
    ASSERT_EQ(result.error, "");
    EXPECT_EQ(result.mtl, "newmtl Wall\nmap_Kd Wall.bmp\n\n"
                          "newmtl floor\nmap_Kd floor.bmp\n\n"
                          "newmtl wall\nmap_Kd wall.bmp\n\n"
                          "newmtl wall2\nmap_Kd wall2.bmp\n\n"
                          "newmtl " +
                              e_acute + "\nmap_Kd " + e_acute + ".bmp\n\n");
}

TEST(MaterialFileName, CutsOnlyTheFileNamesOwnExtension)
{
    const std::pair<std::string, std::string> cases[] = {
        {"default.obj", "default.mtl"},
        {"maps/level.obj", "maps/level.mtl"},
        {"level", "level.mtl"},
        {"level.old.obj", "level.old.mtl"},
        {"out.mtl", "out.mtl"},
        {"", ".mtl"},
        // A dot in a folder name is no extension.
        {"out.d/level", "out.d/level.mtl"},
        {"./level", "./level.mtl"},
        {"v1.2/out", "v1.2/out.mtl"},
        {"../out/level", "../out/level.mtl"},
    };
    for (const auto& [output, material] : cases)
        EXPECT_EQ(material_file_name(output).string(), material) << output;
}

TEST(ObjWriter, MaterialFileLiesBesideTheObjAndMtllibNamesItsFileName)
{
    TempDir dir;
    for (const char* folder : {"maps", "out.d", "v1.2", "out", "work"})
        fs::create_directory(dir.path(folder));
    const BspData level = make_level(corner_vertices, {}, {{"wall", {0, 1, 2}}});
    const std::pair<std::string, std::string> cases[] = {
        {"default.obj", "default.mtl"},     {"maps/level.obj", "maps/level.mtl"},   {"level", "level.mtl"},
        {"level.old.obj", "level.old.mtl"}, {"out.d/level", "out.d/level.mtl"},     {"./dotted", "./dotted.mtl"},
        {"v1.2/out", "v1.2/out.mtl"},       {"work/../out/level", "out/level.mtl"},
    };
    for (const auto& [output, material] : cases) {
        SCOPED_TRACE(output);
        ASSERT_EQ(write_in(dir, level, output), "");
        const std::string mtllib = "mtllib " + fs::path(material).filename().string() + "\n\n";
        EXPECT_EQ(read_file(dir.path(output)).substr(std::string(file_head).size(), mtllib.size()), mtllib);
        EXPECT_EQ(read_file(dir.path(material)), "newmtl wall\nmap_Kd wall.bmp\n\n");
    }
}

TEST(ObjWriter, NamesCannotBreakALine)
{
    // Bytes below 0x20 and 0x7F become '_'; blanks, '#' and UTF-8 stay.
    // Names that become equal are one material.
    WriteResult result = convert(make_level({}, {},
                                            {
                                                {"a\nmap_Kd evil", {}},
                                                {"b\r\x1b[31m\x7f", {}},
                                                {"a_map_Kd evil", {}},
                                                {"c #\xC3\xA9\t", {}},
                                            }));
    ASSERT_EQ(result.error, "");
    EXPECT_EQ(result.obj, std::string(file_head) + "mtllib out.mtl\n\n\n\n\n"
                                                   "\ng surface0\nusemtl a_map_Kd evil\n"
                                                   "\ng surface1\nusemtl b__[31m_\n"
                                                   "\ng surface2\nusemtl a_map_Kd evil\n"
                                                   "\ng surface3\nusemtl c #\xC3\xA9_\n");
    EXPECT_EQ(result.mtl, "newmtl a_map_Kd evil\nmap_Kd a_map_Kd evil.bmp\n\n"
                          "newmtl b__[31m_\nmap_Kd b__[31m_.bmp\n\n"
                          "newmtl c #\xC3\xA9_\nmap_Kd c #\xC3\xA9_.bmp\n\n");
}

TEST(ObjWriter, MaterialFileThatCannotBeOpenedLeavesNoObj)
{
    TempDir dir;
    fs::create_directory(dir.path("out.mtl"));
    const BspData level = make_level(corner_vertices, corner_tex_coords, {{"wall", {0, 1, 2}}});
    EXPECT_EQ(write_in(dir, level, "out.obj"), messages::unopenable_material);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.root()), fs::directory_iterator()), 1)
        << "neither the OBJ nor a temporary file may remain";
}

TEST(ObjWriter, RejectsLevelsAndPathsItCannotWrite)
{
    const BspData good = make_level(corner_vertices, {}, {{"wall", {0, 1, 2}}});
    const BspData bad_index = make_level(corner_vertices, {}, {{"wall", {0, 1, 2}}, {"sky", {0, 3, 1}}});
    struct Case {
        const char* name;
        const BspData& level;
        std::string output;
        std::string error;
    };
    const Case cases[] = {
        {"vertex index past the last vertex", bad_index, "out.obj", messages::vertex_index_out_of_range},
        {"missing directory", good, "missing/out.obj", messages::unopenable_obj},
        {"material path equal to the output", good, "out.mtl", messages::material_replaces_output},
        {"material path equal to the output after the folders", good, "sub/../out.mtl",
         messages::material_replaces_output},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        fs::create_directory(dir.path("sub"));
        EXPECT_EQ(write_in(dir, c.level, c.output), c.error);
        EXPECT_TRUE(fs::is_empty(dir.path("sub")));
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.root()), fs::directory_iterator()), 1)
            << "nothing may be written";
    }
}

// Makes a device that takes no byte, like /dev/full, inside the test's folder.
bool make_full_device(const std::string& path)
{
#if defined(_WIN32)
    (void)path;
    return false;
#else
    return mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0;
#endif
}

TEST(ObjWriter, ReportsFullDisk)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no device that reports a full disk";
#endif
    const BspData level = make_level(corner_vertices, {}, {{"wall", {0, 1, 2}}});
    {
        TempDir dir;
        if (!make_full_device(dir.path("out.obj")))
            GTEST_SKIP() << "cannot make a full device here";
        EXPECT_EQ(write_in(dir, level, "out.obj"), messages::unwritable_obj);
        EXPECT_FALSE(fs::exists(dir.path("out.mtl"))) << "no material file after a failed OBJ";
    }
    {
        TempDir dir;
        ASSERT_TRUE(make_full_device(dir.path("out.mtl")));
        EXPECT_EQ(write_in(dir, level, "out.obj"), messages::unwritable_material);
        EXPECT_FALSE(fs::exists(dir.path("out.obj"))) << "no OBJ without its material file";
    }
}

} // namespace

} // namespace meshwright
