// Runs meshwright-batch over small game trees, as its own process, and checks
// what it prints and which bitmaps each output names.
#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>

#include <csignal>
#include <thread>
#endif

#include "bitmap_builder.hpp"
#include "level_builder.hpp"
#include "output_test_helpers.hpp"
#include "program_runner.hpp"
#include "temp_dir.hpp"

namespace meshwright {

namespace {

namespace fs = std::filesystem;

using Tree = std::map<std::string, std::string>; // path: content, or "<link to TARGET>"

std::string level_naming(const std::vector<std::string>& textures)
{
    LevelPlan plan;
    plan.models = {"m"};
    plan.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 1}};
    plan.tex_coords = {{0, 0}, {1, 0}, {0, 1}};
    for (const std::string& texture : textures)
        add_surface(plan, 0, texture, {{0, 1, 2}});
    const std::vector<uint8_t> bytes = build_level(plan);
    return {bytes.begin(), bytes.end()};
}

const std::string bitmap = [] {
    const BmpKind kind{"24-bit", 40, 24};
    const std::vector<uint8_t> bytes = bmp_file(test_picture(2, 2, kind), kind);
    return std::string(bytes.begin(), bytes.end());
}();

// A whole bitmap whose pixels name colours that its palette of one lacks.
const std::string undecodable_bitmap = [] {
    const BmpKind kind{"8-bit", 40, 8};
    std::vector<uint8_t> bytes = bmp_file(test_picture(2, 2, kind), kind);
    set_u32(bytes, 46, 1);
    return std::string(bytes.begin(), bytes.end());
}();

void make_tree(const TempDir& dir, const Tree& tree)
{
    for (const auto& [path, content] : tree) {
        fs::create_directories(u8path(dir.path(path)).parent_path());
        if (content.starts_with("<link to "))
            fs::create_symlink(u8path(content.substr(9, content.size() - 10)), u8path(dir.path(path)));
        else
            write_file(dir.path(path), std::vector<uint8_t>(content.begin(), content.end()));
    }
}

// Every file below `folder`, by its path relative to the run's folder.
std::map<std::string, std::string> files_below(const TempDir& dir, const std::string& folder)
{
    std::map<std::string, std::string> files;
    std::error_code error;
    for (fs::recursive_directory_iterator entry(u8path(dir.path(folder)), error), end; !error && entry != end;
         entry.increment(error)) {
        const std::u8string name = entry->path().lexically_relative(dir.root()).generic_u8string();
        if (entry->is_regular_file())
            files[std::string(name.begin(), name.end())] = read_file(u8name(entry->path()));
    }
    return files;
}

// Runs meshwright-batch in a fresh folder holding `tree`; the outcome's files
// are those below "out", with "*" for each that `any` says may hold anything,
// and its time, the summary's last words, is "T". Paths in the console text
// have forward slashes on every system.
Outcome run_batch(const Tree& tree, const std::vector<std::string>& args, const std::vector<std::string>& any = {})
{
    TempDir dir;
    make_tree(dir, tree);
    std::vector<std::string> argv = {"meshwright-batch"};
    argv.insert(argv.end(), args.begin(), args.end());
    Outcome outcome = run_in(dir, argv, {.program = MESHWRIGHT_BATCH_EXE});
    outcome.files = files_below(dir, "out");
    for (const std::string& file : any) {
        if (outcome.files.contains(file))
            outcome.files[file] = "*";
    }
    const size_t time = outcome.out.rfind("; ");
    if (outcome.out.ends_with(" s\n") && time != std::string::npos)
        outcome.out.replace(time, std::string::npos, "; T\n");
#if defined(_WIN32)
    for (std::string* text : {&outcome.out, &outcome.err})
        std::replace(text->begin(), text->end(), '\\', '/');
#endif
    return outcome;
}

std::string usage_error(const std::string& text)
{
    return "meshwright-batch: " + text + "\nTry 'meshwright-batch --help'.\n";
}

std::string summary(int converted, int failed, int found, int missing, int unreadable)
{
    return "levels: " + std::to_string(converted) + " converted, " + std::to_string(failed) + " failed; bitmaps: " +
           std::to_string(found) + " found, " + std::to_string(missing) + " missing, " + std::to_string(unreadable) +
           " unreadable; T\n";
}

struct GameCase {
    const char* name;
    Tree tree;
    std::vector<std::string> args;
    Outcome expected;
};

TEST(Batch, FindsEachLevelsBitmapsAndTellsWhatItDid)
{
    const std::string game_level = level_naming({"wall", "set/floor", "sky", "gone", "bad"});
    const std::string wall_level = level_naming({"wall"});
    const std::vector<GameCase> cases = {
        {"the level's folder, then the folders given; exact before case; part by part; fewest parts",
         {{"game/maps/e1m1.bsp", game_level},
          {"game/maps/wall.bmp", bitmap},
          {"game/art/wall.bmp", bitmap},
          {"game/textures/SET/Floor.BMP", bitmap},
          {"game/textures/sky.bmp", bitmap},
          {"game/textures/deep/sky.bmp", bitmap},
          {"game/textures/bad.bmp", undecodable_bitmap}},
         {"-f", "obj", "-o", "out", "game"},
         {"out/maps/e1m1.obj; textures: 3 of 5 found; not found: gone.bmp; unreadable: bad.bmp\n" +
              summary(1, 0, 3, 1, 1),
          "warning: game/textures/sky.bmp chosen for sky over game/textures/deep/sky.bmp\n",
          0,
          {{"out/maps/e1m1.obj", "*"},
           {"out/maps/e1m1.mtl", "newmtl bad\nmap_Kd ../../game/textures/bad.bmp\n\n"
                                 "newmtl gone\nmap_Kd gone.bmp\n\n"
                                 "newmtl set/floor\nmap_Kd ../../game/textures/SET/Floor.BMP\n\n"
                                 "newmtl sky\nmap_Kd ../../game/textures/sky.bmp\n\n"
                                 "newmtl wall\nmap_Kd ../../game/maps/wall.bmp\n\n"}}}},
        {"the -t folders in their order before the folders given, each before a match in another case",
         {{"game/maps/l.bsp", wall_level}, {"game/wall.bmp", bitmap}, {"a/wall.bmp", bitmap}, {"b/WALL.BMP", bitmap}},
         {"-f", "obj", "-o", "out", "-t", "b", "--textures=a", "game"},
         {"out/maps/l.obj; textures: 1 of 1 found\n" + summary(1, 0, 1, 0, 0),
          "",
          0,
          {{"out/maps/l.obj", "*"}, {"out/maps/l.mtl", "newmtl wall\nmap_Kd ../../b/WALL.BMP\n\n"}}}},
        {"a broken level is told and the others written; a level given as a file lands by its name",
         {{"game/a.bsp", wall_level},
          {"game/b.bsp", "BSP"},
          {"game/D.BSP", wall_level},
          {"game/e.bsp.txt", wall_level},
          {"c.BSP", wall_level},
          {"game/wall.bmp", bitmap}},
         {"-j", "1", "-o", "out", "game", "c.BSP"},
         {"out/D.glb; textures: 1 of 1 embedded\nout/a.glb; textures: 1 of 1 embedded\n"
          "out/c.glb; textures: 1 of 1 embedded\n" +
              summary(3, 1, 1, 0, 0),
          "game/b.bsp: Invalid .bsp file! Unexpected end of file!\n",
          1,
          {{"out/D.glb", "*"}, {"out/a.glb", "*"}, {"out/c.glb", "*"}}}},
        {"outputs that collide: nothing written",
         {{"x/l.bsp", wall_level}, {"y/l.bsp", wall_level}},
         {"-o", "out", "x/l.bsp", "y/l.bsp"},
         {"", usage_error("two levels would land on one output: x/l.bsp and y/l.bsp as l.glb"), 2, {}}},
#if !defined(_WIN32)
        {"links to folders are not listed, a link to a bitmap is followed",
         {{"game/maps/l.bsp", level_naming({"wall", "sky"})},
          {"outside/wall.bmp", bitmap},
          {"real/sky.bmp", bitmap},
          {"game/tex/elsewhere", "<link to ../../outside>"},
          {"game/tex/loop", "<link to ..>"},
          {"game/tex/sky.bmp", "<link to ../../real/sky.bmp>"}},
         {"-f", "obj", "-o", "out", "game"},
         {"out/maps/l.obj; textures: 1 of 2 found; not found: wall.bmp\n" + summary(1, 0, 1, 1, 0),
          "",
          0,
          {{"out/maps/l.obj", "*"},
           {"out/maps/l.mtl", "newmtl sky\nmap_Kd ../../game/tex/sky.bmp\n\nnewmtl wall\nmap_Kd wall.bmp\n\n"}}}},
#endif
    };
    for (const GameCase& game : cases) {
        SCOPED_TRACE(game.name);
        std::vector<std::string> any;
        for (const auto& [file, content] : game.expected.files) {
            if (content == "*")
                any.push_back(file);
        }
        EXPECT_EQ(run_batch(game.tree, game.args, any), game.expected);
    }
}

TEST(Batch, UsageErrorsWriteNothing)
{
    const Tree game = {{"game/l.bsp", level_naming({"wall"})}};
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"game"}, "the output folder is required: -o DIR"},
        {{"-o", "out"}, "no level or folder given"},
        {{"-o"}, "-o needs a value"},
        {{"-o", "out", "-x", "game"}, "unknown option '-x'"},
        {{"-o", "out", "-f", "fbx", "game"}, "unknown format 'fbx': glb, gltf or obj"},
        {{"-o", "out", "-j", "33", "game"}, "-j takes a number of levels from 1 to 32, not '33'"},
        {{"-oout", "-j0", "game"}, "-j takes a number of levels from 1 to 32, not '0'"},
        {{"-o", "out", "missing"}, "no such level or folder: missing"},
        {{"-o", "out", "game/none"}, "no such level or folder: game/none"},
    };
    for (const auto& [args, message] : cases) {
        SCOPED_TRACE(args.back());
        EXPECT_EQ(run_batch(game, args), (Outcome{"", usage_error(message), 2, {}}));
    }
}

// Given a level whose bitmaps sit beside it by their exact names, the batch
// program writes what meshwright writes; an OBJ's material file differs only
// in the bitmaps' paths.
TEST(Batch, WritesTheBytesThatMeshwrightWrites)
{
    const Tree game = {{"A/l.bsp", level_naming({"wall", "floor"})}, {"A/wall.bmp", bitmap}, {"A/floor.bmp", bitmap}};
    for (const std::string format : {"glb", "gltf", "obj"}) {
        SCOPED_TRACE(format);
        TempDir dir;
        make_tree(dir, game);
        ASSERT_EQ(run_in(dir, {"meshwright", "A/l.bsp", "A/l." + format}).status, 0);
        const Outcome batch =
            run_in(dir, {"meshwright-batch", "-f", format, "-o", "B", "A/l.bsp"}, {.program = MESHWRIGHT_BATCH_EXE});
        ASSERT_EQ(batch.status, 0) << batch.err;
        EXPECT_EQ(read_file(dir.path("B/l." + format)), read_file(dir.path("A/l." + format)));
        if (format == "obj") {
            EXPECT_EQ(read_file(dir.path("A/l.mtl")), "newmtl floor\nmap_Kd floor.bmp\n\nnewmtl wall\nmap_Kd wall.bmp\n\n");
            EXPECT_EQ(read_file(dir.path("B/l.mtl")),
                      "newmtl floor\nmap_Kd ../A/floor.bmp\n\nnewmtl wall\nmap_Kd ../A/wall.bmp\n\n");
        }
    }
}

#if !defined(_WIN32)
// Ctrl-C while one level waits to write its material file into a FIFO, its
// OBJ in a temporary file: the level finished stays, and no temporary file
// is left.
TEST(Batch, AnInterruptKeepsTheLevelsFinished)
{
    TempDir dir;
    make_tree(dir, {{"a.bsp", level_naming({"wall"})}, {"b.bsp", level_naming({"wall"})}});
    fs::create_directory(dir.path("out"));
    ASSERT_EQ(mkfifo(dir.path("out/b.mtl").c_str(), 0600), 0);
    RunningProgram run(dir, {"meshwright-batch", "-j", "2", "-f", "obj", "-o", "out", "a.bsp", "b.bsp"},
                       {.program = MESHWRIGHT_BATCH_EXE});
    for (int wait = 0; wait < 30000 && (temporary_files(dir.path("out")).empty() || !fs::exists(dir.path("out/a.mtl")));
         ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    kill(static_cast<pid_t>(run.pid()), SIGINT);
    ASSERT_TRUE(run.ends_within(30));
    EXPECT_EQ(run.finish().status, 128 + SIGINT);
    EXPECT_EQ(files_below(dir, "out").size(), 2u); // a.obj and a.mtl
    EXPECT_TRUE(temporary_files(dir.path("out")).empty());
}
#endif

} // namespace

} // namespace meshwright
