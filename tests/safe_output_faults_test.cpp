// Stops the program at chosen system calls (with strace) or holds it at the
// folder lock, then interrupts it or changes its folder: at every such step
// the outputs are the previous pair or the new one, never a mix, nothing
// another program put there is lost, and no temporary file remains.
#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <thread>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/messages.hpp"
#include "level_builder.hpp"
#include "output_test_helpers.hpp"
#include "program_runner.hpp"
#include "temp_dir.hpp"

namespace meshwright {

namespace {

namespace fs = std::filesystem;

#if !defined(_WIN32)

// A signal sent as the `when`th call of `syscall` begins; one that the
// program holds back waits while the call runs.
RunOptions signal_at(const std::string& syscall, int when, const char* signal_name)
{
    return {.strace = {"-e", "trace=" + syscall, "-e",
                       "inject=" + syscall + ":signal=" + signal_name + ":when=" + std::to_string(when)}};
}

// The numbers (from 1) of the calls of `syscall` whose traced line
// contains `text`, in a run of `argv` on `files`, with the `traced` calls
// (`syscall` among them) and strace's `failing` injections into them.
std::vector<int> calls_naming(const std::string& syscall, const std::string& text, const Files& files,
                              const std::vector<std::string>& argv, const std::string& traced = "",
                              const std::string& failing = "")
{
    TempDir dir;
    put_files(dir, files);
    std::vector<std::string> strace = {"-e", "trace=" + (traced.empty() ? syscall : traced)};
    if (!failing.empty())
        strace.insert(strace.end(), {"-e", failing});
    RunningProgram run(dir, argv, {.strace = strace});
    run.finish();
    std::istringstream trace(run.trace());
    std::vector<int> numbers;
    int calls = 0;
    for (std::string line; std::getline(trace, line);) {
        if (line.starts_with(syscall + "(") && ++calls && line.find(text) != std::string::npos)
            numbers.push_back(calls);
    }
    return numbers;
}

// How often a clean run of `argv` on `files` calls `syscall`.
int calls_of(const std::string& syscall, const Files& files, const std::vector<std::string>& argv)
{
    return static_cast<int>(calls_naming(syscall, "", files, argv).size());
}

struct Interrupt {
    const char* signal_name;
    int signal_number;
};

// Waits (half a minute at most) until `done` holds.
void wait_until(const std::function<bool()>& done)
{
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done() && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Takes the files a run kept under a name of their own (".meshwright-old-"
// and 12 characters) out of `files`, and returns their contents.
std::vector<std::string> take_kept_files(std::map<std::string, std::string>& files)
{
    std::vector<std::string> kept;
    std::erase_if(files, [&](const auto& file) {
        const bool old = file.first.starts_with(".meshwright-old-") && file.first.size() == 16 + 12;
        if (old)
            kept.push_back(file.second);
        return old;
    });
    return kept;
}

#endif

// A signal at the lock, between the two swaps, or at any file the run opens:
// every one that ends a program by default (SIGPIPE and SIGXFSZ from another
// process too) removes the temporary files and ends the run with its usual
// status; at the swaps it waits until the pair is whole. SIGKILL cannot
// wait: it leaves temporary files, and the pair is whole before the first
// swap and after the second (between the two, microseconds apart, it would
// split it).
TEST(SafeOutputFaults, SignalsAtEachStepLeaveOneWholePair)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no POSIX signals";
#else
    if (!strace_available())
        GTEST_SKIP() << "strace cannot run the program here";
    const std::string level = one_triangle_level("wall");
    const Converted fresh = converted(level);
    const Files previous = {{"in.bsp", level}, {"out.obj", "previous obj\n"}, {"out.mtl", "previous mtl\n"}};
    const Files renewed = {{"in.bsp", level}, {"out.obj", fresh.obj}, {"out.mtl", fresh.mtl}};
    const std::vector<std::string> argv = {"meshwright", "in.bsp", "out.obj"};
    struct Case {
        std::string syscall;
        int when;
        Interrupt interrupt;
        const Files& expected;
    };
    std::vector<Case> cases;
    // Signals that tell of a fault too, when another process sends them;
    // the address sanitizer keeps its own for SIGSEGV, SIGBUS and SIGFPE.
    const Interrupt stopping[] = {{"SIGHUP", SIGHUP},   {"SIGINT", SIGINT},   {"SIGQUIT", SIGQUIT},
                                  {"SIGPIPE", SIGPIPE}, {"SIGALRM", SIGALRM}, {"SIGTERM", SIGTERM},
                                  {"SIGUSR1", SIGUSR1}, {"SIGUSR2", SIGUSR2}, {"SIGXFSZ", SIGXFSZ},
                                  {"SIGABRT", SIGABRT}, {"SIGTRAP", SIGTRAP}, {"SIGSYS", SIGSYS},
                                  {"SIGILL", SIGILL},
#if !defined(MESHWRIGHT_SANITIZED)
                                  {"SIGSEGV", SIGSEGV}, {"SIGBUS", SIGBUS},   {"SIGFPE", SIGFPE},
#endif
    };
    for (const Interrupt& interrupt : stopping) {
        cases.push_back({"flock", 1, interrupt, previous});
        cases.push_back({"renameat2", 1, interrupt, renewed});
    }
    // Every file the run opens or makes, the temporary files among them.
    const int opened = calls_of("openat", previous, argv);
    ASSERT_GT(opened, 3);
    for (int when = 1; when <= opened; ++when)
        cases.push_back({"openat", when, {"SIGTERM", SIGTERM}, previous});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.syscall + " " + std::to_string(c.when) + " " + c.interrupt.signal_name);
        TempDir dir;
        put_files(dir, previous);
        const Outcome outcome = run_in(dir, argv, signal_at(c.syscall, c.when, c.interrupt.signal_name));
        EXPECT_EQ(outcome.files, c.expected);
        EXPECT_EQ(outcome.status, 128 + c.interrupt.signal_number);
    }
    // A signal the caller ignores (nohup) stays ignored.
    for (const char* syscall : {"flock", "renameat2"}) {
        SCOPED_TRACE(std::string(syscall) + " SIGHUP ignored");
        TempDir dir;
        put_files(dir, previous);
        RunOptions options = signal_at(syscall, 1, "SIGHUP");
        options.ignored_signals = {SIGHUP};
        const Outcome outcome = run_in(dir, argv, options);
        EXPECT_EQ(outcome.files, renewed);
        EXPECT_EQ(outcome.status, 0);
    }
    const Case killed[] = {{"flock", 1, {"SIGKILL", SIGKILL}, previous},
                           {"renameat2", 1, {"SIGKILL", SIGKILL}, previous},
                           {"unlinkat", 1, {"SIGKILL", SIGKILL}, renewed}};
    for (const Case& c : killed) {
        SCOPED_TRACE(c.syscall + " " + std::to_string(c.when) + " SIGKILL");
        TempDir dir;
        put_files(dir, previous);
        Outcome outcome = run_in(dir, argv, signal_at(c.syscall, c.when, "SIGKILL"));
        EXPECT_EQ(outcome.status, 128 + SIGKILL);
        std::erase_if(outcome.files, [](const auto& file) { return is_temporary(file.first); });
        EXPECT_EQ(outcome.files, c.expected);
    }
#endif
}

#if !defined(_WIN32)

// Holds the folder lock the way another run would, so that a run waits at
// the lock, its files finished, while the test changes the folder.
class HeldFolderLock {
  public:
    explicit HeldFolderLock(const fs::path& folder) : file_(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        locked_ = file_ >= 0 && flock(file_, LOCK_EX) == 0;
    }
    ~HeldFolderLock() { release(); }
    HeldFolderLock(const HeldFolderLock&) = delete;
    HeldFolderLock& operator=(const HeldFolderLock&) = delete;
    bool locked() const { return locked_; }
    void release()
    {
        if (file_ >= 0)
            close(file_);
        file_ = -1;
    }

  private:
    int file_;
    bool locked_ = false;
};

// Waits until the run has made `count` temporary files in `folder`.
bool wait_for_temporary_files(const fs::path& folder, size_t count)
{
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (temporary_files(folder).size() < count) {
        if (std::chrono::steady_clock::now() > give_up)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

#endif

// Whatever takes a destination's place while the run works (a folder, where
// the old file stood or where none was; a file another program made) stays
// where it is, the old files too: the run fails with the write message.
TEST(SafeOutputFaults, DestinationsChangedMeanwhileAreKept)
{
#if defined(_WIN32)
    GTEST_SKIP() << "the lock another run holds is a POSIX lock";
#else
    const std::string level = one_triangle_level("wall");
    const std::string closing_line = converted(level).closing_line;
    const auto folder_at = [](const char* name) {
        return [name](const TempDir& dir) {
            fs::rename(dir.path(name), dir.path(std::string("moved-") + name));
            fs::create_directory(dir.path(name));
            put_files(dir, {{std::string(name) + "/keep", "keep\n"}});
        };
    };
    struct Case {
        const char* name;
        Files previous;
        std::function<void(const TempDir&)> change;
        const char* message;
        Files expected;
    };
    const Files pair = {{"out.obj", "previous obj\n"}, {"out.mtl", "previous mtl\n"}};
    const Case cases[] = {
        {"folder where the OBJ was", pair, folder_at("out.obj"), messages::unwritable_obj,
         {{"out.obj", "<directory>"}, {"out.obj/keep", "keep\n"}, {"moved-out.obj", "previous obj\n"},
          {"out.mtl", "previous mtl\n"}}},
        {"folder where the material file was", pair, folder_at("out.mtl"), messages::unwritable_material,
         {{"out.mtl", "<directory>"}, {"out.mtl/keep", "keep\n"}, {"moved-out.mtl", "previous mtl\n"},
          {"out.obj", "previous obj\n"}}},
        {"file where the OBJ was", pair,
         [](const TempDir& dir) {
             fs::remove(dir.path("out.obj"));
             put_files(dir, {{"out.obj", "another program's\n"}});
         },
         messages::unwritable_obj, {{"out.obj", "another program's\n"}, {"out.mtl", "previous mtl\n"}}},
        {"folder where the OBJ was, after a new material file", {{"out.obj", "previous obj\n"}},
         folder_at("out.obj"), messages::unwritable_obj,
         {{"out.obj", "<directory>"}, {"out.obj/keep", "keep\n"}, {"moved-out.obj", "previous obj\n"}}},
        {"folder where no OBJ was, after the material file", {{"out.mtl", "previous mtl\n"}},
         [](const TempDir& dir) {
             fs::create_directory(dir.path("out.obj"));
             put_files(dir, {{"out.obj/keep", "keep\n"}});
         },
         messages::unwritable_obj, {{"out.obj", "<directory>"}, {"out.obj/keep", "keep\n"}, {"out.mtl", "previous mtl\n"}}},
        {"file where no material file was", {{"out.obj", "previous obj\n"}},
         [](const TempDir& dir) { put_files(dir, {{"out.mtl", "another program's\n"}}); },
         messages::unwritable_material, {{"out.mtl", "another program's\n"}, {"out.obj", "previous obj\n"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        put_files(dir, {{"in.bsp", level}});
        put_files(dir, c.previous);
        HeldFolderLock lock(dir.root());
        ASSERT_TRUE(lock.locked());
        RunningProgram run(dir, {"meshwright", "in.bsp", "out.obj"});
        ASSERT_TRUE(wait_for_temporary_files(dir.root(), 2));
        c.change(dir);
        lock.release();
        Outcome outcome = run.finish();
        Files expected = c.expected;
        expected["in.bsp"] = level;
        for (const auto& [name, content] : expected) {
            if (name.find('/') != std::string::npos) {
                EXPECT_EQ(read_file(dir.path(name)), content);
                outcome.files[name] = content;
            }
        }
        EXPECT_EQ(outcome, (Outcome{closing_line + exception_line(c.message), "", 1, expected}));
    }
#endif
}

// Two runs whose pairs span the same two folders (the OBJ a link into the
// other one), the first stopped between its two swaps: the second waits for
// it, so the pair is one run's whole.
TEST(SafeOutputFaults, RunsOverTwoFoldersLeaveOneWholePair)
{
#if defined(_WIN32)
    GTEST_SKIP() << "links need privileges on Windows";
#else
    if (!strace_available())
        GTEST_SKIP() << "strace cannot run the program here";
    // The first run's material file is its smaller file, the second's its OBJ.
    const std::string first_level = large_level("first", 1);
    std::string second_level;
    {
        LevelPlan plan;
        plan.models = {"m"};
        plan.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 1}};
        add_surface(plan, 0, "second", {{0, 1, 2}});
        for (int i = 0; i < 2000; ++i)
            add_surface(plan, 0, "textures/walls/long_name_" + std::to_string(100000 + i), {});
        second_level = text_of(build_level(plan));
    }
    const Converted first = converted(first_level);
    const Converted second = converted(second_level);
    ASSERT_LT(first.mtl.size(), first.obj.size());
    ASSERT_GT(second.mtl.size(), second.obj.size());

    TempDir dir;
    put_files(dir, {{"first.bsp", first_level}, {"second.bsp", second_level}});
    fs::create_directory(dir.path("a"));
    fs::create_directory(dir.path("b"));
    put_files(dir, {{"b/out.obj", "previous obj\n"}, {"a/out.mtl", "previous mtl\n"}});
    fs::create_symlink("../b/out.obj", dir.path("a/out.obj"));
    RunningProgram stopped(dir, {"meshwright", "first.bsp", "a/out.obj"},
                           {.strace = {"-e", "trace=renameat2", "-e", "inject=renameat2:delay_exit=1500000:when=1"}});
    wait_until([&] { return read_file(dir.path("a/out.mtl")) == first.mtl; });
    ASSERT_EQ(read_file(dir.path("a/out.mtl")), first.mtl) << "the first run never swapped its material file";
    const Outcome second_outcome = run_in(dir, {"meshwright", "second.bsp", "a/out.obj"});
    const Outcome first_outcome = stopped.finish();
    const std::pair written{read_file(dir.path("b/out.obj")), read_file(dir.path("a/out.mtl"))};
    if (written == std::pair(first.obj, first.mtl))
        EXPECT_EQ(first_outcome.status, 0) << first_outcome.out << first_outcome.err;
    else if (written == std::pair(second.obj, second.mtl))
        EXPECT_EQ(second_outcome.status, 0) << second_outcome.out;
    else
        ADD_FAILURE() << written.first.size() << " bytes of OBJ beside " << written.second.size()
                      << " bytes of material file";
    EXPECT_TRUE(temporary_files(dir.path("a")).empty());
    EXPECT_TRUE(temporary_files(dir.path("b")).empty());
#endif
}

#if !defined(_WIN32)
// Whether the process has a handler of its own for `signal_number`.
bool catches(intptr_t pid, int signal_number)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("SigCgt:"))
            return (std::stoull(line.substr(7), nullptr, 16) >> (signal_number - 1)) & 1;
    }
    return false;
}
#endif

// Signals that another process sends with kill() stop a run waiting for its
// level (a FIFO nobody writes yet), however the program treats the same
// signals when they come from its own writes or faults.
TEST(SafeOutputFaults, SignalsSentByAnotherProcessStopTheRun)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no POSIX signals";
#else
    for (int signal_number : {SIGPIPE, SIGXFSZ, SIGABRT, SIGILL}) {
        SCOPED_TRACE(signal_number);
        TempDir dir;
        ASSERT_EQ(mkfifo(dir.path("in.bsp").c_str(), 0600), 0);
        RunningProgram run(dir, {"meshwright", "in.bsp", "out.obj"});
        wait_until([&] { return catches(run.pid(), signal_number); });
        ASSERT_TRUE(catches(run.pid(), signal_number)) << "the run never took the signal over";
        ASSERT_EQ(kill(static_cast<pid_t>(run.pid()), signal_number), 0);
        EXPECT_TRUE(run.ends_within(10));
        EXPECT_EQ(run.finish().status, 128 + signal_number);
    }
#endif
}

// Each output is started out to the disk to its very end before it takes
// its place, so that little is left only in memory after a run.
TEST(SafeOutputFaults, OutputsAreStartedToTheDiskToTheirEnd)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows writes its files back on its own";
#else
    if (!strace_available())
        GTEST_SKIP() << "strace cannot run the program here";
    const std::string level = one_triangle_level("wall");
    const Converted fresh = converted(level);
    TempDir dir;
    put_files(dir, {{"in.bsp", level}});
    RunningProgram run(dir, {"meshwright", "in.bsp", "out.obj"}, {.strace = {"-e", "trace=sync_file_range"}});
    ASSERT_EQ(run.finish().status, 0);
    const std::string trace = run.trace();
    for (const std::string* file : {&fresh.obj, &fresh.mtl}) {
        const std::string whole = ", 0, " + std::to_string(file->size()) + ", SYNC_FILE_RANGE_WRITE)";
        EXPECT_NE(trace.find(whole), std::string::npos) << "no sync_file_range of all " << file->size()
                                                          << " bytes in:\n" << trace;
    }
#endif
}

// Where rename takes no flags and there are no hard links (VirtualBox's
// shared folders answer so), outputs are still written, new or replacing
// old ones, and nothing is left beside them.
TEST(SafeOutputFaults, OutputsWhereRenameTakesNoFlagsAndThereAreNoLinks)
{
#if defined(_WIN32)
    GTEST_SKIP() << "strace stands in for such a file system";
#else
    if (!strace_available())
        GTEST_SKIP() << "strace cannot run the program here";
    const std::string level = one_triangle_level("wall");
    const Converted fresh = converted(level);
    const Files renewed = {{"in.bsp", level}, {"out.obj", fresh.obj}, {"out.mtl", fresh.mtl}};
    const RunOptions no_flags_no_links = {.strace = {"-e", "trace=renameat2,linkat", "-e", "inject=renameat2:error=EINVAL",
                                                     "-e", "inject=linkat:error=EPERM"}};
    for (const Files& before : {Files{{"in.bsp", level}},
                                Files{{"in.bsp", level}, {"out.obj", "previous obj\n"}, {"out.mtl", "previous mtl\n"}}}) {
        SCOPED_TRACE(before.size());
        TempDir dir;
        put_files(dir, before);
        const Outcome outcome = run_in(dir, {"meshwright", "in.bsp", "out.obj"}, no_flags_no_links);
        EXPECT_EQ(outcome.status, 0) << outcome.out;
        EXPECT_EQ(outcome.files, renewed);
    }
#endif
}

// Another program replaces both files (an editor's safe save) while a run
// is between its two steps: the run fails, undoes only what still holds its
// own file, and the other program's pair stays; the replaced material file
// keeps a name of its own, never one that a person would delete.
TEST(SafeOutputFaults, UndoLeavesAnotherProgramsFiles)
{
#if defined(_WIN32)
    GTEST_SKIP() << "strace stops the run between its steps";
#else
    if (!strace_available())
        GTEST_SKIP() << "strace cannot run the program here";
    const std::string level = one_triangle_level("wall");
    const Converted fresh = converted(level);
    ASSERT_LT(fresh.mtl.size(), fresh.obj.size()) << "the material file goes first";
    TempDir dir;
    put_files(dir, {{"in.bsp", level}, {"out.obj", "previous obj\n"}, {"out.mtl", "previous mtl\n"}});
    RunningProgram stopped(dir, {"meshwright", "in.bsp", "out.obj"},
                           {.strace = {"-e", "trace=renameat2", "-e", "inject=renameat2:delay_exit=1500000:when=1"}});
    wait_until([&] { return read_file(dir.path("out.mtl")) == fresh.mtl; });
    ASSERT_EQ(read_file(dir.path("out.mtl")), fresh.mtl) << "the run never put its material file in place";
    put_files(dir, {{"their.obj", "their obj\n"}, {"their.mtl", "their mtl\n"}});
    fs::rename(dir.path("their.obj"), dir.path("out.obj"));
    fs::rename(dir.path("their.mtl"), dir.path("out.mtl"));
    Outcome outcome = stopped.finish();
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, fresh.closing_line + exception_line(messages::unwritable_obj));
    EXPECT_EQ(take_kept_files(outcome.files), std::vector<std::string>{"previous mtl\n"});
    EXPECT_EQ(outcome.files, (Files{{"in.bsp", level}, {"out.obj", "their obj\n"}, {"out.mtl", "their mtl\n"}}));
#endif
}

// After a run has swapped its files in, the old OBJ waits at its temporary
// name to be removed. Another program's file that took that name meanwhile
// is not the run's to remove: it stays.
TEST(SafeOutputFaults, AnotherProgramsFileAtTheTemporaryNameStays)
{
#if !defined(__linux__)
    GTEST_SKIP() << "strace stops the run between its steps";
#else
    if (!strace_available())
        GTEST_SKIP() << "strace cannot run the program here";
    const std::string level = one_triangle_level("wall");
    const Converted fresh = converted(level);
    const Files previous = {{"in.bsp", level}, {"out.obj", "previous obj\n"}, {"out.mtl", "previous mtl\n"}};
    const std::vector<std::string> argv = {"meshwright", "in.bsp", "out.obj"};
    // The last look at a temporary name is the one before the old OBJ goes.
    const std::vector<int> looks = calls_naming("newfstatat", "\".meshwright-tmp-", previous, argv);
    ASSERT_FALSE(looks.empty());
    const int last_look = looks.back();
    TempDir dir;
    put_files(dir, previous);
    RunningProgram run(dir, argv, {.strace = {"-e", "trace=newfstatat", "-e",
                                              "inject=newfstatat:delay_enter=1500000:when=" + std::to_string(last_look)}});
    wait_until([&] { return read_file(dir.path("out.obj")) == fresh.obj && temporary_files(dir.root()).size() == 1; });
    const std::vector<fs::path> waiting = temporary_files(dir.root());
    ASSERT_EQ(waiting.size(), 1u);
    put_files(dir, {{"theirs", "their file\n"}});
    fs::rename(dir.path("theirs"), waiting[0]);
    Outcome outcome = run.finish();
    EXPECT_EQ(outcome.status, 0) << outcome.out;
    EXPECT_EQ(outcome.files, (Files{{"in.bsp", level}, {"out.obj", fresh.obj}, {"out.mtl", fresh.mtl},
                                    {waiting[0].filename().string(), "their file\n"}}));
#endif
}

// Where files cannot be swapped (Windows; exfat, CIFS), each old file is
// moved aside first; where rename takes no flags at all, a file takes a
// free name through a second hard link. When another program makes a file
// at the OBJ's name in that moment, the new OBJ cannot take its place and
// the old one cannot go back: it keeps a name of its own, never the
// temporary prefix, and the material file goes back whole.
TEST(SafeOutputFaults, MovedAsideFileThatCannotGoBackKeepsANameOfItsOwn)
{
#if defined(_WIN32)
    GTEST_SKIP() << "strace stands in for a file system that cannot swap";
#else
    if (!strace_available())
        GTEST_SKIP() << "strace cannot run the program here";
    const std::string level = one_triangle_level("wall");
    const Converted fresh = converted(level);
    ASSERT_LT(fresh.mtl.size(), fresh.obj.size()) << "the material file goes first";
    const Files previous = {{"in.bsp", level}, {"out.obj", "previous obj\n"}, {"out.mtl", "previous mtl\n"}};
    const std::vector<std::string> argv = {"meshwright", "in.bsp", "out.obj"};
    struct Race {
        const char* name;
        std::string traced;  // the system calls strace sees
        std::string failing; // how it makes them fail
        std::string delayed; // the call held up while the other program acts
        std::string delay;   // before or after it does its work
        // What the call held up names, and how many such calls come first.
        std::string naming;
        size_t skipped;
    };
    const Race races[] = {
        // Each file's swap (the first and fourth renameat2) fails as such
        // file systems fail it; the run then looks at each file it moved
        // aside, the OBJ's second.
        {"no swap", "renameat2,statx", "inject=renameat2:error=EINVAL:when=1..4+3", "statx", "delay_exit",
         "\".meshwright-old-", 1},
        // The OBJ's second name at the destination is held up.
        {"no rename flags", "renameat2,linkat", "inject=renameat2:error=EINVAL", "linkat", "delay_enter",
         "\"out.obj\", 0)", 0},
    };
    for (const Race& race : races) {
        SCOPED_TRACE(race.name);
        const std::vector<int> calls = calls_naming(race.delayed, race.naming, previous, argv, race.traced, race.failing);
        ASSERT_GT(calls.size(), race.skipped);
        const int held_up_call = calls[race.skipped];
        TempDir dir;
        put_files(dir, previous);
        RunningProgram run(dir, argv,
                           {.strace = {"-e", "trace=" + race.traced, "-e", race.failing, "-e",
                                       "inject=" + race.delayed + ":" + race.delay + "=1500000:when=" +
                                           std::to_string(held_up_call)}});
        wait_until([&] { return !fs::exists(dir.path("out.obj")); });
        put_files(dir, {{"out.obj", "their obj\n"}});
        Outcome outcome = run.finish();
        EXPECT_EQ(outcome.out, fresh.closing_line + exception_line(messages::unwritable_obj));
        EXPECT_EQ(take_kept_files(outcome.files), std::vector<std::string>{"previous obj\n"});
        EXPECT_EQ(outcome.files, (Files{{"in.bsp", level}, {"out.obj", "their obj\n"}, {"out.mtl", "previous mtl\n"}}));
    }
#endif
}

// A pipe whose reader left is a failed write: into the console, the work is
// done and the run fails after it; into a FIFO output, the run fails with
// the output's write message and removes its temporary files.
TEST(SafeOutputFaults, PipesWithoutReadersAreFailedWrites)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no FIFOs or SIGPIPE";
#else
    const std::string level = one_triangle_level("wall");
    const Converted fresh = converted(level);
    {
        SCOPED_TRACE("console");
        TempDir dir;
        put_files(dir, {{"in.bsp", level}});
        EXPECT_EQ(run_in(dir, {"meshwright", "-v", "in.bsp", "out.obj"}, {.stdout_file = "|"}),
                  (Outcome{"",
                           std::string(messages::console_unwritable) + "\n",
                           1,
                           {{"in.bsp", level}, {"out.obj", fresh.obj}, {"out.mtl", fresh.mtl}}}));
    }
    {
        SCOPED_TRACE("material FIFO");
        // A material file larger than a pipe holds, so that its writer meets
        // the closed end whenever the reader leaves.
        LevelPlan plan;
        plan.models = {"m"};
        for (int i = 0; i < 2000; ++i)
            add_surface(plan, 0, "textures/walls/long_name_" + std::to_string(100000 + i), {});
        const std::string many = text_of(build_level(plan));
        TempDir dir;
        put_files(dir, {{"in.bsp", many}, {"out.obj", "previous obj\n"}});
        ASSERT_EQ(mkfifo(dir.path("out.mtl").c_str(), 0644), 0);
        std::thread leaving_reader([&] { std::ifstream(dir.path("out.mtl"), std::ios::binary); });
        const Outcome outcome = run_in(dir, {"meshwright", "in.bsp", "out.obj"});
        leaving_reader.join();
        EXPECT_EQ(outcome, (Outcome{converted(many).closing_line + exception_line(messages::unwritable_material),
                                    "",
                                    1,
                                    {{"in.bsp", many}, {"out.obj", "previous obj\n"}, {"out.mtl", "<special file>"}}}));
    }
#endif
}

} // namespace

} // namespace meshwright
