// Loads converted levels with two real OBJ readers, the Open Asset Import
// Library and tinyobjloader, and checks what a user of each would see.
#include <assimp/DefaultLogger.hpp>
#include <assimp/Importer.hpp>
#include <assimp/LogStream.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <tiny_obj_loader.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/outputs.hpp"
#include "bsp/bsp_reader.hpp"
#include "bsp/triangle_normal.hpp"
#include "gltf/json_text.hpp"
#include "glb_levels.hpp"
#include "level_builder.hpp"
#include "temp_dir.hpp"

namespace meshwright {

namespace {

namespace fs = std::filesystem;
using Point = std::array<float, 3>;

// What the level should look like in any OBJ reader: per surface, its
// texture and its triangles as the reader lists their corners.
struct ExpectedSurface {
    std::string texture;
    std::vector<std::array<Point, 3>> triangles;
    std::vector<std::array<std::array<float, 2>, 3>> tex_coords;
};

struct Expected {
    size_t position_count = 0;
    size_t tex_coord_count = 0;
    size_t triangle_count = 0;
    std::vector<ExpectedSurface> surfaces;
};

Expected expected_from(const BspData& level)
{
    Expected expected{level.vertices.size(), level.tex_coords.size(), 0, {}};
    for (const BspSurface& surface : level.surfaces) {
        ExpectedSurface s{std::string(surface.texture_name.text()), {}, {}};
        const std::span<const uint16_t> corners = level.triangle_indices_of(surface);
        for (size_t t = 0; t + 2 < corners.size(); t += 3) {
            std::array<Point, 3> triangle;
            std::array<std::array<float, 2>, 3> uv{};
            // A face names texture coordinates only when all its corners have one.
            const bool textured = std::max({corners[t], corners[t + 1], corners[t + 2]}) < level.tex_coords.size();
            for (int k = 0; k < 3; ++k) {
                // Faces list their corners reversed, positions as (z, y, x)
                // and texture coordinates as (u, -v).
                const uint16_t index = corners[t + 2 - k];
                const Vec3& v = level.vertices[index];
                triangle[k] = {v.z, v.y, v.x};
                if (textured)
                    uv[k] = {level.tex_coords[index].u, -level.tex_coords[index].v};
            }
            s.triangles.push_back(triangle);
            s.tex_coords.push_back(uv);
        }
        expected.triangle_count += s.triangles.size();
        expected.surfaces.push_back(std::move(s));
    }
    return expected;
}

// Converts `bytes` in `dir` as the program does; returns the level read.
BspData convert_in(const TempDir& dir, const std::vector<uint8_t>& bytes, const std::string& output)
{
    write_file(dir.path("level.bsp"), bytes);
    FILE* file = std::fopen(dir.path("level.bsp").c_str(), "rb");
    BspData level = load_bsp(file, false, [](std::string_view) {});
    std::fclose(file);
    const fs::path previous = fs::current_path();
    fs::current_path(dir.root());
    write_outputs(level, u8path(output));
    fs::current_path(previous);
    return level;
}

Point cross(const Point& a, const Point& b, const Point& c)
{
    const Point u{b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const Point w{c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    return {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]};
}

// The normal must be a unit vector on the side from which the corners run
// counter-clockwise; degenerate triangles have no such side.
void expect_normal_matches_winding(const std::array<Point, 3>& corners, const Point& normal)
{
    const Point area = cross(corners[0], corners[1], corners[2]);
    const float area_length = std::sqrt(area[0] * area[0] + area[1] * area[1] + area[2] * area[2]);
    if (!(area_length > 1e-6f))
        return;
    const float along = (area[0] * normal[0] + area[1] * normal[1] + area[2] * normal[2]) / area_length;
    EXPECT_NEAR(along, 1.0f, 1e-4f);
}

// The OBJ text carries six decimals, and readers parse it back to floats.
bool close_enough(float actual, float expected)
{
    return std::fabs(actual - expected) <= 1e-6f + 1e-6f * std::fabs(expected);
}

template <size_t N>
bool close_enough(const std::vector<std::array<std::array<float, N>, 3>>& actual,
                  const std::vector<std::array<std::array<float, N>, 3>>& expected)
{
    if (actual.size() != expected.size())
        return false;
    for (size_t t = 0; t < actual.size(); ++t) {
        for (size_t c = 0; c < 3; ++c) {
            for (size_t k = 0; k < N; ++k) {
                if (!close_enough(actual[t][c][k], expected[t][c][k]))
                    return false;
            }
        }
    }
    return true;
}

void expect_same_surface(const ExpectedSurface& actual, const ExpectedSurface& expected, bool has_tex_coords)
{
    EXPECT_EQ(actual.texture, expected.texture);
    EXPECT_TRUE(close_enough(actual.triangles, expected.triangles)) << testing::PrintToString(actual.triangles);
    if (has_tex_coords) {
        EXPECT_TRUE(close_enough(actual.tex_coords, expected.tex_coords)) << testing::PrintToString(actual.tex_coords);
    }
}

// ---- The Open Asset Import Library

class AssimpMessages : public Assimp::LogStream {
  public:
    void write(const char* message) override { text += message; }
    std::string text;
};

AssimpMessages& assimp_messages()
{
    static AssimpMessages* messages = [] {
        auto* stream = new AssimpMessages;
        Assimp::DefaultLogger::create("", Assimp::Logger::NORMAL, aiDefaultLogStream_FILE);
        Assimp::DefaultLogger::get()->attachStream(stream, Assimp::Logger::Warn | Assimp::Logger::Err);
        return stream;
    }();
    return *messages;
}

struct AssimpView {
    std::vector<std::string> groups; // node names, one per surface with faces
    std::vector<ExpectedSurface> surfaces;
    std::vector<std::string> diffuse_maps;
    std::vector<Point> normals; // one per face, all surfaces'
    std::string messages;
};

AssimpView read_with_assimp(const std::string& path)
{
    AssimpMessages& messages = assimp_messages();
    messages.text.clear();
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(path, aiProcess_ValidateDataStructure);
    AssimpView view;
    if (!scene) {
        view.messages = importer.GetErrorString();
        return view;
    }
    for (unsigned i = 0; i < scene->mRootNode->mNumChildren; ++i) {
        const aiNode* node = scene->mRootNode->mChildren[i];
        for (unsigned k = 0; k < node->mNumMeshes; ++k) {
            const aiMesh* mesh = scene->mMeshes[node->mMeshes[k]];
            const aiMaterial* material = scene->mMaterials[mesh->mMaterialIndex];
            aiString name, diffuse;
            material->Get(AI_MATKEY_NAME, name);
            material->GetTexture(aiTextureType_DIFFUSE, 0, &diffuse);
            view.groups.push_back(node->mName.C_Str());
            view.diffuse_maps.push_back(diffuse.C_Str());
            ExpectedSurface surface{name.C_Str(), {}, {}};
            for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
                const aiFace& face = mesh->mFaces[f];
                EXPECT_EQ(face.mNumIndices, 3u);
                std::array<Point, 3> triangle;
                std::array<std::array<float, 2>, 3> uv{};
                for (int c = 0; c < 3; ++c) {
                    const unsigned index = face.mIndices[c];
                    const aiVector3D& p = mesh->mVertices[index];
                    triangle[c] = {p.x, p.y, p.z};
                    if (mesh->HasTextureCoords(0))
                        uv[c] = {mesh->mTextureCoords[0][index].x, mesh->mTextureCoords[0][index].y};
                }
                const aiVector3D& n = mesh->mNormals[face.mIndices[0]];
                expect_normal_matches_winding(triangle, {n.x, n.y, n.z});
                view.normals.push_back({n.x, n.y, n.z});
                surface.triangles.push_back(triangle);
                surface.tex_coords.push_back(uv);
            }
            view.surfaces.push_back(std::move(surface));
        }
    }
    view.messages = messages.text;
    return view;
}

void expect_assimp_sees(const std::string& path, const Expected& expected)
{
    SCOPED_TRACE("assimp");
    const AssimpView view = read_with_assimp(path);
    EXPECT_EQ(view.messages, "");
    ASSERT_EQ(view.surfaces.size(), expected.surfaces.size());
    for (size_t i = 0; i < view.surfaces.size(); ++i) {
        EXPECT_EQ(view.groups[i], "surface" + std::to_string(i));
        EXPECT_EQ(view.diffuse_maps[i], expected.surfaces[i].texture + ".bmp");
        expect_same_surface(view.surfaces[i], expected.surfaces[i], expected.tex_coord_count > 0);
    }
}

// ---- tinyobjloader

struct TinyView {
    bool loaded = false;
    size_t positions = 0;
    size_t tex_coords = 0;
    size_t triangles = 0;
    std::vector<std::string> groups;
    std::vector<ExpectedSurface> surfaces;
    std::vector<std::string> diffuse_maps;
    std::string messages;
};

TinyView read_with_tinyobj(const std::string& path)
{
    tinyobj::ObjReader reader;
    TinyView view;
    view.loaded = reader.ParseFromFile(path);
    view.messages = reader.Warning() + reader.Error();
    const tinyobj::attrib_t& attrib = reader.GetAttrib();
    view.positions = attrib.vertices.size() / 3;
    view.tex_coords = attrib.texcoords.size() / 2;
    auto point = [](const std::vector<tinyobj::real_t>& values, int index) {
        return Point{values[3 * index], values[3 * index + 1], values[3 * index + 2]};
    };
    for (const tinyobj::shape_t& shape : reader.GetShapes()) {
        view.groups.push_back(shape.name);
        const int material = shape.mesh.material_ids.empty() ? -1 : shape.mesh.material_ids[0];
        ExpectedSurface surface{material >= 0 ? reader.GetMaterials()[material].name : "<none>", {}, {}};
        view.diffuse_maps.push_back(material >= 0 ? reader.GetMaterials()[material].diffuse_texname : "<none>");
        for (size_t f = 0; f < shape.mesh.num_face_vertices.size(); ++f) {
            EXPECT_EQ(shape.mesh.num_face_vertices[f], 3);
            EXPECT_EQ(shape.mesh.material_ids[f], material) << "one material per group";
            std::array<Point, 3> triangle;
            std::array<std::array<float, 2>, 3> uv{};
            for (int c = 0; c < 3; ++c) {
                const tinyobj::index_t& index = shape.mesh.indices[3 * f + c];
                triangle[c] = point(attrib.vertices, index.vertex_index);
                if (index.texcoord_index >= 0 && !attrib.texcoords.empty()) {
                    uv[c] = {attrib.texcoords[2 * index.texcoord_index],
                             attrib.texcoords[2 * index.texcoord_index + 1]};
                }
            }
            expect_normal_matches_winding(triangle, point(attrib.normals, shape.mesh.indices[3 * f].normal_index));
            surface.triangles.push_back(triangle);
            surface.tex_coords.push_back(uv);
        }
        view.triangles += surface.triangles.size();
        view.surfaces.push_back(std::move(surface));
    }
    return view;
}

void expect_tinyobj_sees(const std::string& path, const Expected& expected)
{
    SCOPED_TRACE("tinyobjloader");
    const TinyView view = read_with_tinyobj(path);
    ASSERT_TRUE(view.loaded) << view.messages;
    EXPECT_EQ(view.messages, "");
    EXPECT_EQ(view.positions, expected.position_count);
    EXPECT_EQ(view.tex_coords, expected.tex_coord_count);
    EXPECT_EQ(view.triangles, expected.triangle_count);
    ASSERT_EQ(view.surfaces.size(), expected.surfaces.size());
    for (size_t i = 0; i < view.surfaces.size(); ++i) {
        EXPECT_EQ(view.groups[i], "surface" + std::to_string(i));
        EXPECT_EQ(view.diffuse_maps[i], expected.surfaces[i].texture + ".bmp");
        expect_same_surface(view.surfaces[i], expected.surfaces[i], expected.tex_coord_count > 0);
    }
}

void expect_both_readers_see(const std::vector<uint8_t>& bytes)
{
    TempDir dir;
    const BspData level = convert_in(dir, bytes, "level.obj");
    const Expected expected = expected_from(level);
    expect_assimp_sees(dir.path("level.obj"), expected);
    expect_tinyobj_sees(dir.path("level.obj"), expected);
}

std::vector<uint8_t> read_bytes(const std::string& path)
{
    const std::string text = read_file(path);
    return {text.begin(), text.end()};
}

// A level of many surfaces sharing a few textures, with shared vertices, a
// degenerate triangle and one surface without texture coordinates beyond
// the others' reach.
std::vector<uint8_t> generated_level(unsigned seed, size_t vertex_count, size_t surface_count)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> coordinate(-512, 512);
    std::uniform_int_distribution<size_t> vertex(0, vertex_count - 1);
    LevelPlan plan;
    plan.models = {"world", "mover"};
    for (size_t i = 0; i < vertex_count; ++i) {
        plan.vertices.push_back({coordinate(random), coordinate(random), coordinate(random)});
        plan.tex_coords.push_back({coordinate(random) / 64, coordinate(random) / 64});
    }
    for (size_t s = 0; s < surface_count; ++s) {
        std::vector<std::array<uint16_t, 3>> triangles;
        for (size_t t = 0; t < 1 + s % 7; ++t) {
            triangles.push_back({static_cast<uint16_t>(vertex(random)), static_cast<uint16_t>(vertex(random)),
                                 static_cast<uint16_t>(vertex(random))});
        }
        add_surface(plan, static_cast<uint32_t>(s % 2), "tex_" + std::to_string(s % 5), triangles);
    }
    return build_level(plan);
}

TEST(Interop, SampleLevelLoadsInBothReaders)
{
    expect_both_readers_see(read_bytes(MESHWRIGHT_SAMPLE_LEVEL));
}

TEST(Interop, GeneratedLevelsLoadInBothReaders)
{
    expect_both_readers_see(generated_level(1, 50, 20));
    expect_both_readers_see(generated_level(2, 65536, 200));
    LevelPlan no_tex_coords;
    no_tex_coords.models = {"m"};
    no_tex_coords.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 1}, {1, 1, 1}};
    add_surface(no_tex_coords, 0, "a", {{0, 1, 2}});
    add_surface(no_tex_coords, 0, "b", {{1, 3, 2}, {3, 3, 3}});
    expect_both_readers_see(build_level(no_tex_coords));
    // Texture coordinates for some vertices only: faces beyond them name none.
    LevelPlan some_tex_coords = no_tex_coords;
    some_tex_coords.tex_coords = {{0, 0}, {1, 0}, {0, 1}};
    expect_both_readers_see(build_level(some_tex_coords));
}

LevelPlan two_textures(const std::string& first, const std::string& second)
{
    LevelPlan plan;
    plan.models = {"m"};
    plan.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 1}, {1, 1, 1}};
    plan.tex_coords = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    add_surface(plan, 0, first, {{0, 1, 2}});
    add_surface(plan, 0, second, {{1, 3, 2}});
    return plan;
}

TEST(Interop, MaterialFileInAnotherFolderIsFoundByBoth)
{
    // Both readers look for the "mtllib" file in the OBJ's own folder, and
    // the material file is written there.
    TempDir dir;
    fs::create_directory(dir.path("maps"));
    fs::create_directory(dir.path("v1.2"));
    for (const std::string output : {"maps/level.obj", "v1.2/level"}) {
        SCOPED_TRACE(output);
        const BspData level = convert_in(dir, build_level(two_textures("wall", "floor")), output);
        const Expected expected = expected_from(level);
        expect_assimp_sees(dir.path(output), expected);
        expect_tinyobj_sees(dir.path(output), expected);
    }
}

TEST(Interop, OutputWithoutExtensionLoads)
{
    TempDir dir;
    const BspData level = convert_in(dir, build_level(two_textures("wall", "floor")), "level");
    const Expected expected = expected_from(level);
    expect_assimp_sees(dir.path("level"), expected);
    expect_tinyobj_sees(dir.path("level"), expected);
}

TEST(Interop, TextureNamesWithBlanksOrNoTextAreMisread)
{
    {
        // tinyobjloader reads "usemtl" only up to the first blank.
        TempDir dir;
        const BspData level = convert_in(dir, build_level(two_textures("old wall", "floor")), "level.obj");
        expect_assimp_sees(dir.path("level.obj"), expected_from(level));
        const TinyView tiny = read_with_tinyobj(dir.path("level.obj"));
        EXPECT_NE(tiny.messages.find("material [ 'old' ] not found"), std::string::npos) << tiny.messages;
        EXPECT_EQ(tiny.surfaces.at(0).texture, "<none>");
        EXPECT_EQ(tiny.surfaces.at(1).texture, "floor");
    }
    {
        // An empty name: assimp keeps the material before it, tinyobjloader
        // finds none.
        TempDir dir;
        convert_in(dir, build_level(two_textures("wall", "")), "level.obj");
        const AssimpView assimp = read_with_assimp(dir.path("level.obj"));
        EXPECT_EQ(assimp.surfaces.at(1).texture, "wall");
        const TinyView tiny = read_with_tinyobj(dir.path("level.obj"));
        EXPECT_NE(tiny.messages.find("material [ '' ] not found"), std::string::npos) << tiny.messages;
        EXPECT_EQ(tiny.surfaces.at(1).texture, "<none>");
    }
}

TEST(Interop, SurfacesWithoutTrianglesLeaveNoGroup)
{
    TempDir dir;
    LevelPlan plan = two_textures("wall", "floor");
    add_surface(plan, 0, "sky", {});
    convert_in(dir, build_level(plan), "level.obj");
    EXPECT_EQ(read_with_assimp(dir.path("level.obj")).groups, (std::vector<std::string>{"surface0", "surface1"}));
    EXPECT_EQ(read_with_tinyobj(dir.path("level.obj")).groups, (std::vector<std::string>{"surface0", "surface1"}));
}

// ---- Binary glTF, read by assimp beside the OBJ

using Triangle = std::array<Point, 3>;
using TriangleUv = std::array<std::array<float, 2>, 3>;

struct GltfView {
    std::vector<Triangle> triangles;
    std::vector<TriangleUv> tex_coords;
    std::vector<Triangle> normals;
    std::set<std::string> materials;
};

GltfView read_gltf_with_assimp(const std::string& path)
{
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(path, aiProcess_ValidateDataStructure);
    GltfView view;
    if (!scene)
        return view;
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
        const aiMesh* mesh = scene->mMeshes[m];
        aiString name;
        scene->mMaterials[mesh->mMaterialIndex]->Get(AI_MATKEY_NAME, name);
        view.materials.insert(name.C_Str());
        for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
            Triangle triangle;
            TriangleUv uv{};
            Triangle normals{};
            for (int c = 0; c < 3; ++c) {
                const unsigned index = mesh->mFaces[f].mIndices[c];
                triangle[c] = {mesh->mVertices[index].x, mesh->mVertices[index].y, mesh->mVertices[index].z};
                uv[c] = {mesh->mTextureCoords[0][index].x, mesh->mTextureCoords[0][index].y};
                if (mesh->mNormals)
                    normals[c] = {mesh->mNormals[index].x, mesh->mNormals[index].y, mesh->mNormals[index].z};
            }
            view.triangles.push_back(triangle);
            view.tex_coords.push_back(uv);
            view.normals.push_back(normals);
        }
    }
    return view;
}

// Each triangle's normal in the glTF file: the OBJ's, to the bit, where
// that is a unit vector; up where it is not.
std::vector<Point> gltf_normals(const BspData& level)
{
    std::vector<Point> normals;
    for (const BspSurface& surface : level.surfaces) {
        const std::span<const uint16_t> corners = level.triangle_indices_of(surface);
        for (size_t c = 0; c + 2 < corners.size(); c += 3) {
            const Vec3 n = triangle_normal(level.vertices[corners[c]], level.vertices[corners[c + 1]],
                                           level.vertices[corners[c + 2]]);
            const bool unit = std::fabs(std::hypot(n.x, n.y, n.z) - 1.0f) <= 1e-3f;
            normals.push_back(unit ? Point{n.z, n.y, n.x} : Point{0, 1, 0});
        }
    }
    return normals;
}

// A level's triangles as the OBJ lists them, one surface after the other,
// with numbers that are not finite as 0, as the glTF file holds them.
std::vector<Triangle> finite_triangles(const Expected& expected)
{
    std::vector<Triangle> triangles;
    for (const ExpectedSurface& surface : expected.surfaces) {
        for (Triangle triangle : surface.triangles) {
            for (Point& corner : triangle) {
                for (float& value : corner)
                    value = std::isfinite(value) ? value : 0.0f;
            }
            triangles.push_back(triangle);
        }
    }
    return triangles;
}

// Whether each triangle, in the same order, has texture coordinates at all
// its corners, so that the OBJ names them.
std::vector<bool> textured_triangles(const BspData& level)
{
    std::vector<bool> textured;
    for (const BspSurface& surface : level.surfaces) {
        const std::span<const uint16_t> corners = level.triangle_indices_of(surface);
        for (size_t c = 0; c < corners.size(); c += 3)
            textured.push_back(std::max({corners[c], corners[c + 1], corners[c + 2]}) < level.tex_coords.size());
    }
    return textured;
}

// The order that sorts triangles by their exact positions.
std::vector<size_t> sorting_order(const std::vector<Triangle>& triangles)
{
    std::vector<size_t> order(triangles.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return triangles[a] < triangles[b]; });
    return order;
}

// The same triangles, corners in the same order, as the OBJ (within its six
// decimals), the same materials and the same texture coordinates: assimp
// turns glTF's v, counted from the top, back into the OBJ's.
void expect_gltf_matches_obj(const std::string& name, const std::vector<uint8_t>& bytes)
{
    SCOPED_TRACE(name);
    TempDir dir;
    const BspData level = convert_in(dir, bytes, "level.obj");
    convert_in(dir, bytes, "level.glb");
    const Expected expected = expected_from(level);
    const AssimpView obj = read_with_assimp(dir.path("level.obj"));
    const GltfView glb = read_gltf_with_assimp(dir.path("level.glb"));
    std::vector<Triangle> obj_triangles;
    std::vector<TriangleUv> obj_tex_coords;
    std::set<std::string> obj_materials;
    for (const ExpectedSurface& surface : obj.surfaces) {
        obj_triangles.insert(obj_triangles.end(), surface.triangles.begin(), surface.triangles.end());
        obj_tex_coords.insert(obj_tex_coords.end(), surface.tex_coords.begin(), surface.tex_coords.end());
        obj_materials.insert(surface.texture);
    }
    ASSERT_EQ(glb.triangles.size(), obj_triangles.size());
    EXPECT_EQ(glb.materials.size(), obj_materials.size());

    const std::vector<Triangle> exact = finite_triangles(expected);
    const std::vector<Point> normals = gltf_normals(level);
    const std::vector<Point>& obj_normals = obj.normals;
    ASSERT_EQ(obj_normals.size(), exact.size());
    const std::vector<bool> textured = textured_triangles(level);
    ASSERT_EQ(exact.size(), obj_triangles.size());
    const std::vector<size_t> exact_order = sorting_order(exact);
    const std::vector<size_t> glb_order = sorting_order(glb.triangles);
    for (size_t i = 0; i < exact.size(); ++i) {
        const size_t t = exact_order[i];
        const size_t g = glb_order[i];
        ASSERT_EQ(glb.triangles[g], exact[t]) << "triangle " << t;
        for (size_t c = 0; c < 3; ++c) {
            EXPECT_EQ(glb.normals[g][c], normals[t]) << "triangle " << t;
            const Point& obj_normal = obj_normals[t];
            if (std::fabs(std::hypot(obj_normal[0], obj_normal[1], obj_normal[2]) - 1.0f) <= 1e-3f) {
                for (size_t k = 0; k < 3; ++k)
                    EXPECT_NEAR(glb.normals[g][c][k], obj_normal[k], 1e-6) << "triangle " << t;
            }
            for (size_t k = 0; k < 3; ++k) {
                if (std::isfinite(obj_triangles[t][c][k])) {
                    EXPECT_TRUE(close_enough(glb.triangles[g][c][k], obj_triangles[t][c][k])) << "triangle " << t;
                }
            }
            // Faces without texture coordinates in the OBJ name none.
            const auto& obj_uv = obj_tex_coords[t][c];
            const auto& glb_uv = glb.tex_coords[g][c];
            if (!textured[t] || !std::isfinite(obj_uv[0]) || !std::isfinite(obj_uv[1]))
                continue;
            EXPECT_TRUE(close_enough(glb_uv[0], obj_uv[0])) << "triangle " << t;
            EXPECT_TRUE(close_enough(glb_uv[1], obj_uv[1])) << "triangle " << t;
        }
    }
}

TEST(Interop, BinaryGltfHoldsWhatTheObjHolds)
{
    expect_gltf_matches_obj("sample", read_bytes(MESHWRIGHT_SAMPLE_LEVEL));
    for (const NamedLevel& level : glb_test_levels())
        expect_gltf_matches_obj(level.name, level.bytes);
}

// assimp, which many tools import glTF with, finds each material's embedded
// PNG image, and none for the materials without a bitmap.
TEST(Interop, EmbeddedTexturesLoadInAssimp)
{
    for (const NamedLevel& named : glb_test_levels()) {
        if (named.name != "textured")
            continue;
        TempDir dir;
        for (const auto& [name, bytes] : named.files)
            write_file(dir.path(name), bytes);
        convert_in(dir, named.bytes, "level.glb");
        Assimp::Importer importer;
        const aiScene* scene = importer.ReadFile(dir.path("level.glb"), aiProcess_ValidateDataStructure);
        ASSERT_TRUE(scene) << importer.GetErrorString();
        std::map<std::string, bool> textured;
        for (const TextureCase& c : texture_cases()) {
            // The second of two names that read alike is told apart.
            const std::string name = readable_name(c.texture);
            textured.emplace(textured.count(name) ? name + "#2" : name, c.picture.has_value());
        }
        unsigned with_texture = 0;
        for (unsigned m = 0; m < scene->mNumMaterials; ++m) {
            aiString name;
            aiString path;
            scene->mMaterials[m]->Get(AI_MATKEY_NAME, name);
            const bool has = scene->mMaterials[m]->GetTexture(aiTextureType_DIFFUSE, 0, &path) == AI_SUCCESS;
            const auto expected = textured.find(name.C_Str());
            if (expected == textured.end())
                continue; // assimp's own default material
            EXPECT_EQ(has, expected->second) << name.C_Str();
            if (!has)
                continue;
            ++with_texture;
            const aiTexture* texture = scene->GetEmbeddedTexture(path.C_Str());
            ASSERT_TRUE(texture) << name.C_Str();
            EXPECT_EQ(texture->mHeight, 0u) << "a compressed image";
            EXPECT_TRUE(texture->CheckFormat("png"));
        }
        EXPECT_EQ(with_texture, std::count_if(textured.begin(), textured.end(), [](const auto& t) { return t.second; }));
        EXPECT_EQ(scene->mNumTextures, with_texture);
    }
}

} // namespace

} // namespace meshwright
