// Reads every test level's binary glTF file back with tinygltf, a reader of
// its own, and checks it against the level: each node's triangles, index
// widths and bounds, the positions' bounds, no binary chunk without
// triangles, and each material's image against the bitmap beside the output.
#include <tiny_gltf.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
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
                for (uint32_t index : indices)
                    EXPECT_LT(index, level.vertices.size());
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
    // Materials bear the names' readable forms; of two names that read
    // alike, the first in the material file's order gives the picture.
    std::map<std::string, const TextureCase*> cases;
    const std::vector<TextureCase> all = texture_cases();
    for (const TextureCase& c : all)
        cases.emplace(readable_name(c.texture), &c);
    ASSERT_EQ(model.materials.size(), cases.size());
    ASSERT_EQ(model.samplers.size(), 1u);
    EXPECT_EQ(model.samplers[0].wrapS, TINYGLTF_TEXTURE_WRAP_REPEAT);
    EXPECT_EQ(model.samplers[0].wrapT, TINYGLTF_TEXTURE_WRAP_REPEAT);
    for (const tinygltf::Material& material : model.materials) {
        SCOPED_TRACE(material.name);
        const TextureCase& c = *cases.at(material.name);
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
