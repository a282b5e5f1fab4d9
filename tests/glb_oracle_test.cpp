// Reads every test level's binary glTF file back with tinygltf, a reader of
// its own, and checks it against the level: every reference and byte range,
// each primitive's own vertices, each node's triangles, index widths and
// bounds, the positions' bounds, no binary chunk without triangles, and each
// material's image against the bitmap beside the output.
#include <tiny_gltf.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <set>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/outputs.hpp"
#include "gltf/json_text.hpp"
#include "base/messages.hpp"
#include "bsp/bsp_reader.hpp"
#include "glb_levels.hpp"
#include "level_builder.hpp"
#include "temp_dir.hpp"

namespace meshwright {

namespace {

namespace fs = std::filesystem;

struct Converted {
    BspData level;
    std::vector<uint8_t> glb;
    std::string gltf;
};

// The level converted to level.glb and level.gltf in `dir`, with its files
// beside.
Converted converted_glb(const TempDir& dir, const NamedLevel& named)
{
    write_file(dir.path("level.bsp"), named.bytes);
    for (const auto& [name, bytes] : named.files)
        write_file(dir.path(name), bytes);
    FILE* file = std::fopen(dir.path("level.bsp").c_str(), "rb");
    BspData level = load_bsp(file, false, [](std::string_view) {});
    std::fclose(file);
    write_outputs(level, dir.root() / "level.glb");
    write_outputs(level, dir.root() / "level.gltf");
    const std::string bytes = read_file(dir.path("level.glb"));
    return {std::move(level), std::vector<uint8_t>(bytes.begin(), bytes.end()), read_file(dir.path("level.gltf"))};
}

// The elements of an accessor as numbers.
template <class T> std::vector<T> elements(const tinygltf::Model& model, int accessor_index, int components)
{
    const tinygltf::Accessor& accessor = model.accessors[accessor_index];
    const tinygltf::BufferView& view = model.bufferViews[accessor.bufferView];
    const unsigned char* at = model.buffers[view.buffer].data.data() + view.byteOffset + accessor.byteOffset;
    std::vector<T> values(accessor.count * components);
    std::memcpy(values.data(), at, values.size() * sizeof(T));
    return values;
}

std::vector<uint32_t> indices_of(const tinygltf::Model& model, const tinygltf::Primitive& primitive)
{
    const int type = model.accessors[primitive.indices].componentType;
    if (type == TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT)
        return elements<uint32_t>(model, primitive.indices, 1);
    const std::vector<uint16_t> narrow = elements<uint16_t>(model, primitive.indices, 1);
    // 65535 means "restart" in 16-bit indices: no vertex number.
    EXPECT_EQ(std::count(narrow.begin(), narrow.end(), uint16_t{0xFFFF}), 0) << "vertex 65535 in 16-bit indices";
    return {narrow.begin(), narrow.end()};
}

void expect_triangles_per_node(const tinygltf::Model& model, const BspData& level)
{
    ASSERT_EQ(model.nodes.size(), level.models.size());
    for (size_t m = 0; m < level.models.size(); ++m) {
        uint64_t expected = 0;
        for (uint32_t s : level.models[m].surface_numbers)
            expected += level.surfaces[s].triangle_count;
        uint64_t triangles = 0;
        if (model.nodes[m].mesh >= 0) {
            for (const tinygltf::Primitive& primitive : model.meshes[model.nodes[m].mesh].primitives) {
                const std::vector<uint32_t> indices = indices_of(model, primitive);
                triangles += indices.size() / 3;
            }
        }
        EXPECT_EQ(triangles, expected) << "model " << m;
    }
}

void expect_position_bounds(const tinygltf::Model& model)
{
    for (const tinygltf::Mesh& mesh : model.meshes) {
        for (const tinygltf::Primitive& primitive : mesh.primitives) {
            const int accessor = primitive.attributes.at("POSITION");
            const std::vector<float> positions = elements<float>(model, accessor, 3);
            for (int k = 0; k < 3; ++k) {
                float low = std::numeric_limits<float>::max();
                float high = std::numeric_limits<float>::lowest();
                for (size_t i = k; i < positions.size(); i += 3) {
                    low = std::min(low, positions[i]);
                    high = std::max(high, positions[i]);
                }
                EXPECT_EQ(model.accessors[accessor].minValues[k], low);
                EXPECT_EQ(model.accessors[accessor].maxValues[k], high);
            }
        }
    }
}

// Each material with a texture case shows the case's picture, or none.
void expect_textures(const tinygltf::Model& model)
{
    // One material per texture name, in the material file's order.
    std::map<std::string, const TextureCase*> by_name;
    const std::vector<TextureCase> all = texture_cases();
    for (const TextureCase& c : all)
        by_name.emplace(c.texture, &c);
    ASSERT_EQ(model.materials.size(), by_name.size());
    ASSERT_EQ(model.samplers.size(), 1u);
    EXPECT_EQ(model.samplers[0].wrapS, TINYGLTF_TEXTURE_WRAP_REPEAT);
    EXPECT_EQ(model.samplers[0].wrapT, TINYGLTF_TEXTURE_WRAP_REPEAT);
    std::set<std::string> names;
    auto c_at = by_name.begin();
    for (const tinygltf::Material& material : model.materials) {
        const TextureCase& c = *(c_at++)->second;
        SCOPED_TRACE(material.name);
        EXPECT_TRUE(names.insert(material.name).second) << "two materials of one name";
        EXPECT_EQ(material.name.substr(0, readable_name(c.texture).size()), readable_name(c.texture));
        const int texture = material.pbrMetallicRoughness.baseColorTexture.index;
        ASSERT_EQ(texture >= 0, c.picture.has_value());
        if (texture < 0)
            continue;
        const tinygltf::Image& image = model.images[model.textures[texture].source];
        EXPECT_EQ(image.mimeType, "image/png");
        EXPECT_EQ(image.name, material.name);
        EXPECT_EQ(material.pbrMetallicRoughness.baseColorFactor, (std::vector<double>{1, 1, 1, 1}));
        const bool translucent = std::any_of(c.picture->pixels.begin(), c.picture->pixels.end(),
                                             [](const Rgba& p) { return p[3] != 255; });
        EXPECT_EQ(material.alphaMode, translucent ? "MASK" : "OPAQUE");
        ASSERT_EQ(image.width, static_cast<int>(c.picture->width));
        ASSERT_EQ(image.height, static_cast<int>(c.picture->height));
        ASSERT_EQ(image.component, 4);
        std::vector<uint8_t> expected;
        for (const Rgba& pixel : c.picture->pixels)
            expected.insert(expected.end(), pixel.begin(), pixel.end());
        EXPECT_TRUE(image.image == expected) << "the image is not the bitmap's picture";
    }
}

size_t element_bytes(const tinygltf::Accessor& accessor)
{
    return static_cast<size_t>(tinygltf::GetComponentSizeInBytes(accessor.componentType) *
                               tinygltf::GetNumComponentsInType(accessor.type));
}

// A loader's validate step over what it parsed: every reference within
// bounds, each view's bytes within the buffer, aligned and apart from the
// others, each accessor's within its view and used by one primitive only;
// each primitive's vertices all used and none the same as another (split
// only where normals differ); each mesh named as its node.
void expect_consistent(const tinygltf::Model& model)
{
    const size_t buffer = model.buffers.empty() ? 0 : model.buffers[0].data.size();
    std::map<size_t, size_t> view_ranges;
    for (const tinygltf::BufferView& view : model.bufferViews) {
        EXPECT_EQ(view.buffer, 0);
        EXPECT_EQ(view.byteOffset % 4, 0u);
        EXPECT_LE(view.byteOffset + view.byteLength, buffer);
        view_ranges.emplace(view.byteOffset, view.byteOffset + view.byteLength);
    }
    ASSERT_EQ(view_ranges.size(), model.bufferViews.size()) << "two views at one place";
    size_t end_of_previous = 0;
    for (const auto& [start, end] : view_ranges) {
        EXPECT_LE(end_of_previous, start) << "views overlap";
        end_of_previous = end;
    }
    for (const tinygltf::Accessor& accessor : model.accessors) {
        ASSERT_LT(static_cast<size_t>(accessor.bufferView), model.bufferViews.size());
        EXPECT_LE(accessor.byteOffset + accessor.count * element_bytes(accessor),
                  model.bufferViews[accessor.bufferView].byteLength);
    }
    std::vector<int> uses(model.accessors.size());
    for (size_t n = 0; n < model.nodes.size(); ++n) {
        if (model.nodes[n].mesh < 0)
            continue;
        ASSERT_LT(static_cast<size_t>(model.nodes[n].mesh), model.meshes.size());
        const tinygltf::Mesh& mesh = model.meshes[model.nodes[n].mesh];
        EXPECT_EQ(mesh.name, model.nodes[n].name);
        for (const tinygltf::Primitive& primitive : mesh.primitives) {
            ASSERT_EQ(primitive.attributes.size(), 3u);
            for (const char* attribute : {"POSITION", "NORMAL", "TEXCOORD_0"})
                ++uses.at(primitive.attributes.at(attribute));
            ++uses.at(primitive.indices);
            EXPECT_LT(static_cast<size_t>(primitive.material), model.materials.size());
            const size_t count = model.accessors[primitive.attributes.at("POSITION")].count;
            const std::vector<float> positions = elements<float>(model, primitive.attributes.at("POSITION"), 3);
            const std::vector<float> normals = elements<float>(model, primitive.attributes.at("NORMAL"), 3);
            const std::vector<float> uvs = elements<float>(model, primitive.attributes.at("TEXCOORD_0"), 2);
            ASSERT_EQ(normals.size(), 3 * count);
            ASSERT_EQ(uvs.size(), 2 * count);
            std::vector<bool> used(count);
            for (uint32_t index : indices_of(model, primitive)) {
                ASSERT_LT(index, count);
                used[index] = true;
            }
            EXPECT_EQ(std::count(used.begin(), used.end(), false), 0) << "vertices no triangle uses";
            std::set<std::vector<float>> distinct;
            for (size_t v = 0; v < count; ++v) {
                distinct.insert({positions[3 * v], positions[3 * v + 1], positions[3 * v + 2], normals[3 * v],
                                 normals[3 * v + 1], normals[3 * v + 2], uvs[2 * v], uvs[2 * v + 1]});
                const double length = std::hypot(normals[3 * v], normals[3 * v + 1], normals[3 * v + 2]);
                EXPECT_NEAR(length, 1.0, 1e-3) << "vertex " << v;
            }
            EXPECT_EQ(distinct.size(), count) << "a vertex split where normals are the same";
        }
    }
    for (size_t a = 0; a < uses.size(); ++a)
        EXPECT_EQ(uses[a], 1) << "accessor " << a << " is not one primitive's own";
    for (const tinygltf::Material& material : model.materials) {
        const int texture = material.pbrMetallicRoughness.baseColorTexture.index;
        if (texture >= 0) {
            ASSERT_LT(static_cast<size_t>(texture), model.textures.size());
            EXPECT_LT(static_cast<size_t>(model.textures[texture].source), model.images.size());
            EXPECT_LT(static_cast<size_t>(model.textures[texture].sampler), model.samplers.size());
        }
    }
    for (const tinygltf::Image& image : model.images) {
        if (image.bufferView >= 0) {
            EXPECT_LT(static_cast<size_t>(image.bufferView), model.bufferViews.size());
        }
    }
}

// The binary form's chunks: sizes that add up and are multiples of 4.
void expect_chunks(const std::vector<uint8_t>& glb, const tinygltf::Model& model)
{
    const auto word = [&](size_t at) {
        uint32_t value = 0;
        std::memcpy(&value, glb.data() + at, 4);
        return value;
    };
    ASSERT_GE(glb.size(), 20u);
    EXPECT_EQ(word(8), glb.size());
    EXPECT_EQ(word(12) % 4, 0u);
    if (glb.size() == 20 + word(12))
        return;
    ASSERT_GE(glb.size(), 28 + word(12));
    const uint32_t binary = word(20 + word(12));
    EXPECT_EQ(binary % 4, 0u);
    EXPECT_EQ(28 + word(12) + binary, glb.size());
    EXPECT_EQ(binary, model.buffers.at(0).data.size());
}

TEST(GlbOracle, EveryTestLevelReadsBackAsTheLevel)
{
    for (const NamedLevel& named : glb_test_levels()) {
        SCOPED_TRACE(named.name);
        TempDir dir;
        const Converted converted = converted_glb(dir, named);
        tinygltf::TinyGLTF loader;
        tinygltf::Model model;
        std::string error;
        std::string warning;
        ASSERT_TRUE(loader.LoadBinaryFromMemory(&model, &error, &warning, converted.glb.data(),
                                                static_cast<unsigned>(converted.glb.size())))
            << error;
        EXPECT_EQ(error + warning, "");
        expect_consistent(model);
        expect_chunks(converted.glb, model);
        expect_triangles_per_node(model, converted.level);
        expect_position_bounds(model);
        uint32_t json_length = 0;
        std::memcpy(&json_length, converted.glb.data() + 12, 4);
        const bool has_triangles = !model.meshes.empty();
        EXPECT_EQ(converted.glb.size() > 20 + json_length, has_triangles) << "a binary chunk only with triangles";
        EXPECT_EQ(model.buffers.size(), has_triangles ? 1u : 0u);
        if (named.name == "textured")
            expect_textures(model);

        // The JSON form holds the same, its data inside as data: URIs.
        tinygltf::Model json_model;
        ASSERT_TRUE(loader.LoadASCIIFromString(&json_model, &error, &warning, converted.gltf.data(),
                                               static_cast<unsigned>(converted.gltf.size()), ""))
            << error;
        EXPECT_EQ(error + warning, "");
        expect_consistent(json_model);
        EXPECT_TRUE(json_model.nodes == model.nodes && json_model.meshes == model.meshes &&
                    json_model.materials == model.materials && json_model.accessors == model.accessors &&
                    json_model.textures == model.textures && json_model.samplers == model.samplers);
        ASSERT_EQ(json_model.images.size(), model.images.size());
        for (size_t i = 0; i < model.images.size(); ++i) {
            EXPECT_EQ(json_model.images[i].name, model.images[i].name);
            EXPECT_TRUE(json_model.images[i].image == model.images[i].image) << "image " << i;
        }
        ASSERT_EQ(json_model.buffers.size(), model.buffers.size());
        if (has_triangles) {
            const std::vector<unsigned char>& binary = model.buffers[0].data;
            const std::vector<unsigned char>& data = json_model.buffers[0].data;
            ASSERT_LE(data.size(), binary.size());
            EXPECT_TRUE(std::equal(data.begin(), data.end(), binary.begin())) << "the geometry's bytes";
        }
    }
}

TEST(GlbOracle, CornersOfVerticesThatDoNotExistAreRefused)
{
    LevelPlan plan;
    plan.models = {"world"};
    plan.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    add_surface(plan, 0, "floor", {{0, 1, 5}});
    TempDir dir;
    const char* thrown = nullptr;
    try {
        converted_glb(dir, {"out_of_range", build_level(plan)});
    } catch (const char* message) {
        thrown = message;
    }
    EXPECT_STREQ(thrown, messages::vertex_index_out_of_range);
    EXPECT_FALSE(fs::exists(dir.root() / "level.glb"));
}

} // namespace

} // namespace meshwright
