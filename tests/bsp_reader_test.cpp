#include <gtest/gtest.h>

#include "base/messages.hpp"
#include "level_builder.hpp"
#include "load_helpers.hpp"

namespace meshwright {

namespace {

using messages::unexpected_end;
const char* const model_index_error = messages::model_index_out_of_range;
const char* const corner_error = messages::corner_out_of_range;

std::vector<uint16_t> triangle_indices(const BspData& level, size_t surface)
{
    const std::span<const uint16_t> indices = level.triangle_indices_of(level.surfaces.at(surface));
    return {indices.begin(), indices.end()};
}

// One model "m", one surface "t", three vertices and one triangle: 228 bytes.
LevelPlan one_triangle_level()
{
    LevelPlan plan;
    plan.models = {"m"};
    plan.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 1}};
    add_surface(plan, 0, "t", {{0, 1, 2}});
    return plan;
}

std::string header_block(unsigned models, unsigned vertices, unsigned indices, const std::string& version = "1.0")
{
    return "BSP info:\n\tVersion: " + version + "\n\tNum Models: " + std::to_string(models) +
           "\n\tNum vertices: " + std::to_string(vertices) + "\n\tNum indices: " + std::to_string(indices) +
           "\n\tModels:\n";
}

TEST(BspReader, ReadsOneTriangleLevelAndReportsIt)
{
    std::vector<uint8_t> bytes = build_level(one_triangle_level());
    ASSERT_EQ(bytes.size(), 228u);

    LoadResult loud = load_level(bytes, true);
    ASSERT_TRUE(loud.level) << loud.error;
    EXPECT_EQ(loud.console, header_block(1, 3, 0) + "\t\tm's surfaces:\n"
                                                    "\t\t\tt\n"
                                                    "num triangles: 1 num indices: 3\n"
                                                    "final position: 228 counter: \n");
    const BspData& level = *loud.level;
    ASSERT_EQ(level.models.size(), 1u);
    EXPECT_EQ(level.models[0].name.text(), "m");
    EXPECT_EQ(level.models[0].surface_numbers, (std::vector<uint32_t>{0}));
    ASSERT_EQ(level.surfaces.size(), 1u);
    EXPECT_EQ(level.surfaces[0].texture_name.text(), "t");
    EXPECT_EQ(triangle_indices(level, 0), (std::vector<uint16_t>{0, 1, 2}));
    ASSERT_EQ(level.vertices.size(), 3u);
    EXPECT_EQ(level.vertices[2].y, 1.0f);
    EXPECT_EQ(level.vertices[2].z, 1.0f);

    LoadResult quiet = load_level(bytes, false);
    ASSERT_TRUE(quiet.level);
    EXPECT_EQ(quiet.console, "final position: 228 counter: \n");
}

TEST(BspReader, AllZeroHeaderGivesEmptyLevel)
{
    std::vector<uint8_t> bytes(52, 0);
    LoadResult result = load_level(bytes, true);
    ASSERT_TRUE(result.level) << result.error;
    EXPECT_EQ(result.console, header_block(0, 0, 0, "0.0") + "final position: 52 counter: \n");
    const BspData& level = *result.level;
    EXPECT_TRUE(level.models.empty());
    EXPECT_TRUE(level.word4s.empty());
    EXPECT_TRUE(level.surfaces.empty());
    EXPECT_TRUE(level.vertices.empty());
    EXPECT_TRUE(level.tex_coords.empty());
    EXPECT_TRUE(level.indices.empty());
    EXPECT_TRUE(level.extra_indices.empty());
}

TEST(BspReader, VersionLineShowsMajorBeforeMinor)
{
    std::vector<uint8_t> bytes(52, 0);
    bytes[4] = 0x04; // minor, low byte
    bytes[6] = 0x01; // major, low byte
    LoadResult result = load_level(bytes, true);
    ASSERT_TRUE(result.level);
    EXPECT_EQ(result.level->header.minor_version, 4);
    EXPECT_EQ(result.level->header.major_version, 1);
    EXPECT_NE(result.console.find("\tVersion: 1.4\n"), std::string::npos) << result.console;

    bytes[5] = 0xFF;
    bytes[7] = 0xFF;
    EXPECT_NE(load_level(bytes, true).console.find("\tVersion: 65281.65284\n"), std::string::npos);
}

TEST(BspReader, SurfaceModelIndexMustNameAModel)
{
    struct Case {
        unsigned model_count;
        uint32_t model_index;
        bool accepted;
    };
    const Case cases[] = {{2, 1, true}, {2, 2, false}, {0, 0, false}, {1, 0xFFFFFFFF, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.model_count << " models, index " << c.model_index);
        LevelPlan plan;
        for (unsigned i = 0; i < c.model_count; ++i)
            plan.models.push_back("model" + std::to_string(i));
        plan.vertices = {{0, 0, 0}};
        add_surface(plan, c.model_index, "wall", {{0, 0, 0}});
        LoadResult result = load_level(build_level(plan), true);
        EXPECT_EQ(result.level.has_value(), c.accepted);
        if (c.accepted)
            continue;
        EXPECT_EQ(result.error, model_index_error);
        // The header block stays printed; the listing and closing line never come.
        EXPECT_EQ(result.console, header_block(c.model_count, 1, 0));
    }
}

TEST(BspReader, ModelsListTheirSurfacesInFileOrder)
{
    LevelPlan plan;
    plan.models = {"first", "second"};
    plan.vertices = {{0, 0, 0}};
    add_surface(plan, 1, "a", {});
    add_surface(plan, 0, "b", {});
    add_surface(plan, 1, "c", {});
    LoadResult result = load_level(build_level(plan), true);
    ASSERT_TRUE(result.level) << result.error;
    const BspData& level = *result.level;
    EXPECT_EQ(level.models[0].surface_numbers, (std::vector<uint32_t>{1}));
    EXPECT_EQ(level.models[1].surface_numbers, (std::vector<uint32_t>{0, 2}));
    ASSERT_EQ(level.surfaces.size(), 3u);
    EXPECT_EQ(level.surfaces[0].model_index, 1u);
    EXPECT_EQ(level.surfaces[1].model_index, 0u);
    EXPECT_EQ(level.surfaces[2].texture_name.text(), "c");
    EXPECT_EQ(result.console, header_block(2, 1, 0) +
                                  "\t\tfirst's surfaces:\n"
                                  "\t\t\tb\n"
                                  "\t\tsecond's surfaces:\n"
                                  "\t\t\ta\n"
                                  "\t\t\tc\n"
                                  "num triangles: 0 num indices: 0\n"
                                  "num triangles: 0 num indices: 0\n"
                                  "num triangles: 0 num indices: 0\n"
                                  "final position: " +
                                  std::to_string(build_level(plan).size()) + " counter: \n");
}

TEST(BspReader, TrianglesTakeVertexNumbersFromTheirRecordsTable)
{
    LevelPlan plan;
    plan.models = {"m"};
    plan.surfaces = {{0, "a"}, {0, "b"}, {0, "c"}};
    plan.geometry = {
        {{7, 8, 9}, {{2, 0, 1}}},
        // Corner numbers restart at 0 in every record.
        {{4, 5, 6, 3}, {{0, 1, 3}, {3, 2, 2}}},
        // A table without triangles, and no triangles at all.
        {{1, 2}, {}},
    };
    LoadResult result = load_level(build_level(plan), true);
    ASSERT_TRUE(result.level) << result.error;
    EXPECT_EQ(triangle_indices(*result.level, 0), (std::vector<uint16_t>{9, 7, 8}));
    EXPECT_EQ(triangle_indices(*result.level, 1), (std::vector<uint16_t>{4, 5, 3, 3, 6, 6}));
    EXPECT_TRUE(triangle_indices(*result.level, 2).empty());
    EXPECT_NE(result.console.find("num triangles: 1 num indices: 3\n"
                                  "num triangles: 2 num indices: 4\n"
                                  "num triangles: 0 num indices: 2\n"),
              std::string::npos)
        << result.console;
}

TEST(BspReader, RejectsCornerOutsideItsTable)
{
    LevelPlan plan;
    plan.models = {"m"};
    plan.surfaces = {{0, "a"}, {0, "b"}};
    plan.geometry = {{{7, 8, 9}, {{0, 1, 2}}}, {{7, 8, 9}, {{0, 1, 2}, {0, 3, 1}}}};
    LoadResult result = load_level(build_level(plan), true);
    EXPECT_FALSE(result.level);
    EXPECT_EQ(result.error, corner_error);
    EXPECT_EQ(result.console, header_block(1, 0, 0) + "\t\tm's surfaces:\n\t\t\ta\n\t\t\tb\n"
                                                      "num triangles: 1 num indices: 3\n"
                                                      "num triangles: 2 num indices: 3\n");
}

TEST(BspReader, HonoursTheSizeOfEverySection)
{
    // Every section holds something, so any record size read wrong shifts
    // the vertices, texture coordinates and triangles out of place.
    LevelPlan plan;
    plan.models = {"m", "n"};
    plan.block16_count = 3;
    plan.word4s = {{1, 2, 3, 4}, {5, 6, 7, 65535}};
    plan.dword4_count = 5;
    plan.vertices = {{1.5f, -2.0f, 3.25f}, {4, 5, 6}};
    plan.tex_coords = {{0.5f, 0.25f}, {-1, 2}, {3, 4}};
    plan.indices = {10, 11, 12};
    plan.extra_indices = {20, 21, 22, 23, 24};
    add_surface(plan, 1, "floor", {{0, 1, 1}});
    std::vector<uint8_t> bytes = build_level(plan);

    LoadResult result = load_level(bytes, false);
    ASSERT_TRUE(result.level) << result.error;
    const BspData& level = *result.level;
    EXPECT_EQ(result.console, "final position: " + std::to_string(bytes.size()) + " counter: \n");
    ASSERT_EQ(level.word4s.size(), 2u);
    EXPECT_EQ(level.word4s[1].values, (std::array<uint16_t, 4>{5, 6, 7, 65535}));
    ASSERT_EQ(level.vertices.size(), 2u);
    EXPECT_EQ(level.vertices[0].x, 1.5f);
    EXPECT_EQ(level.vertices[0].y, -2.0f);
    EXPECT_EQ(level.vertices[0].z, 3.25f);
    ASSERT_EQ(level.tex_coords.size(), 3u);
    EXPECT_EQ(level.tex_coords[0].v, 0.25f);
    EXPECT_EQ(level.tex_coords[2].u, 3.0f);
    EXPECT_EQ(level.indices, (std::vector<uint16_t>{10, 11, 12}));
    EXPECT_EQ(level.extra_indices, (std::vector<uint16_t>{20, 21, 22, 23, 24}));
    EXPECT_EQ(triangle_indices(level, 0), (std::vector<uint16_t>{0, 1, 1}));
    EXPECT_EQ(level.header.block16_count, 3u);
    EXPECT_EQ(level.header.dword4_count, 5u);
}

TEST(BspReader, IgnoresBytesAfterTheLastSection)
{
    LevelPlan plan = one_triangle_level();
    plan.trailing = {1, 2, 3, 4, 5};
    LoadResult result = load_level(build_level(plan), false);
    ASSERT_TRUE(result.level) << result.error;
    EXPECT_EQ(result.console, "final position: 228 counter: \n");
}

TEST(BspReader, NamesKeepEveryByteUpToTheirFirstNul)
{
    // 31 bytes leave one NUL; 32 bytes fill the field and have none.
    for (size_t length : {1u, 31u, 32u}) {
        SCOPED_TRACE(testing::Message() << length << " bytes");
        const std::string model(length, 'M');
        const std::string texture = std::string("textures/walls/brick_large_00001").substr(32 - length);
        LevelPlan plan;
        plan.models = {model};
        add_surface(plan, 0, texture, {});
        LoadResult result = load_level(build_level(plan), true);
        ASSERT_TRUE(result.level) << result.error;
        EXPECT_EQ(result.level->models[0].name.text(), model);
        EXPECT_EQ(result.level->surfaces[0].texture_name.text(), texture);
        EXPECT_NE(result.console.find("\t\t" + model + "'s surfaces:\n\t\t\t" + texture + "\n"), std::string::npos)
            << result.console;
    }
}

TEST(BspReader, ReportWritesControlBytesInNamesAsUnderscores)
{
    // A name may not move the cursor, set the terminal's title or add lines.
    LevelPlan plan;
    plan.models = {"m\x1b]0;owned\x07 \xC3\xA9"};
    add_surface(plan, 0, "t\nnum triangles: 9\r\x7f", {});
    LoadResult result = load_level(build_level(plan), true);
    ASSERT_TRUE(result.level) << result.error;
    EXPECT_EQ(result.console, header_block(1, 0, 0) +
                                  "\t\tm_]0;owned_ \xC3\xA9's surfaces:\n"
                                  "\t\t\tt_num triangles: 9__\n"
                                  "num triangles: 0 num indices: 0\n"
                                  "final position: " +
                                  std::to_string(build_level(plan).size()) + " counter: \n");
    EXPECT_EQ(result.level->surfaces[0].texture_name.text(), "t\nnum triangles: 9\r\x7f") << "stored as read";
}

TEST(BspReader, FaultsInWholeRecordsComeBeforeTheEarlyEnd)
{
    // The file ends inside the third record of a section; the second one,
    // which arrived whole, is at fault and is reported as such.
    LevelPlan bad_model;
    bad_model.models = {"m"};
    bad_model.surfaces = {{0, "a"}, {7, "b"}, {0, "c"}};
    std::vector<uint8_t> surfaces_cut = build_level(bad_model);
    surfaces_cut.resize(52 + 32 + 2 * 60 + 30);

    LevelPlan bad_corner;
    bad_corner.models = {"m"};
    bad_corner.surfaces = {{0, "a"}};
    bad_corner.geometry = {{{7, 8, 9}, {{0, 1, 2}, {0, 3, 1}, {2, 1, 0}}}};
    std::vector<uint8_t> triangles_cut = build_level(bad_corner);
    triangles_cut.resize(triangles_cut.size() - 3);

    for (StreamKind kind : {StreamKind::regular_file, StreamKind::memory, StreamKind::pipe}) {
        EXPECT_EQ(load_level(surfaces_cut, false, kind).error, model_index_error);
        EXPECT_EQ(load_level(triangles_cut, false, kind).error, corner_error);
    }
}

TEST(BspReader, GeometryLineComesBeforeItsRecordIsRead)
{
    // The record's counts are reported even when its table is cut short.
    LevelPlan plan = one_triangle_level();
    std::vector<uint8_t> bytes = build_level(plan);
    bytes.resize(bytes.size() - 6 * 1 - 3);
    LoadResult result = load_level(bytes, true);
    EXPECT_EQ(result.error, unexpected_end);
    EXPECT_EQ(result.console, header_block(1, 3, 0) + "\t\tm's surfaces:\n"
                                                      "\t\t\tt\n"
                                                      "num triangles: 1 num indices: 3\n");
}

TEST(BspReader, RejectsEveryTruncatedPrefix)
{
    LevelPlan plan;
    plan.models = {"m"};
    plan.block16_count = 1;
    plan.word4s = {{1, 2, 3, 4}};
    plan.dword4_count = 1;
    plan.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    plan.tex_coords = {{0, 0}};
    plan.indices = {1};
    plan.extra_indices = {2};
    add_surface(plan, 0, "a", {{0, 1, 2}});
    add_surface(plan, 0, "b", {{2, 1, 0}});
    const std::vector<uint8_t> bytes = build_level(plan);
    for (StreamKind kind : {StreamKind::regular_file, StreamKind::memory}) {
        for (size_t length = 0; length < bytes.size(); ++length) {
            SCOPED_TRACE(testing::Message() << "prefix of " << length << " bytes");
            std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + length);
            LoadResult result = load_level(prefix, true, kind);
            ASSERT_FALSE(result.level);
            ASSERT_EQ(result.error, unexpected_end);
            ASSERT_EQ(result.console.find("final position"), std::string::npos);
        }
    }
}

TEST(BspReader, RejectsHugeCountsWithoutGrowingMemory)
{
    // Each count claims four billion records in a file that has none; the
    // reader must give up at once instead of allocating for the claim.
    const size_t count_offsets[] = {
        header_offset::model_count,  header_offset::vertex_count,      header_offset::tex_coord_count,
        header_offset::index_count,  header_offset::extra_index_count, header_offset::surface_count,
        header_offset::dword4_count, header_offset::block16_count,     header_offset::word4_count,
    };
    for (size_t offset : count_offsets) {
        for (StreamKind kind : {StreamKind::regular_file, StreamKind::memory, StreamKind::pipe}) {
            SCOPED_TRACE(testing::Message() << "count at offset " << offset);
            std::vector<uint8_t> bytes(52, 0);
            set_u32(bytes, offset, 0xFFFFFFFF);
            LoadResult result = load_level(bytes, false, kind);
            EXPECT_FALSE(result.level);
            EXPECT_EQ(result.error, unexpected_end);
        }
    }
}

TEST(BspReader, RejectsCountsOneLargerThanTheFileHolds)
{
    // Each level holds records in one section only, so one record more than
    // it holds runs into the end of the file.
    struct Case {
        const char* name;
        size_t count_offset;
        LevelPlan plan;
    };
    std::vector<Case> cases(8);
    cases[0] = {"models", header_offset::model_count, {}};
    cases[0].plan.models = {"a", "b"};
    cases[1] = {"block16", header_offset::block16_count, {}};
    cases[1].plan.block16_count = 2;
    cases[2] = {"word4", header_offset::word4_count, {}};
    cases[2].plan.word4s = {{1, 2, 3, 4}};
    cases[3] = {"dword4", header_offset::dword4_count, {}};
    cases[3].plan.dword4_count = 3;
    cases[4] = {"vertices", header_offset::vertex_count, {}};
    cases[4].plan.vertices = {{1, 2, 3}, {4, 5, 6}};
    cases[5] = {"texture coordinates", header_offset::tex_coord_count, {}};
    cases[5].plan.tex_coords = {{1, 2}};
    cases[6] = {"indices", header_offset::index_count, {}};
    cases[6].plan.indices = {1, 2, 3};
    cases[7] = {"extra indices", header_offset::extra_index_count, {}};
    cases[7].plan.extra_indices = {4};
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = build_level(c.plan);
        ASSERT_TRUE(load_level(bytes, false).level);
        uint32_t count = bytes[c.count_offset] | bytes[c.count_offset + 1] << 8;
        set_u32(bytes, c.count_offset, count + 1);
        EXPECT_EQ(load_level(bytes, false).error, unexpected_end);
    }

    // One surface more than the level has: its record is cut short inside
    // the geometry that follows.
    LevelPlan plan;
    plan.models = {"m"};
    add_surface(plan, 0, "a", {});
    std::vector<uint8_t> bytes = build_level(plan);
    set_u32(bytes, header_offset::surface_count, 2);
    EXPECT_EQ(load_level(bytes, false).error, unexpected_end);
}

TEST(BspReader, RejectsGeometryRecordsClaimingHugeCounts)
{
    LevelPlan plan = one_triangle_level();
    std::vector<uint8_t> bytes = build_level(plan);
    const size_t geometry_head = bytes.size() - (36 + 2 * 3 + 6 * 1);
    for (size_t field : {geometry_head + 28, geometry_head + 32}) {
        std::vector<uint8_t> hostile = bytes;
        set_u32(hostile, field, 0xFFFFFFFF);
        EXPECT_EQ(load_level(hostile, false).error, unexpected_end);
    }
}

TEST(BspReader, PipeAndFileGiveTheSameResult)
{
    LevelPlan plan = one_triangle_level();
    plan.trailing.assign(200000, 7); // more than a pipe holds at once
    const std::vector<uint8_t> bytes = build_level(plan);
    LoadResult from_file = load_level(bytes, true, StreamKind::regular_file);
    LoadResult from_pipe = load_level(bytes, true, StreamKind::pipe);
    ASSERT_TRUE(from_file.level && from_pipe.level);
    EXPECT_EQ(from_pipe.console, from_file.console);
    EXPECT_EQ(triangle_indices(*from_pipe.level, 0), triangle_indices(*from_file.level, 0));

    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + 200);
    EXPECT_EQ(load_level(cut, true, StreamKind::pipe).console, load_level(cut, true).console);
}

} // namespace

} // namespace meshwright
