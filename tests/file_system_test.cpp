// The pieces of safe output that the program's runs cannot show one by one:
// how temporary files are made, and how a failed write travels back from
// the threads that format the OBJ.
#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <cstdio>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "io/file_system.hpp"
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
