// Runs the program where writing goes wrong: a full disk, an interrupt, a
// second run on the same output, links, special files and folders that take
// no new files. Whatever happens, the previous files stay whole or are
// replaced whole, and no temporary file is left behind.
#if !defined(_WIN32)
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "base/messages.hpp"
#include "level_builder.hpp"
#include "program_runner.hpp"
#include "temp_dir.hpp"

namespace meshwright {

namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

constexpr std::string_view temporary_marker = ".meshwright-tmp-";

std::string text_of(const std::vector<uint8_t>& bytes)
{
    return {bytes.begin(), bytes.end()};
}

void put_files(const TempDir& dir, const Files& files)
{
    for (const auto& [name, content] : files)
        write_file(dir.path(name), std::vector<uint8_t>(content.begin(), content.end()));
}

// The OBJ and material file that a clean run makes of `level` as out.obj.
struct Converted {
    std::string obj;
    std::string mtl;
    std::string closing_line;
};

Converted converted(const std::string& level)
{
    TempDir dir;
    put_files(dir, {{"in.bsp", level}});
    const Outcome outcome = run_in(dir, {"meshwright", "in.bsp", "out.obj"});
    if (outcome.status != 0)
        throw std::runtime_error("reference conversion failed: " + outcome.out);
    return {outcome.files.at("out.obj"), outcome.files.at("out.mtl"), outcome.out};
}

// One triangle with the texture `texture`.
std::string one_triangle_level(const std::string& texture)
{
    LevelPlan plan;
    plan.models = {"m"};
    plan.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 1}};
    add_surface(plan, 0, texture, {{0, 1, 2}});
    return text_of(build_level(plan));
}

// 200 surfaces, each with its own 31-byte texture name and no triangles:
// an OBJ of about 11 kB and a material file of about 17 kB.
[[maybe_unused]] std::string many_textures_level()
{
    LevelPlan plan;
    plan.models = {"m"};
    for (int i = 0; i < 200; ++i) {
        std::string name = "textures/walls/long_name_" + std::to_string(100000 + i);
        add_surface(plan, 0, name, {});
    }
    return text_of(build_level(plan));
}

// About 25 MB of OBJ text: long enough to interrupt while it is written.
[[maybe_unused]] std::string large_level(const std::string& texture, int seed)
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
    return text_of(build_level(plan));
}

bool is_temporary(const std::string& name)
{
    return name.find(temporary_marker) != std::string::npos;
}

[[maybe_unused]] bool has_temporary_file(const Files& files)
{
    return std::any_of(files.begin(), files.end(), [](const auto& file) { return is_temporary(file.first); });
}

TEST(SafeOutput, FullDiskKeepsThePreviousFiles)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no file size limit to stand in for a full disk";
#else
    const std::string level = many_textures_level();
    const Converted fresh = converted(level);
    ASSERT_LT(fresh.obj.size(), 13000u);
    ASSERT_GT(fresh.mtl.size(), 13000u);
    const Files previous = {{"in.bsp", level}, {"out.obj", "previous obj\n"}, {"out.mtl", "previous mtl\n"}};
    struct Case {
        const char* name;
        std::vector<std::string> args;
        uint64_t limit;
        Outcome expected;
    };
    const Case cases[] = {
        {"the OBJ does not fit",
         {"in.bsp", "out.obj"},
         4096,
         {fresh.closing_line + exception_line(messages::unwritable_obj), "", 1, previous}},
        {"the OBJ would replace the level",
         {"in.bsp", "in.bsp"},
         4096,
         {fresh.closing_line + exception_line(messages::unwritable_obj), "", 1, previous}},
        {"only the material file does not fit",
         {"in.bsp", "out.obj"},
         13000,
         {fresh.closing_line + exception_line(messages::unwritable_material), "", 1, previous}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        put_files(dir, previous);
        std::vector<std::string> argv = {"meshwright"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(run_in(dir, argv, {.file_size = c.limit}), c.expected);
    }
#endif
}

// Waits until the run has a temporary file (for `destination`, when given), or gives up after a while (the
// run may have finished before one was seen).
void wait_for_temporary_file(const TempDir& dir, const std::string& destination = "")
{
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < give_up) {
        for (const auto& entry : fs::directory_iterator(dir.root())) {
            const std::string name = entry.path().filename().string();
            if (is_temporary(name) && name.starts_with(destination))
                return;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

TEST(SafeOutput, InterruptedRunLeavesTheOldFileOrTheWholeNewOne)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no POSIX signals";
#else
    const std::string level = large_level("stone", 3);
    const Converted fresh = converted(level);
    const Files previous = {{"in.bsp", level}, {"out.obj", "previous obj\n"}, {"out.mtl", "previous mtl\n"}};
    for (int signal_number : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
        int interrupted = 0;
        for (int delay_ms : {0, 3, 15}) {
            SCOPED_TRACE(testing::Message() << "signal " << signal_number << " after " << delay_ms << " ms");
            TempDir dir;
            put_files(dir, previous);
            RunningProgram run(dir, {"meshwright", "in.bsp", "out.obj"});
            wait_for_temporary_file(dir);
            std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
            kill(run.pid(), signal_number);
            const Outcome outcome = run.finish();
            EXPECT_TRUE(outcome.status == 128 + signal_number || outcome.status == 0) << outcome.status;
            interrupted += outcome.status == 128 + signal_number;
            const std::string& obj = outcome.files.at("out.obj");
            const std::string& mtl = outcome.files.at("out.mtl");
            EXPECT_TRUE(obj == previous.at("out.obj") || obj == fresh.obj) << obj.size() << " bytes";
            EXPECT_TRUE(mtl == previous.at("out.mtl") || mtl == fresh.mtl) << mtl;
            if (signal_number != SIGKILL) {
                EXPECT_FALSE(has_temporary_file(outcome.files));
            }
        }
        EXPECT_GT(interrupted, 0) << "every run finished before its signal came";
    }
#endif
}

// 250,000 surfaces with texture names of their own: a material file of
// 21 MB, long enough for another run to finish while it is written.
std::string many_materials_level()
{
    LevelPlan plan;
    plan.models = {"m"};
    for (int i = 0; i < 250000; ++i)
        add_surface(plan, 0, "textures/walls/long_name_" + std::to_string(1000000 + i), {});
    return text_of(build_level(plan));
}

TEST(SafeOutput, ConcurrentRunsLeaveOneWholePair)
{
    const std::string big = many_materials_level();
    const std::string small = one_triangle_level("small");
    const Converted big_pair = converted(big);
    const Converted small_pair = converted(small);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        TempDir dir;
        put_files(dir, {{"big.bsp", big}, {"small.bsp", small}});
        RunningProgram first(dir, {"meshwright", "big.bsp", "out.obj"});
        // The small run starts together with the big one, or while the big
        // one writes its material file after its OBJ is in place.
        if (round > 0)
            wait_for_temporary_file(dir, "out.mtl");
        RunningProgram second(dir, {"meshwright", "small.bsp", "out.obj"});
        EXPECT_EQ(second.finish().status, 0);
        const Outcome outcome = first.finish();
        EXPECT_EQ(outcome.status, 0);
        const std::pair written{outcome.files.at("out.obj"), outcome.files.at("out.mtl")};
        EXPECT_TRUE(written == std::pair(big_pair.obj, big_pair.mtl) ||
                    written == std::pair(small_pair.obj, small_pair.mtl))
            << written.first.size() << " bytes of OBJ beside " << written.second.size() << " bytes of material file";
        EXPECT_EQ(outcome.files.size(), 4u) << "no temporary file remains";
    }
}

[[maybe_unused]] fs::perms permissions(const std::string& path)
{
    return fs::status(path).permissions();
}

TEST(SafeOutput, LinkedDestinationsStayLinksAndFilesKeepTheirMode)
{
#if defined(_WIN32)
    GTEST_SKIP() << "symbolic links and POSIX permissions are not Windows files";
#else
    const std::string level = one_triangle_level("wall");
    const Converted fresh = converted(level);

    TempDir dir;
    put_files(dir, {{"in.bsp", level}});
    fs::create_directory(dir.path("real"));
    put_files(dir, {{"real/target.obj", "previous obj\n"}});
    fs::permissions(dir.path("real/target.obj"), fs::perms(0640));
    // A chain of two links to the OBJ, and a link to a material file that does not exist yet.
    fs::create_symlink("real/target.obj", dir.path("hop.obj"));
    fs::create_symlink("hop.obj", dir.path("out.obj"));
    fs::create_symlink("real/target.mtl", dir.path("out.mtl"));
    ASSERT_EQ(run_in(dir, {"meshwright", "in.bsp", "out.obj"}).status, 0);
    EXPECT_TRUE(fs::is_symlink(dir.path("out.obj")));
    EXPECT_TRUE(fs::is_symlink(dir.path("hop.obj")));
    EXPECT_TRUE(fs::is_symlink(dir.path("out.mtl")));
    EXPECT_EQ(read_file(dir.path("real/target.obj")), fresh.obj);
    EXPECT_EQ(read_file(dir.path("real/target.mtl")), fresh.mtl);
    EXPECT_EQ(permissions(dir.path("real/target.obj")), fs::perms(0640));
    EXPECT_EQ(permissions(dir.path("real/target.mtl")), fs::perms(0644)) << "a new file under umask 022";

    ASSERT_EQ(run_in(dir, {"meshwright", "in.bsp", "new.obj"}).status, 0);
    EXPECT_EQ(permissions(dir.path("new.obj")), fs::perms(0644));
    EXPECT_EQ(permissions(dir.path("new.mtl")), fs::perms(0644));
#endif
}

struct GuardCase {
    const char* name;
    std::vector<std::string> args;
    std::function<void(const TempDir&)> prepare;
    const char* message;
};

// Each case is refused with its message, after the level was read, and
// leaves every file as it was.
void expect_refused(const std::vector<GuardCase>& cases)
{
    LevelPlan plan;
    plan.models = {"m"};
    add_surface(plan, 0, "wall", {});
    const std::string level = text_of(build_level(plan));
    const std::string closing_line = "final position: " + std::to_string(level.size()) + " counter: \n";
    for (const GuardCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        put_files(dir, {{"in.bsp", level}, {"previous", "previous\n"}});
        c.prepare(dir);
        const Files before = folder_contents(dir.root());
        std::vector<std::string> argv = {"meshwright"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(run_in(dir, argv), (Outcome{closing_line + exception_line(c.message), "", 1, before}));
    }
}

TEST(SafeOutput, MaterialFileMayNeitherBeTheOutputNorTheInput)
{
    expect_refused({
        {"material file a hard link of the OBJ",
         {"in.bsp", "o.obj"},
         [](const TempDir& dir) {
             fs::create_hard_link(u8path(dir.path("previous")), u8path(dir.path("o.obj")));
             fs::create_hard_link(u8path(dir.path("previous")), u8path(dir.path("o.mtl")));
         },
         messages::material_replaces_output},
        {"input named like the material file",
         {"a.mtl", "a.obj"},
         [](const TempDir& dir) { fs::rename(u8path(dir.path("in.bsp")), u8path(dir.path("a.mtl"))); },
         messages::material_replaces_input},
        {"material file a hard link of the input",
         {"in.bsp", "x.obj"},
         [](const TempDir& dir) { fs::create_hard_link(u8path(dir.path("in.bsp")), u8path(dir.path("x.mtl"))); },
         messages::material_replaces_input},
    });
}

TEST(SafeOutput, MaterialFileLinkedToTheOutputIsRefused)
{
#if defined(_WIN32)
    GTEST_SKIP() << "symbolic links need privileges on Windows";
#else
    expect_refused({
        {"material file linked to the OBJ",
         {"in.bsp", "o.obj"},
         [](const TempDir& dir) { fs::create_symlink("o.obj", dir.path("o.mtl")); },
         messages::material_replaces_output},
        {"material file linked to where the OBJ would go",
         {"in.bsp", "o.obj"},
         [](const TempDir& dir) {
             fs::create_directory(dir.path("sub"));
             fs::create_symlink("sub/../o.obj", dir.path("o.mtl"));
         },
         messages::material_replaces_output},
    });
#endif
}

// Reads everything that arrives at a FIFO until the writer closes it.
class FifoReader {
  public:
    explicit FifoReader(const std::string& path)
        : thread_([this, path] {
              std::ifstream in(path, std::ios::binary);
              std::ostringstream all;
              all << in.rdbuf();
              text_ = all.str();
          })
    {
    }
    std::string text()
    {
        thread_.join();
        return text_;
    }

  private:
    std::string text_;
    std::thread thread_;
};

TEST(SafeOutput, SpecialFilesAreWrittenInPlace)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no FIFOs or devices to make in a folder";
#else
    const std::string level = one_triangle_level("wall");
    const Converted fresh = converted(level);

    TempDir dir;
    put_files(dir, {{"in.bsp", level}});
    ASSERT_EQ(mkfifo(dir.path("out.obj").c_str(), 0644), 0);
    if (mknod(dir.path("out.mtl").c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0)
        GTEST_SKIP() << "cannot make a full device here (" << std::strerror(errno) << ")";
    FifoReader reader(dir.path("out.obj"));
    const Outcome outcome = run_in(dir, {"meshwright", "in.bsp", "out.obj"});
    EXPECT_EQ(reader.text(), fresh.obj);
    EXPECT_EQ(outcome, (Outcome{fresh.closing_line + exception_line(messages::unwritable_material),
                                "",
                                1,
                                {{"in.bsp", level}, {"out.obj", "<special file>"}, {"out.mtl", "<special file>"}}}));
#endif
}

TEST(SafeOutput, FolderThatTakesNoNewFilesIsWrittenInPlace)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no POSIX folder permissions";
#else
    const std::string level = one_triangle_level("wall");
    const Converted fresh = converted(level);

    TempDir dir;
    put_files(dir, {{"in.bsp", level}, {"out.obj", "previous obj\n"}, {"out.mtl", "previous mtl\n"}});
    fs::permissions(dir.path("out.obj"), fs::perms(0666));
    fs::permissions(dir.path("out.mtl"), fs::perms(0666));
    fs::permissions(dir.root(), fs::perms(0555));
    // Root may create files anywhere, so the run drops to an ordinary user.
    const Outcome outcome = run_in(dir, {"meshwright", "in.bsp", "out.obj"}, {.user = 65534});
    fs::permissions(dir.root(), fs::perms(0700));
    EXPECT_EQ(
        outcome,
        (Outcome{fresh.closing_line, "", 0, {{"in.bsp", level}, {"out.obj", fresh.obj}, {"out.mtl", fresh.mtl}}}));
#endif
}

} // namespace

} // namespace meshwright
