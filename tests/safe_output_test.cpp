// Runs the program where writing goes wrong: a full disk, an interrupt, a
// second run on the same output, links, special files and folders that take
// no new files. Whatever happens, the previous files stay whole or are
// replaced whole, and no temporary file is left behind.
#if defined(_WIN32)
#include "base/windows.hpp"
#else
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
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
#include "output_test_helpers.hpp"
#include "program_runner.hpp"
#include "temp_dir.hpp"

namespace meshwright {

namespace {

namespace fs = std::filesystem;

TEST(SafeOutput, FullDiskKeepsThePreviousFiles)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no file size limit to stand in for a full disk";
#else
    const std::string level = many_textures_level();
    const Converted fresh = converted(level);
    ASSERT_LT(fresh.obj.size(), 13000u);
    ASSERT_GT(fresh.mtl.size(), 13000u);
    const Files previous = {
        {"in.bsp", level}, {"out.obj", "previous obj\n"}, {"out.mtl", "previous mtl\n"}, {"out.glb", "previous glb\n"}};
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
         {fresh.closing_line + exception_line(messages::unopenable_obj), "", 1, previous}},
        {"the binary glTF file does not fit",
         {"in.bsp", "out.glb"},
         100,
         {fresh.closing_line + exception_line(messages::unwritable_gltf), "", 1, previous}},
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

// A run killed outright leaves its temporary files; later runs are not
// hindered by them.
TEST(SafeOutput, FilesLeftByAKilledRunDoNotHinderTheNext)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no POSIX signals";
#else
    const std::string level = large_level("stone", 3);
    TempDir dir;
    put_files(dir, {{"in.bsp", level}});
    for (int round = 0; round < 3; ++round) {
        RunningProgram run(dir, {"meshwright", "in.bsp", "out.obj"});
        wait_for_temporary_file(dir);
        kill(static_cast<pid_t>(run.pid()), SIGKILL);
        run.finish();
    }
    ASSERT_FALSE(temporary_files(dir.root()).empty());
    EXPECT_EQ(run_in(dir, {"meshwright", "in.bsp", "out.obj"}).status, 0);
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

// Two runs on one output: the pair is one run's whole, never a mix. A run
// whose destination another run replaced while it worked leaves that pair
// and fails with the write message.
TEST(SafeOutput, ConcurrentRunsLeaveOneWholePair)
{
    const std::string big = many_materials_level();
    const std::string small = one_triangle_level("small");
    const Converted big_pair = converted(big);
    const Converted small_pair = converted(small);
    const auto failed_or_done = [](const Outcome& outcome, const std::string& closing_line) {
        return outcome.out == closing_line || outcome.out == closing_line + exception_line(messages::unwritable_obj) ||
               outcome.out == closing_line + exception_line(messages::unwritable_material);
    };
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        TempDir dir;
        put_files(dir, {{"big.bsp", big}, {"small.bsp", small}});
        if (round >= 2)
            put_files(dir, {{"out.obj", "previous obj\n"}, {"out.mtl", "previous mtl\n"}});
        RunningProgram first(dir, {"meshwright", "big.bsp", "out.obj"});
        // The small run starts together with the big one, or while the big
        // one writes its files.
        if (round % 2 == 1)
            wait_for_temporary_file(dir);
        RunningProgram second(dir, {"meshwright", "small.bsp", "out.obj"});
        const Outcome small_outcome = second.finish();
        const Outcome outcome = first.finish();
        EXPECT_TRUE(failed_or_done(small_outcome, small_pair.closing_line)) << small_outcome.out;
        EXPECT_TRUE(failed_or_done(outcome, big_pair.closing_line)) << outcome.out;
        const std::pair written{outcome.files.at("out.obj"), outcome.files.at("out.mtl")};
        if (written == std::pair(big_pair.obj, big_pair.mtl))
            EXPECT_EQ(outcome.status, 0);
        else if (written == std::pair(small_pair.obj, small_pair.mtl))
            EXPECT_EQ(small_outcome.status, 0);
        else
            ADD_FAILURE() << written.first.size() << " bytes of OBJ beside " << written.second.size()
                          << " bytes of material file";
        EXPECT_EQ(outcome.files.size(), 4u) << "no temporary file remains";
    }
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

    // A relative link leads on from its own folder, not the working one.
    fs::create_directory(dir.path("sub"));
    put_files(dir, {{"sub/target.obj", "previous obj\n"}});
    fs::create_symlink("target.obj", dir.path("sub/linked.obj"));
    ASSERT_EQ(run_in(dir, {"meshwright", "in.bsp", "sub/linked.obj"}).status, 0);
    EXPECT_TRUE(fs::is_symlink(dir.path("sub/linked.obj")));
    EXPECT_EQ(geometry_of(read_file(dir.path("sub/target.obj"))), geometry_of(fresh.obj));
    EXPECT_FALSE(fs::exists(dir.path("target.obj")));
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
void expect_refused(const std::vector<GuardCase>& cases, const RunOptions& options = {})
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
        EXPECT_EQ(run_in(dir, argv, options), (Outcome{closing_line + exception_line(c.message), "", 1, before}));
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
        {"material file linked through a folder link to where the OBJ would go",
         {"in.bsp", "o.obj"},
         [](const TempDir& dir) {
             fs::create_directory_symlink(".", dir.path("here"));
             fs::create_symlink("here/o.obj", dir.path("o.mtl"));
         },
         messages::material_replaces_output},
    });
#endif
}

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

// A folder that takes no new files leaves no safe way to write a regular
// file: the run is refused before anything is written, whatever else would
// have gone wrong later, and both files stay as they were.
TEST(SafeOutput, FolderThatTakesNoNewFilesChangesNothing)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no POSIX folder permissions";
#else
    const std::string level = one_triangle_level("wall");
    const std::string refused =
        converted(level).closing_line + exception_line(messages::unopenable_obj);
    struct Case {
        const char* name;
        Files files;
        uint64_t file_size;
    };
    const Case cases[] = {
        {"a writable pair", {{"out.obj", "previous obj\n"}, {"out.mtl", "previous mtl\n"}}, RunOptions::unlimited},
        {"no material file", {{"out.obj", "previous obj\n"}}, RunOptions::unlimited},
        {"a write-protected material file", {{"out.obj", "previous obj\n"}, {"out.mtl", "protected\n"}},
         RunOptions::unlimited},
        {"a file size limit", {{"out.obj", std::string(8192, 'o')}, {"out.mtl", "previous mtl\n"}}, 4096},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        put_files(dir, {{"in.bsp", level}});
        put_files(dir, c.files);
        for (const auto& [name, content] : c.files)
            fs::permissions(dir.path(name), fs::perms(name == "out.mtl" && content == "protected\n" ? 0444 : 0666));
        const Files before = folder_contents(dir.root());
        fs::permissions(dir.root(), fs::perms(0555));
        // Root may create files anywhere, so the run drops to an ordinary user.
        const Outcome outcome =
            run_in(dir, {"meshwright", "in.bsp", "out.obj"}, {.file_size = c.file_size, .user = other_user});
        fs::permissions(dir.root(), fs::perms(0700));
        EXPECT_EQ(outcome, (Outcome{refused, "", 1, before}));
    }
#endif
}

TEST(SafeOutput, DestinationsTheCallerMayNotWriteAreRefused)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no POSIX permissions";
#else
    const auto writable_folder = [](const TempDir& dir) { fs::permissions(dir.root(), fs::perms(0777)); };
    expect_refused(
        {
            {"write-protected OBJ",
             {"in.bsp", "keep.obj"},
             [&](const TempDir& dir) {
                 writable_folder(dir);
                 put_files(dir, {{"keep.obj", "keep\n"}});
                 fs::permissions(dir.path("keep.obj"), fs::perms(0444));
             },
             messages::unopenable_obj},
            {"write-protected material file",
             {"in.bsp", "out.obj"},
             [&](const TempDir& dir) {
                 writable_folder(dir);
                 put_files(dir, {{"out.mtl", "keep\n"}});
                 fs::permissions(dir.path("out.mtl"), fs::perms(0444));
             },
             messages::unopenable_material},
            {"read-only level as its own output",
             {"in.bsp", "in.bsp"},
             [&](const TempDir& dir) {
                 writable_folder(dir);
                 fs::permissions(dir.path("in.bsp"), fs::perms(0444));
             },
             messages::unopenable_obj},
            {"name longer than the folder takes", {"in.bsp", std::string(252, 'n') + ".obj"}, writable_folder,
             messages::unopenable_obj},
            {"'..' out of a folder the caller may not search",
             {"in.bsp", "a/b/../o.obj"},
             [&](const TempDir& dir) {
                 writable_folder(dir);
                 fs::create_directories(dir.path("a/b"));
                 fs::permissions(dir.path("a"), fs::perms(0777));
                 // Its names may be read, not looked up.
                 fs::permissions(dir.path("a/b"), fs::perms(0666));
             },
             messages::unopenable_obj},
        },
        {.user = other_user});
#endif
}

// A name of the longest length the folder takes converts; one byte more is
// refused before anything is written (above). Names in any script convert,
// and on Windows, where case does not tell files apart, a material file
// name that differs from the output's in case alone is the output itself.
TEST(SafeOutput, NamesOfEveryLengthScriptAndCase)
{
    const std::string level = one_triangle_level("wall");
    const Converted fresh = converted(level);
    std::string cjk;
    for (int i = 0; i < 70; ++i)
        cjk += "\xE5\x85\xB3"; // 关
    struct Case {
        std::string output;
        std::string material;
        bool converts;
    };
    std::vector<Case> cases = {{cjk + ".obj", cjk + ".mtl", true}};
#if defined(_WIN32)
    cases.push_back({"out.MTL", "out.mtl", false});
#else
    cases.push_back({"out.MTL", "out.mtl", true});
    cases.push_back({std::string(251, 'n') + ".obj", std::string(251, 'n') + ".mtl", true});
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output.size());
        TempDir dir;
        put_files(dir, {{"in.bsp", level}});
        const Outcome outcome = run_in(dir, {"meshwright", "in.bsp", c.output});
        if (!c.converts) {
            EXPECT_EQ(outcome, (Outcome{fresh.closing_line + exception_line(messages::material_replaces_output),
                                        "",
                                        1,
                                        {{"in.bsp", level}}}));
            continue;
        }
        ASSERT_EQ(outcome.status, 0) << outcome.out;
        EXPECT_EQ(outcome.files.size(), 3u);
        EXPECT_EQ(outcome.files.at(c.material), fresh.mtl);
        EXPECT_EQ(geometry_of(outcome.files.at(c.output)), geometry_of(fresh.obj));
    }
}

#if !defined(_WIN32)
// A small tmpfs inside a test folder, where the tests may mount one.
class SmallFileSystem {
  public:
    SmallFileSystem(const std::string& path, const char* options) : path_(path)
    {
        fs::create_directory(path);
        mounted_ = mount("tmpfs", path.c_str(), "tmpfs", 0, options) == 0;
    }
    ~SmallFileSystem()
    {
        if (mounted_)
            umount2(path_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }

  private:
    std::string path_;
    bool mounted_ = false;
};
#endif

// When no temporary file can be made for any reason but a folder that
// refuses new files, or when the only way left is to write over the level
// itself, the run is refused and the level stays whole.
TEST(SafeOutput, OutputsThatCannotBeStagedChangeNothing)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no file systems to mount and no file size limit";
#else
    const std::string level = many_textures_level();
    const std::string failed =
        "final position: " + std::to_string(level.size()) + " counter: \n" + exception_line(messages::unopenable_obj);
    {
        SCOPED_TRACE("no free inode");
        TempDir dir;
        const SmallFileSystem small(dir.path("small"), "size=2m,nr_inodes=3");
        if (small.mounted()) {
            put_files(dir, {{"small/level.bsp", level}, {"small/filler", ""}});
            const Files before = folder_contents(dir.path("small"));
            EXPECT_EQ(run_in(dir, {"meshwright", "small/level.bsp", "small/level.bsp"}),
                      (Outcome{failed, "", 1, {{"small", "<directory>"}}}));
            EXPECT_EQ(folder_contents(dir.path("small")), before);
        } else {
            std::printf("cannot mount a tmpfs here: the case of no free inode is left out\n");
        }
    }
    {
        SCOPED_TRACE("folder that takes no new files, with a file size limit");
        TempDir dir;
        put_files(dir, {{"level.bsp", level}});
        fs::permissions(dir.path("level.bsp"), fs::perms(0666));
        fs::permissions(dir.root(), fs::perms(0555));
        const Outcome outcome =
            run_in(dir, {"meshwright", "level.bsp", "level.bsp"}, {.file_size = 4096, .user = other_user});
        fs::permissions(dir.root(), fs::perms(0700));
        EXPECT_EQ(outcome, (Outcome{failed, "", 1, {{"level.bsp", level}}}));
    }
#endif
}

// Another user on the machine can neither read an output while it is
// written nor send it elsewhere with a link planted in a shared folder.
TEST(SafeOutput, OtherUsersCanNeitherReadNorRedirectOutputs)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no POSIX permissions or sticky folders";
#else
    const std::string level = large_level("stone", 3);
    TempDir dir;
    put_files(dir, {{"in.bsp", level}});
    RunningProgram run(dir, {"meshwright", "in.bsp", "out.obj"});
    int seen = 0;
    for (auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
         std::chrono::steady_clock::now() < give_up && seen < 50;) {
        for (const fs::path& temporary : temporary_files(dir.root())) {
            struct stat info {};
            if (stat(temporary.c_str(), &info) == 0) {
                ++seen;
                EXPECT_EQ(info.st_mode & 0777, 0600u) << "a temporary file others may read";
            }
        }
    }
    EXPECT_GT(seen, 0) << "no temporary file was seen";
    EXPECT_EQ(run.finish().status, 0);
    EXPECT_EQ(permissions(dir.path("out.obj")), fs::perms(0644));

    if (!running_as_root())
        GTEST_SKIP() << "links of another user need root to make";
    const std::string small = one_triangle_level("wall");
    const Converted fresh = converted(small);
    struct Case {
        const char* name;
        unsigned link_owner;
        unsigned folder_owner;
        bool followed;
    };
    const Case cases[] = {
        {"another user's link", other_user, 0, false},
        {"the caller's own link", 0, other_user, true},
        {"a link of the folder's owner", other_user, other_user, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir shared;
        put_files(shared, {{"in.bsp", small}, {"notes.txt", "notes\n"}});
        fs::create_directory(shared.path("tmp"));
        ASSERT_EQ(chown(shared.path("tmp").c_str(), c.folder_owner, c.folder_owner), 0);
        fs::permissions(shared.path("tmp"), fs::perms(01777));
        fs::create_symlink("../notes.txt", shared.path("tmp/out.mtl"));
        ASSERT_EQ(lchown(shared.path("tmp/out.mtl").c_str(), c.link_owner, c.link_owner), 0);
        const Outcome outcome = run_in(shared, {"meshwright", "in.bsp", "tmp/out.obj"});
        EXPECT_EQ(outcome.files.at("notes.txt"), c.followed ? fresh.mtl : "notes\n");
        EXPECT_EQ(outcome.out, fresh.closing_line + (c.followed ? "" : exception_line(messages::unopenable_material)));
        EXPECT_EQ(fs::exists(shared.path("tmp/out.obj")), c.followed);
    }
#endif
}

// What another user plants in a shared folder like /tmp has no power over
// a run: a link that stands for a folder of the path is followed no more
// than one that stands for the file, and a FIFO is not written, even when
// its owner holds it open without reading. The run ends at once with the
// open message; the files the link leads to stay as they were.
TEST(SafeOutput, WhatOtherUsersPlantIsRefused)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no sticky folders";
#else
    if (!running_as_root())
        GTEST_SKIP() << "files of another user need root to make";
    const std::string level = one_triangle_level("wall");
    const Converted fresh = converted(level);
    struct Case {
        const char* name;
        unsigned owner; // of what is planted
        const char* output;
        bool followed;
    };
    const Case cases[] = {
        {"another user's link for a folder", other_user, "st/proj/out.obj", false},
        {"another user's FIFO", other_user, "st/out.obj", false},
        {"the folder owner's link for a folder", 0, "st/proj/out.obj", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        put_files(dir, {{"in.bsp", level}});
        fs::create_directory(dir.path("st"));
        fs::permissions(dir.path("st"), fs::perms(01777));
        fs::create_directory(dir.path("victim"));
        fs::create_directory_symlink("../victim", dir.path("st/proj"));
        ASSERT_EQ(lchown(dir.path("st/proj").c_str(), c.owner, c.owner), 0);
        ASSERT_EQ(mkfifo(dir.path("st/out.obj").c_str(), 0666), 0);
        ASSERT_EQ(chown(dir.path("st/out.obj").c_str(), c.owner, c.owner), 0);
        // Open for reading, never read: a writer would fill it and wait.
        const int holder = open(dir.path("st/out.obj").c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(holder, 0);
        RunningProgram run(dir, {"meshwright", "in.bsp", c.output});
        EXPECT_TRUE(run.ends_within(2));
        const Outcome outcome = run.finish();
        close(holder);
        if (c.followed) {
            EXPECT_EQ(outcome.status, 0);
            EXPECT_EQ(read_file(dir.path("victim/out.mtl")), fresh.mtl);
            continue;
        }
        EXPECT_EQ(outcome.out, fresh.closing_line + exception_line(messages::unopenable_obj));
        EXPECT_EQ(outcome.status, 1);
        EXPECT_TRUE(fs::is_empty(dir.path("victim")));
        EXPECT_EQ(folder_contents(dir.path("st")).size(), 2u);
    }
#endif
}

#if !defined(_WIN32)
// An access list in the system's own form, from its entries: tag,
// permissions and the user or group they name.
struct AccessEntry {
    uint16_t tag;
    uint16_t permissions;
    uint32_t id = 0xFFFFFFFF;
};

std::string access_list(std::initializer_list<AccessEntry> entries)
{
    const uint32_t version = 2;
    std::string bytes(reinterpret_cast<const char*>(&version), 4);
    for (const AccessEntry& entry : entries) {
        char packed[8];
        std::memcpy(&packed[0], &entry.tag, 2);
        std::memcpy(&packed[2], &entry.permissions, 2);
        std::memcpy(&packed[4], &entry.id, 4);
        bytes.append(packed, 8);
    }
    return bytes;
}

enum : uint16_t { owner_entry = 0x01, user_entry = 0x02, group_entry = 0x04, mask_entry = 0x10, other_entry = 0x20 };

// The owner may read and write, user 1234 and the group may read.
std::string access_list()
{
    return access_list({{owner_entry, 6}, {user_entry, 4, 1234}, {group_entry, 4}, {mask_entry, 4}, {other_entry, 0}});
}

std::string attribute(const std::string& path, const char* name)
{
    char value[256];
    const ssize_t size = getxattr(path.c_str(), name, value, sizeof value);
    return size < 0 ? "<none>" : std::string(value, static_cast<size_t>(size));
}
#endif

// A replaced file keeps what it had: owner and group where the caller may
// give them (root), access lists and extended attributes, permission bits;
// setuid and setgid only with the owner.
TEST(SafeOutput, ReplacedFilesKeepTheirOwnerAndAttributes)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows keeps permissions in access lists inherited from the folder";
#else
    if (!running_as_root())
        GTEST_SKIP() << "giving files to other users needs root";
    const std::string level = one_triangle_level("wall");
    const Converted fresh = converted(level);
    {
        SCOPED_TRACE("root replacing another user's file");
        TempDir dir;
        put_files(dir, {{"in.bsp", level}, {"out.obj", "previous\n"}});
        const std::string out = dir.path("out.obj");
        ASSERT_EQ(chown(out.c_str(), other_user, other_user), 0);
        const std::string list = access_list();
        if (setxattr(out.c_str(), "system.posix_acl_access", list.data(), list.size(), 0) != 0 ||
            setxattr(out.c_str(), "user.note", "kept", 4, 0) != 0)
            GTEST_SKIP() << "no access lists or extended attributes here (" << std::strerror(errno) << ")";
        const std::string list_before = attribute(out, "system.posix_acl_access");
        const fs::perms mode_before = permissions(out);
        ASSERT_EQ(run_in(dir, {"meshwright", "in.bsp", "out.obj"}).status, 0);
        struct stat info {};
        ASSERT_EQ(stat(out.c_str(), &info), 0);
        EXPECT_EQ(read_file(out), fresh.obj);
        EXPECT_EQ(info.st_uid, other_user);
        EXPECT_EQ(info.st_gid, other_user);
        EXPECT_EQ(permissions(out), mode_before);
        EXPECT_EQ(attribute(out, "system.posix_acl_access"), list_before);
        EXPECT_EQ(attribute(out, "user.note"), "kept");
    }
    {
        SCOPED_TRACE("another user replacing root's setuid file");
        TempDir dir;
        put_files(dir, {{"in.bsp", level}, {"out.obj", "previous\n"}});
        fs::permissions(dir.root(), fs::perms(0777));
        ASSERT_EQ(chmod(dir.path("out.obj").c_str(), 06666), 0);
        ASSERT_EQ(run_in(dir, {"meshwright", "in.bsp", "out.obj"}, {.user = other_user}).status, 0);
        struct stat info {};
        ASSERT_EQ(stat(dir.path("out.obj").c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, other_user);
        EXPECT_EQ(info.st_mode & 07777, 0666u) << "setuid and setgid must not pass to another owner";
    }
    {
        SCOPED_TRACE("root replacing its own setuid program with a capability");
        TempDir dir;
        put_files(dir, {{"in.bsp", level}, {"out.obj", "previous\n"}});
        const std::string out = dir.path("out.obj");
        ASSERT_EQ(chmod(out.c_str(), 06755), 0);
        // Version 2, effective, permitting CAP_NET_BIND_SERVICE.
        const uint32_t capability[5] = {0x02000001, 1u << 10, 0, 0, 0};
        if (setxattr(out.c_str(), "security.capability", capability, sizeof capability, 0) != 0)
            GTEST_SKIP() << "no file capabilities here (" << std::strerror(errno) << ")";
        const std::string capability_before = attribute(out, "security.capability");
        ASSERT_EQ(run_in(dir, {"meshwright", "in.bsp", "out.obj"}).status, 0);
        EXPECT_EQ(read_file(out), fresh.obj);
        EXPECT_EQ(permissions(out), fs::perms(06755));
        EXPECT_EQ(attribute(out, "security.capability"), capability_before);
    }
#endif
}

// A member of a file's group who replaces it keeps the group, so that its
// owner and group read it as before; where the group cannot be kept, its
// bits go to the caller's group only as far as everyone had them.
TEST(SafeOutput, ReplacedFilesGiveNobodyMoreAccess)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows keeps permissions in access lists inherited from the folder";
#else
    if (!running_as_root())
        GTEST_SKIP() << "files of other users and groups need root to make";
    const std::string level = one_triangle_level("wall");
    constexpr unsigned owner = 1234;
    constexpr unsigned shared_group = 4321;
    struct Case {
        const char* name;
        unsigned mode;
        std::vector<unsigned> caller_groups;
        unsigned group_after;
        unsigned mode_after;
        unsigned caller = other_user;
    };
    const Case cases[] = {
        {"a member of the file's group", 0660, {shared_group}, shared_group, 0660},
        {"someone who writes it as anyone may", 0662, {}, other_user, 0622},
        // The owner stays, the group does not: its bits and setgid go.
        {"its owner, outside its group", 02670, {}, owner, 0600, owner},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        put_files(dir, {{"in.bsp", level}, {"out.obj", "previous\n"}});
        fs::permissions(dir.root(), fs::perms(0777));
        const std::string out = dir.path("out.obj");
        ASSERT_EQ(chown(out.c_str(), owner, shared_group), 0);
        ASSERT_EQ(chmod(out.c_str(), c.mode), 0);
        ASSERT_EQ(run_in(dir, {"meshwright", "in.bsp", "out.obj"}, {.user = c.caller, .groups = c.caller_groups})
                      .status,
                  0);
        struct stat info {};
        ASSERT_EQ(stat(out.c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, c.caller) << "only root gives a file away";
        EXPECT_EQ(info.st_gid, c.group_after);
        EXPECT_EQ(info.st_mode & 07777, c.mode_after);
    }
#endif
}

// A new file in a folder with a default access list gets the list, as any
// program's new file there does; the umask does not narrow it.
TEST(SafeOutput, NewFilesTakeTheFolderDefaultAccessList)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows keeps permissions in access lists inherited from the folder";
#else
    // Everyone named may do everything; a new file is made for reading and
    // writing, so its list allows that much.
    const std::string folder_default = access_list(
        {{owner_entry, 7}, {user_entry, 7, 1234}, {group_entry, 5}, {mask_entry, 7}, {other_entry, 5}});
    const std::string expected = access_list(
        {{owner_entry, 6}, {user_entry, 7, 1234}, {group_entry, 5}, {mask_entry, 6}, {other_entry, 4}});
    const std::string level = one_triangle_level("wall");
    TempDir dir;
    put_files(dir, {{"in.bsp", level}});
    fs::create_directory(dir.path("shared"));
    if (setxattr(dir.path("shared").c_str(), "system.posix_acl_default", folder_default.data(), folder_default.size(),
                 0) != 0)
        GTEST_SKIP() << "no access lists here (" << std::strerror(errno) << ")";
    ASSERT_EQ(run_in(dir, {"meshwright", "in.bsp", "shared/out.obj"}).status, 0);
    for (const char* name : {"shared/out.obj", "shared/out.mtl"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(attribute(dir.path(name), "system.posix_acl_access"), expected);
        EXPECT_EQ(permissions(dir.path(name)), fs::perms(0664));
    }
#endif
}

// In a folder whose files cannot be removed (append-only), a failed run
// would leave its temporary files for good: the run is refused first.
TEST(SafeOutput, FolderThatKeepsEveryFileIsRefused)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no append-only folders";
#else
    const std::string level = one_triangle_level("wall");
    TempDir dir;
    put_files(dir, {{"in.bsp", level}});
    fs::create_directory(dir.path("log"));
    const int folder = open(dir.path("log").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(folder, 0);
    int flags = 0;
    if (ioctl(folder, FS_IOC_GETFLAGS, &flags) != 0 || (flags |= FS_APPEND_FL, ioctl(folder, FS_IOC_SETFLAGS, &flags)) != 0) {
        close(folder);
        GTEST_SKIP() << "cannot make an append-only folder here (" << std::strerror(errno) << ")";
    }
    const Outcome outcome = run_in(dir, {"meshwright", "in.bsp", "log/out.obj"});
    flags &= ~FS_APPEND_FL;
    ioctl(folder, FS_IOC_SETFLAGS, &flags);
    close(folder);
    EXPECT_EQ(outcome.out, converted(level).closing_line + exception_line(messages::unopenable_obj));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(fs::is_empty(dir.path("log")));
#endif
}

// Another process holding the folder lock, or a FIFO nobody reads, delays
// a run by a few seconds at most.
TEST(SafeOutput, NothingMakesARunWaitLong)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no flock or FIFOs";
#else
    const std::string level = one_triangle_level("wall");
    const Converted fresh = converted(level);
    {
        SCOPED_TRACE("folder lock held by another process");
        TempDir dir;
        put_files(dir, {{"in.bsp", level}});
        const int folder = open(dir.root().c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_EQ(flock(folder, LOCK_EX), 0);
        RunningProgram run(dir, {"meshwright", "in.bsp", "out.obj"});
        EXPECT_TRUE(run.ends_within(30));
        const Outcome outcome = run.finish();
        close(folder);
        EXPECT_EQ(outcome, (Outcome{fresh.closing_line,
                                    "",
                                    0,
                                    {{"in.bsp", level}, {"out.obj", fresh.obj}, {"out.mtl", fresh.mtl}}}));
    }
    {
        SCOPED_TRACE("material file a FIFO nobody reads");
        TempDir dir;
        put_files(dir, {{"in.bsp", level}});
        ASSERT_EQ(mkfifo(dir.path("out.mtl").c_str(), 0644), 0);
        RunningProgram run(dir, {"meshwright", "in.bsp", "out.obj"});
        EXPECT_TRUE(run.ends_within(30));
        EXPECT_EQ(run.finish(), (Outcome{fresh.closing_line + exception_line(messages::unopenable_material),
                                         "",
                                         1,
                                         {{"in.bsp", level}, {"out.mtl", "<special file>"}}}));
    }
#endif
}

// A console that takes no text fails the run, after its work is done; the
// one message that says so goes to standard error.
TEST(SafeOutput, ConsoleThatCannotBeWrittenFailsTheRun)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no device to make in a folder";
#else
    const std::string level = one_triangle_level("wall");
    const Converted fresh = converted(level);
    for (const char* console : {"full", "-"}) {
        SCOPED_TRACE(console);
        TempDir dir;
        put_files(dir, {{"in.bsp", level}});
        if (mknod(dir.path("full").c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0)
            GTEST_SKIP() << "cannot make a full device here (" << std::strerror(errno) << ")";
        EXPECT_EQ(
            run_in(dir, {"meshwright", "-v", "in.bsp", "out.obj"}, {.stdout_file = console}),
            (Outcome{"",
                     std::string(messages::console_unwritable) + "\n",
                     1,
                     {{"in.bsp", level}, {"full", "<special file>"}, {"out.obj", fresh.obj}, {"out.mtl", fresh.mtl}}}));
    }
#endif
}

// An OBJ written into a device or FIFO gets no material file beside it:
// there is no "beside" for a device.
TEST(SafeOutput, DevicesAndFifosGetNoMaterialFileBeside)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no FIFOs or devices to make in a folder";
#else
    const std::string level = one_triangle_level("wall");
    const Converted fresh = converted(level);
    {
        SCOPED_TRACE("null device");
        TempDir dir;
        put_files(dir, {{"in.bsp", level}});
        if (mknod(dir.path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
            GTEST_SKIP() << "cannot make a null device here (" << std::strerror(errno) << ")";
        EXPECT_EQ(run_in(dir, {"meshwright", "in.bsp", "null"}),
                  (Outcome{fresh.closing_line, "", 0, {{"in.bsp", level}, {"null", "<special file>"}}}));
    }
    {
        SCOPED_TRACE("FIFO");
        TempDir dir;
        put_files(dir, {{"in.bsp", level}});
        ASSERT_EQ(mkfifo(dir.path("pipe.obj").c_str(), 0644), 0);
        FifoReader reader(dir.path("pipe.obj"));
        const Outcome outcome = run_in(dir, {"meshwright", "in.bsp", "pipe.obj"});
        EXPECT_EQ(geometry_of(reader.text()), geometry_of(fresh.obj));
        EXPECT_EQ(outcome, (Outcome{fresh.closing_line, "", 0, {{"in.bsp", level}, {"pipe.obj", "<special file>"}}}));
    }
    {
        SCOPED_TRACE("FIFOs for both, read slowly");
        // Both far more than a pipe holds: the writer waits for its reader.
        const std::string many = large_level("stone", 3, 2000);
        const Converted many_fresh = converted(many);
        TempDir dir;
        put_files(dir, {{"in.bsp", many}});
        ASSERT_EQ(mkfifo(dir.path("out.obj").c_str(), 0644), 0);
        ASSERT_EQ(mkfifo(dir.path("out.mtl").c_str(), 0644), 0);
        FifoReader obj_reader(dir.path("out.obj"), std::chrono::milliseconds(300));
        FifoReader mtl_reader(dir.path("out.mtl"), std::chrono::milliseconds(300));
        const Outcome outcome = run_in(dir, {"meshwright", "in.bsp", "out.obj"});
        EXPECT_EQ(obj_reader.text(), many_fresh.obj);
        EXPECT_EQ(mtl_reader.text(), many_fresh.mtl);
        EXPECT_EQ(outcome.status, 0) << outcome.out;
    }
#endif
}

// A pipe or file handed over as an open file's link ("/dev/fd/N",
// "/proc/self/fd/N", a shell's ">(...)") is written as it is, with no
// material file beside it; standard output itself, where the console's
// lines go, is refused.
TEST(SafeOutput, StreamsByAnyName)
{
#if !defined(__linux__)
    GTEST_SKIP() << "open files' links are Linux's";
#else
    const std::string level = one_triangle_level("wall");
    const Converted fresh = converted(level);
    const auto obj_naming = [&](const std::string& material) {
        std::string obj = fresh.obj;
        const size_t at = obj.find("mtllib out.mtl");
        return obj.replace(at + 7, 7, material);
    };
    struct Case {
        const char* name;
        std::vector<std::string> argv;
        RunOptions options;
        Outcome expected;
    };
    const Case cases[] = {
        {"a pipe by its descriptor",
         {"sh", "-c", "\"$0\" in.bsp /proc/self/fd/3 3>&1 >console.txt | cat > piped.obj", MESHWRIGHT_EXE},
         {.program = "/bin/sh"},
         {"", "", 0, {{"in.bsp", level}, {"console.txt", fresh.closing_line}, {"piped.obj", obj_naming("3.mtl")}}}},
        {"standard error, a file", {"meshwright", "in.bsp", "/proc/self/fd/2"}, {},
         {fresh.closing_line, obj_naming("2.mtl"), 0, {{"in.bsp", level}}}},
        {"standard output", {"meshwright", "in.bsp", "/proc/self/fd/1"}, {},
         {fresh.closing_line + exception_line(messages::output_is_standard_output), "", 1, {{"in.bsp", level}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        put_files(dir, {{"in.bsp", level}});
        EXPECT_EQ(run_in(dir, c.argv, c.options), c.expected);
    }
#endif
}

// On Windows, a file that another program holds open without letting it be
// deleted (a viewer, say) cannot be moved: the run fails before it changed
// anything, and the previous pair stays whole.
TEST(SafeOutput, FileHeldOpenByAnotherProgramKeepsThePair)
{
#if !defined(_WIN32)
    GTEST_SKIP() << "files held open stop no rename on Linux";
#else
    const std::string level = one_triangle_level("wall");
    const std::string closing_line = converted(level).closing_line;
    TempDir dir;
    const Files previous = {{"in.bsp", level}, {"out.obj", "previous obj\n"}, {"out.mtl", "previous mtl\n"}};
    put_files(dir, previous);
    const HANDLE held = CreateFileW(u8path(dir.path("out.obj")).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const Outcome outcome = run_in(dir, {"meshwright", "in.bsp", "out.obj"});
    CloseHandle(held);
    EXPECT_EQ(outcome, (Outcome{closing_line + exception_line(messages::unwritable_obj), "", 1, previous}));
#endif
}

// Windows' device names stand for devices in every folder: the null device
// takes the OBJ as /dev/null does, with no material file; a console, port
// or printer is no place for one.
TEST(SafeOutput, WindowsDeviceNames)
{
#if !defined(_WIN32)
    GTEST_SKIP() << "these names are ordinary files on Linux";
#else
    const std::string level = one_triangle_level("wall");
    const std::string closing_line = converted(level).closing_line;
    struct Case {
        const char* output;
        const char* message; // nullptr: converted
    };
    const Case cases[] = {
        {"NUL", nullptr},
        {"nul.obj", nullptr},
        {"CON.obj", messages::unopenable_obj},
        {"AUX", messages::unopenable_obj},
        {"com1.obj", messages::unopenable_obj},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        TempDir dir;
        put_files(dir, {{"in.bsp", level}});
        EXPECT_EQ(run_in(dir, {"meshwright", "in.bsp", c.output}),
                  (Outcome{closing_line + (c.message ? exception_line(c.message) : ""),
                           "",
                           c.message ? 1 : 0,
                           {{"in.bsp", level}}}));
    }
#endif
}

} // namespace

} // namespace meshwright
