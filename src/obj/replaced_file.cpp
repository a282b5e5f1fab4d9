#include "obj/replaced_file.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <random>

#include "obj/interrupt_cleanup.hpp"

namespace meshwright {

namespace fs = std::filesystem;

namespace {

// Links are followed at most this often, as the system itself does.
constexpr int max_link_hops = 40;

// A temporary file is the destination's name, cut to leave room within the
// longest file name most file systems take, plus this marker and a random
// suffix, so that a person recognises one left behind by a killed run.
constexpr std::string_view temporary_marker = ".meshwright-tmp-";
constexpr size_t max_kept_name_bytes = 200;
constexpr int max_name_attempts = 100;

bool is_link(const fs::path& path)
{
    std::error_code ignored;
    return fs::is_symlink(fs::symlink_status(path, ignored));
}

std::string random_suffix()
{
    static std::mt19937_64 random = [] {
        std::random_device device;
        return std::mt19937_64(uint64_t{device()} << 32 ^ device() ^ static_cast<uint64_t>(getpid()));
    }();
    constexpr char digits[] = "0123456789abcdefghijklmnopqrstuv";
    std::string suffix;
    for (uint64_t bits = random(), i = 0; i < 8; ++i, bits >>= 5)
        suffix += digits[bits & 31];
    return suffix;
}

// Creates a new file beside `destination` that did not exist before, with the
// mode a new file gets (0666 less the umask). Returns its descriptor and sets
// `name`, or returns -1 with errno set.
int create_temporary(const std::string& destination, std::string& name)
{
    const fs::path path = destination;
    const std::string kept = path.filename().string().substr(0, max_kept_name_bytes);
    for (int attempt = 0; attempt < max_name_attempts; ++attempt) {
        name = (path.parent_path() / (kept + std::string(temporary_marker) + random_suffix())).string();
        const int descriptor = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor >= 0 || errno != EEXIST)
            return descriptor;
    }
    return -1;
}

// Where a file that does not exist yet would be created: the absolute path
// with the links of its existing folders resolved.
fs::path place_of(const fs::path& path)
{
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    if (error)
        return path.lexically_normal();
    const fs::path resolved = fs::weakly_canonical(absolute, error);
    return error ? absolute.lexically_normal() : resolved;
}

} // namespace

std::string final_target(const std::string& path)
{
    fs::path current = path;
    for (int hop = 0; hop < max_link_hops && is_link(current); ++hop) {
        std::error_code error;
        const fs::path link = fs::read_symlink(current, error);
        if (error)
            break;
        current = current.parent_path() / link; // an absolute link replaces the whole path
    }
    return current.string();
}

bool same_file(const std::string& first, const std::string& second)
{
    const fs::path a = final_target(first);
    const fs::path b = final_target(second);
    std::error_code error;
    const bool a_exists = fs::exists(a, error);
    const bool b_exists = fs::exists(b, error);
    if (a_exists && b_exists)
        return fs::equivalent(a, b, error);
    if (a_exists || b_exists)
        return false;
    return place_of(a) == place_of(b);
}

ReplacedFile::ReplacedFile(const std::string& path, const char* open_failure) : destination_(final_target(path))
{
    // An empty path, or one that ends in a folder separator, names no file.
    if (fs::path(destination_).filename().empty())
        throw open_failure;
    struct stat existing {};
    const bool exists = stat(destination_.c_str(), &existing) == 0;
    // Devices and FIFOs cannot be replaced, only written; a link that still
    // points on after the last hop is left to the system to refuse.
    if ((exists && !S_ISREG(existing.st_mode)) || is_link(destination_)) {
        stream_ = std::fopen(destination_.c_str(), "wb");
        if (!stream_)
            throw open_failure;
        return;
    }
    int descriptor = -1;
    {
        const InterruptsHeld held;
        descriptor = create_temporary(destination_, temporary_);
        if (descriptor >= 0)
            remove_on_interrupt(temporary_);
    }
    if (descriptor < 0) {
        temporary_.clear();
        // A folder that takes no new files may still hold a writable one.
        if (exists && access(destination_.c_str(), W_OK) == 0)
            stream_ = std::fopen(destination_.c_str(), "wb");
        if (!stream_)
            throw open_failure;
        return;
    }
    if (exists)
        fchmod(descriptor, existing.st_mode & 07777);
    stream_ = fdopen(descriptor, "wb");
    if (!stream_) {
        close(descriptor);
        discard();
        throw open_failure;
    }
}

ReplacedFile::~ReplacedFile()
{
    discard();
}

void ReplacedFile::finish(const char* write_failure)
{
    FILE* stream = stream_;
    stream_ = nullptr;
    bool failed = std::ferror(stream) != 0;
    failed = std::fclose(stream) != 0 || failed;
    if (!failed && !temporary_.empty())
        failed = std::rename(temporary_.c_str(), destination_.c_str()) != 0;
    if (failed) {
        discard();
        throw write_failure;
    }
    temporary_.clear();
    forget_on_interrupt();
}

void ReplacedFile::discard()
{
    if (stream_) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
    if (!temporary_.empty()) {
        unlink(temporary_.c_str());
        temporary_.clear();
        forget_on_interrupt();
    }
}

FolderLock::FolderLock(const std::string& path)
{
    fs::path folder = fs::path(path).parent_path();
    if (folder.empty())
        folder = ".";
    descriptor_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor_ >= 0 && flock(descriptor_, LOCK_EX) != 0) {
        close(descriptor_);
        descriptor_ = -1;
    }
}

FolderLock::~FolderLock()
{
    if (descriptor_ >= 0)
        close(descriptor_);
}

} // namespace meshwright
