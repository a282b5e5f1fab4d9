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

std::string converted_glb(const LevelPlan& plan)
{
    TempDir dir;
    write_file(dir.path("level.bsp"), build_level(plan));
    FILE* file = std::fopen(dir.path("level.bsp").c_str(), "rb");
    const BspData level = load_bsp(file, false, [](std::string_view) {});
    std::fclose(file);
    write_outputs(level, u8path(dir.path("level.glb")));
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
        R"("meshes":[{"primitives":[{"attributes":{"POSITION":0,"TEXCOORD_0":1},"indices":2,"material":0}]}],)"
        R"("materials":[{"name":"wall","pbrMetallicRoughness":{"baseColorFactor":[0.898,0.187,0.887,1],)"
        R"("metallicFactor":0,"roughnessFactor":1}}],)"
        R"("accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3","min":[0,0,0],"max":[1,1,1]},)"
        R"({"bufferView":1,"componentType":5126,"count":3,"type":"VEC2"},)"
        R"({"bufferView":2,"byteOffset":0,"componentType":5123,"count":3,"type":"SCALAR"}],)"
        R"("bufferViews":[{"buffer":0,"byteLength":36,"target":34962},)"
        R"({"buffer":0,"byteOffset":36,"byteLength":24,"target":34962},)"
        R"({"buffer":0,"byteOffset":60,"byteLength":8,"target":34963}],"buffers":[{"byteLength":68}]})";
    json.append((4 - json.size() % 4) % 4, ' ');
    // Positions as (z, y, x), texture coordinates as the OBJ's (u, 1 - v)
    // (which holds -v), corners reversed.
    std::string binary;
    for (float value : {0.f, 0.f, 0.f, 0.f, 0.f, 1.f, 1.f, 1.f, 0.f, 0.f, 1.f, 1.f, 1.f, 0.f, 2.f})
        binary += le_float(value);
    binary += std::string("\x02\x00\x01\x00\x00\x00\x00\x00", 8);
    const std::string expected = "glTF" + le32(2) + le32(static_cast<uint32_t>(28 + json.size() + binary.size())) +
                                 le32(static_cast<uint32_t>(json.size())) + "JSON" + json +
                                 le32(static_cast<uint32_t>(binary.size())) + std::string("BIN\0", 4) + binary;
    EXPECT_EQ(converted_glb(plan), expected);
}

TEST(GlbWriter, IndicesAreWideOnlyWhereAVertexIs65535)
{
    LevelPlan plan;
    plan.models = {"a", "b"};
    plan.vertices.resize(65536);
    add_surface(plan, 0, "narrow", {{0, 1, 65534}});
    add_surface(plan, 1, "wide", {{0, 65535, 1}});
    const std::string glb = converted_glb(plan);
    EXPECT_NE(glb.find(R"({"bufferView":2,"byteOffset":0,"componentType":5123,"count":3,"type":"SCALAR"})"),
              std::string::npos);
    EXPECT_NE(glb.find(R"({"bufferView":2,"byteOffset":8,"componentType":5125,"count":3,"type":"SCALAR"})"),
              std::string::npos);
    EXPECT_EQ(glb.substr(glb.size() - 20), std::string("\xFE\xFF\x01\x00\x00\x00\x00\x00", 8) + le32(1) +
                                               le32(65535) + le32(0));
}

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
