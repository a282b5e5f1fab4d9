// The binary glTF file, byte for byte, and the JSON texts it is made of.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "app/outputs.hpp"
#include "base/messages.hpp"
#include "gltf/glb_writer.hpp"
#include "bsp/bsp_reader.hpp"
#include "gltf/json_text.hpp"
#include "level_builder.hpp"
#include "temp_dir.hpp"

namespace meshwright {

namespace {

namespace fs = std::filesystem;

std::string le32(uint32_t value)
{
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}

std::string le_float(float value)
{
    return le32(std::bit_cast<uint32_t>(value));
}

BspData loaded(const TempDir& dir, const LevelPlan& plan)
{
    write_file(dir.path("level.bsp"), build_level(plan));
    FILE* file = std::fopen(dir.path("level.bsp").c_str(), "rb");
    BspData level = load_bsp(file, false, [](std::string_view) {});
    std::fclose(file);
    return level;
}

std::string converted_glb(const LevelPlan& plan)
{
    TempDir dir;
    write_outputs(loaded(dir, plan), u8path(dir.path("level.glb")));
    return read_file(dir.path("level.glb"));
}

TEST(GlbWriter, OneTriangleLevelIsExactlyTheseBytes)
{
    LevelPlan plan;
    plan.models = {"world", "empty"};
    plan.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 1}};
    plan.tex_coords = {{0, 0}, {1, 0}, {0, 1}};
    add_surface(plan, 0, "wall", {{0, 1, 2}});
    std::string json =
        R"({"asset":{"generator":"Meshwright 0.1","version":"2.0"},"scene":0,"scenes":[{"nodes":[0,1]}],)"
        R"("nodes":[{"name":"world","mesh":0},{"name":"empty"}],)"
        R"("meshes":[{"name":"world","primitives":[{"attributes":{"POSITION":0,"NORMAL":1,"TEXCOORD_0":2},)"
        R"("indices":3,"material":0}]}],)"
        R"("materials":[{"name":"wall","pbrMetallicRoughness":{"baseColorFactor":[0.898,0.187,0.887,1],)"
        R"("metallicFactor":0,"roughnessFactor":1}}],)"
        R"("accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3","min":[0,0,0],"max":[1,1,1]},)"
        R"({"bufferView":1,"componentType":5126,"count":3,"type":"VEC3"},)"
        R"({"bufferView":2,"componentType":5126,"count":3,"type":"VEC2"},)"
        R"({"bufferView":3,"componentType":5123,"count":3,"type":"SCALAR"}],)"
        R"("bufferViews":[{"buffer":0,"byteLength":36,"target":34962},)"
        R"({"buffer":0,"byteOffset":36,"byteLength":36,"target":34962},)"
        R"({"buffer":0,"byteOffset":72,"byteLength":24,"target":34962},)"
        R"({"buffer":0,"byteOffset":96,"byteLength":6,"target":34963}],"buffers":[{"byteLength":104}]})";
    json.append((4 - json.size() % 4) % 4, ' ');
    // Vertices in the order the reversed corners use them, positions as
    // (z, y, x), the OBJ's normal "vn 0.707107 -0.707107 0.000000" at each
    // corner, texture coordinates as the OBJ's (u, 1 - v) (which holds -v).
    const float root_half = std::bit_cast<float>(0x3F3504F3u);
    std::string binary;
    for (float value : {1.f, 1.f, 0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f})
        binary += le_float(value);
    for (int corner = 0; corner < 3; ++corner) {
        for (float value : {root_half, -root_half, 0.f})
            binary += le_float(value);
    }
    for (float value : {0.f, 2.f, 1.f, 1.f, 0.f, 1.f})
        binary += le_float(value);
    binary += std::string("\x00\x00\x01\x00\x02\x00\x00\x00", 8);
    const std::string expected = "glTF" + le32(2) + le32(static_cast<uint32_t>(28 + json.size() + binary.size())) +
                                 le32(static_cast<uint32_t>(json.size())) + "JSON" + json +
                                 le32(static_cast<uint32_t>(binary.size())) + std::string("BIN\0", 4) + binary;
    EXPECT_EQ(converted_glb(plan), expected);
}

// 16-bit indices cannot name vertex 65535: a primitive of 65,535 vertices
// has them, one of 65,536 has 32-bit ones, whichever of the level's
// vertices they come from.
TEST(GlbWriter, IndicesAreWideOnlyForMoreThan65535Vertices)
{
    LevelPlan plan;
    plan.models = {"a", "b"};
    plan.vertices.resize(65536);
    std::vector<std::array<uint16_t, 3>> triangles;
    for (int k = 0; k < 21845; ++k)
        triangles.push_back({static_cast<uint16_t>(3 * k), static_cast<uint16_t>(3 * k + 1),
                             static_cast<uint16_t>(3 * k + 2)});
    add_surface(plan, 0, "narrow", triangles);
    triangles.push_back({65535, 65535, 65535});
    add_surface(plan, 1, "wide", triangles);
    const std::string glb = converted_glb(plan);
    EXPECT_NE(glb.find(R"({"bufferView":3,"componentType":5123,"count":65535,"type":"SCALAR"})"), std::string::npos);
    EXPECT_NE(glb.find(R"({"bufferView":7,"componentType":5125,"count":65538,"type":"SCALAR"})"),
              std::string::npos);
    EXPECT_EQ(glb.substr(glb.size() - 12), le32(65535) + le32(65535) + le32(65535));
}

#if defined(__linux__)
// Files of the process that have no name left in `folder`: the scratch
// file shows only there.
size_t unnamed_files_in(const fs::path& folder)
{
    size_t count = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const std::string target = fs::read_symlink(entry.path(), error).string();
        if (!error && target.starts_with(folder.string() + "/") && target.ends_with(" (deleted)"))
            ++count;
    }
    return count;
}

// Images wait for the JSON in a scratch file beside a staged output, not in
// memory, whatever their number and size.
TEST(GlbWriter, ImagesWaitInAScratchFileBesideAStagedOutput)
{
    TempDir dir;
    LevelPlan plan;
    plan.models = {"world"};
    plan.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 1}};
    add_surface(plan, 0, "wall", {{0, 1, 2}});
    const BspData level = loaded(dir, plan);
    OutputFile file(dir.root() / "level.glb", messages::unopenable_gltf, messages::unwritable_gltf);
    size_t scratch_files = 0;
    write_gltf(level, file, GltfForm::binary, messages::unwritable_gltf,
               [&](const std::vector<std::string>&, const TextureTaker& take) {
                   take(GlbTexture{{1, 2, 3}, false});
                   scratch_files = unnamed_files_in(fs::canonical(dir.root()));
               });
    EXPECT_EQ(scratch_files, 1u);
}
#endif

TEST(JsonText, DecimalsAreExactAndReadBackAsTheSameFloat)
{
    const std::pair<float, const char*> cases[] = {
        {0.0f, "0"},
        {-0.0f, "0"},
        {1.0f, "1"},
        {-2.5f, "-2.5"},
        {0.1f, "0.100000001490116119384765625"},
        {4096.0f, "4096"},
        {16777217.0f, "16777216"},
        {std::numeric_limits<float>::max(), "340282346638528859811704183484516925440"},
        {std::numeric_limits<float>::denorm_min(), nullptr},
    };
    for (const auto& [value, text] : cases) {
        std::string out;
        append_exact_decimal(out, value);
        if (text) {
            EXPECT_EQ(out, text);
        }
        EXPECT_EQ(std::strtod(out.c_str(), nullptr), static_cast<double>(value)) << out;
    }
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i) {
        const float value = std::bit_cast<float>(static_cast<uint32_t>(random()));
        if (!std::isfinite(value))
            continue;
        std::string out;
        append_exact_decimal(out, value);
        ASSERT_EQ(std::strtod(out.c_str(), nullptr), static_cast<double>(value)) << out;
    }
}

TEST(JsonText, NamesBecomeReadableUtf8)
{
    const std::pair<std::string, std::string> cases[] = {
        {"wall", "\"wall\""},
        {"tab\there\r\n\x1b\x7f", "\"tab_here____\""},
        {"quote\" back\\", "\"quote\\\" back\\\\\""},
        {"caf\xC3\xA9 \xF0\x9F\x8E\xAE", "\"caf\xC3\xA9 \xF0\x9F\x8E\xAE\""},
        // Each stretch that is not UTF-8 is one U+FFFD.
        {"a\xFF\xFE" "b", "\"a\xEF\xBF\xBD\xEF\xBF\xBD" "b\""},
        {"cut \xE2\x82", "\"cut \xEF\xBF\xBD\""},
        {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""}, // a surrogate
        {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},                 // an overlong '/'
        {"\xF4\x90\x80\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
    };
    for (const auto& [name, json] : cases) {
        std::string out;
        append_json_string(out, name);
        EXPECT_EQ(out, json);
    }
    // A name that fills its 32 bytes ends there, whatever the next field
    // holds: here a byte that would complete its last character.
    const std::string field = std::string(31, 'n') + "\xC3\xA9";
    std::string out;
    append_json_string(out, std::string_view(field).substr(0, 32));
    EXPECT_EQ(out, "\"" + std::string(31, 'n') + "\xEF\xBF\xBD\"");
}

} // namespace

} // namespace meshwright
