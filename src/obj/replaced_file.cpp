#include "obj/replaced_file.hpp"

#include <cstdint>
#include <filesystem>
#include <random>

#include "base/file_names.hpp"
#include "obj/file_system.hpp"
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
        return std::mt19937_64(uint64_t{device()} << 32 ^ device() ^ file_system::process_id());
    }();
    constexpr char digits[] = "0123456789abcdefghijklmnopqrstuv";
    std::string suffix;
    for (uint64_t bits = random(), i = 0; i < 8; ++i, bits >>= 5)
        suffix += digits[bits & 31];
    return suffix;
}

// Creates a new file beside `destination` that did not exist before, sets
// `name` to its name and registers it for removal on an interrupt.
FILE* create_temporary(const std::string& destination, std::string& name)
{
    const fs::path path = path_from_utf8(destination);
    const std::string kept = utf8_from_path(path.filename()).substr(0, max_kept_name_bytes);
    const std::string folder = utf8_from_path(path.parent_path());
    for (int attempt = 0; attempt < max_name_attempts; ++attempt) {
        const std::string file_name = kept + std::string(temporary_marker) + random_suffix();
        name = folder.empty() ? file_name : utf8_from_path(path.parent_path() / path_from_utf8(file_name));
        // Created and registered as one step, so that no interrupt between
        // the two leaves it behind.
        const InterruptsHeld held;
        bool exists = false;
        if (FILE* file = file_system::create_new(name, exists)) {
            remove_on_interrupt(name);
            return file;
        }
        if (!exists)
            break;
    }
    name.clear();
    return nullptr;
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
    fs::path current = path_from_utf8(path);
    for (int hop = 0; hop < max_link_hops && is_link(current); ++hop) {
        std::error_code error;
        const fs::path link = fs::read_symlink(current, error);
        if (error)
            break;
        current = current.parent_path() / link; // an absolute link replaces the whole path
    }
    return utf8_from_path(current);
}

bool same_file(const std::string& first, const std::string& second)
{
    const fs::path a = path_from_utf8(final_target(first));
    const fs::path b = path_from_utf8(final_target(second));
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
    if (path_from_utf8(destination_).filename().empty())
        throw open_failure;
    const file_system::FileState existing = file_system::inspect(destination_);
    // Devices and FIFOs cannot be replaced, only written; a link that still
    // points on after the last hop is left to the system to refuse.
    if ((existing.exists && !existing.regular) || is_link(path_from_utf8(destination_))) {
        stream_ = open_file(destination_, "wb");
        if (!stream_)
            throw open_failure;
        return;
    }
    stream_ = create_temporary(destination_, temporary_);
    if (!stream_) {
        // A folder that takes no new files may still hold a writable one.
        if (existing.exists && existing.writable)
            stream_ = open_file(destination_, "wb");
        if (!stream_)
            throw open_failure;
        return;
    }
    if (existing.exists)
        file_system::copy_permissions(stream_, existing.permissions);
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
        failed = !file_system::replace(temporary_, destination_);
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
        file_system::remove(temporary_);
        temporary_.clear();
        forget_on_interrupt();
    }
}

FolderLock::FolderLock(const std::string& path)
{
    const fs::path folder = path_from_utf8(path).parent_path();
    lock_ = file_system::lock_folder(folder.empty() ? "." : utf8_from_path(folder));
}

FolderLock::~FolderLock()
{
    file_system::unlock_folder(lock_);
}

} // namespace meshwright
