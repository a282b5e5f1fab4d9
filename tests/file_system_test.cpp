// The pieces of safe output that the program's runs cannot show one by one:
// how temporary files are made, and how a failed write travels back from
// the threads that format the OBJ.
#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "io/file_system.hpp"
#include "io/interrupts.hpp"
#include "io/links.hpp"
#include "obj/ordered_writer.hpp"
#include "temp_dir.hpp"

namespace meshwright {

namespace {

namespace fs = std::filesystem;

TEST(FileSystem, PrivateFilesAreNewAndTheirOwnersAlone)
{
    TempDir dir;
    const file_system::Folder folder(dir.root());
    ASSERT_TRUE(folder.opened());
    file_system::CreateError error = file_system::CreateError::other;
    FILE* file = file_system::create_private(folder, "new", error);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(error, file_system::CreateError::none);
    std::fclose(file);
#if !defined(_WIN32)
    struct stat info {};
    ASSERT_EQ(stat(dir.path("new").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
#endif
    // A name that is taken, even by a link to a file that does not exist, is
    // never opened.
    EXPECT_EQ(file_system::create_private(folder, "new", error), nullptr);
    EXPECT_EQ(error, file_system::CreateError::name_taken);
#if !defined(_WIN32)
    fs::create_symlink("elsewhere", dir.path("planted"));
    EXPECT_EQ(file_system::create_private(folder, "planted", error), nullptr);
    EXPECT_EQ(error, file_system::CreateError::name_taken);
    EXPECT_FALSE(fs::exists(dir.path("elsewhere")));
#endif
}

// Links on an output's path resolve as the system resolves them; in a
// folder that is both sticky and writable by everyone, another user's link
// is not followed.
TEST(Links, PathsResolveAsTheSystemResolvesThem)
{
#if defined(_WIN32)
    GTEST_SKIP() << "links need privileges on Windows";
#else
    TempDir dir;
    const fs::path root = fs::canonical(dir.root());
    for (const char* folder : {"a/b", "c", "open", "sticky", "shared"})
        fs::create_directories(root / folder);
    fs::create_symlink("../gone", root / "a/b/up");
    fs::create_symlink(root / "c", root / "a/b/absolute");
    fs::create_symlink("../../c", root / "a/b/relative");
    fs::permissions(root / "open", fs::perms(0777));
    fs::permissions(root / "sticky", fs::perms(01775));
    fs::permissions(root / "shared", fs::perms(01777));
    constexpr unsigned other_user = 65534;
    const bool as_root = geteuid() == 0;
    for (const char* folder : {"open", "sticky", "shared"}) {
        fs::create_symlink(root / "c", root / folder / "planted");
        if (as_root) {
            ASSERT_EQ(lchown((root / folder / "planted").c_str(), other_user, other_user), 0);
        }
    }
    struct Case {
        fs::path path;
        std::optional<fs::path> resolved;
    };
    const Case cases[] = {
        {root / "a/b/up/../o.obj", std::nullopt},
        {root / "a/b/absolute/o.obj", root / "c/o.obj"},
        {root / "a/b/relative/o.obj", root / "c/o.obj"},
        {root / "a/b/../b/o.obj", root / "a/b/o.obj"},
        {"../../o.obj", "../../o.obj"},
        {root / "open/planted/o.obj", root / "c/o.obj"},
        {root / "sticky/planted/o.obj", root / "c/o.obj"},
        {root / "shared/planted/o.obj", as_root ? std::nullopt : std::optional<fs::path>(root / "c/o.obj")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(follow_links(c.path), c.resolved) << c.path;
#endif
}

// A fault signal that the process handles already (a sanitizer's SIGSEGV)
// keeps its handler when the run takes over the interrupts; one left to the
// default (SIGBUS here) is the run's. In a fresh process, where the run has
// taken nothing yet.
TEST(Interrupts, FaultHandlersInstalledBeforeStay)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no POSIX signals";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            struct sigaction mine {};
            mine.sa_handler = [](int) {};
            sigemptyset(&mine.sa_mask);
            struct sigaction left {};
            left.sa_handler = SIG_DFL;
            sigaction(SIGSEGV, &mine, nullptr);
            sigaction(SIGBUS, &left, nullptr);
            watch_interrupts();
            struct sigaction segv {};
            struct sigaction bus {};
            sigaction(SIGSEGV, nullptr, &segv);
            sigaction(SIGBUS, nullptr, &bus);
            std::_Exit(segv.sa_handler == mine.sa_handler && bus.sa_handler != SIG_DFL ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
#endif
}

TEST(OrderedWriter, WriteFailureReachesTheCallerAtEveryThreadCount)
{
    for (unsigned threads : {1u, 2u, 4u}) {
        SCOPED_TRACE(threads);
        std::string written;
        const auto format = [](size_t index, char* out) {
            *out = static_cast<char>('a' + index % 26);
            return size_t{1};
        };
        const auto write = [&](const char* data, size_t size) {
            if (written.size() == 10)
                throw "full";
            written.append(data, size);
        };
        const char* thrown = nullptr;
        try {
            write_in_order(100, 16, threads, format, write);
        } catch (const char* message) {
            thrown = message;
        }
        EXPECT_STREQ(thrown, "full");
        EXPECT_EQ(written, "abcdefghij");
    }
}

} // namespace

} // namespace meshwright
