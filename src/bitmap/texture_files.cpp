#include "bitmap/texture_files.hpp"

#include <algorithm>
#include <string>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

#include "base/file_names.hpp"
#include "bitmap/bitmap.hpp"

namespace meshwright {

namespace fs = std::filesystem;

namespace {

bool is_separator(char c)
{
    return c == '/' || c == '\\';
}

std::vector<std::string> parts_of(std::string_view name)
{
    std::vector<std::string> parts(1);
    for (char c : name) {
        if (is_separator(c))
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

bool same_but_for_ascii_case(std::string_view a, std::string_view b)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

// An open file that is read as far as asked, and closed.
class ReadOnlyFile {
  public:
    // Opens `path` only when it is a regular file.
    explicit ReadOnlyFile(const fs::path& path)
    {
#if defined(_WIN32)
        descriptor_ = _wopen(path.c_str(), _O_RDONLY | _O_BINARY);
        struct _stat64 info {};
        if (descriptor_ >= 0 && (_fstat64(descriptor_, &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG))
            close();
        size_ = descriptor_ >= 0 ? static_cast<uint64_t>(info.st_size) : 0;
#else
        // Without blocking: a FIFO would wait for a writer.
        descriptor_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        struct stat info {};
        if (descriptor_ >= 0 && (fstat(descriptor_, &info) != 0 || !S_ISREG(info.st_mode)))
            close();
        size_ = descriptor_ >= 0 ? static_cast<uint64_t>(info.st_size) : 0;
#endif
    }
    ~ReadOnlyFile() { close(); }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    bool opened() const { return descriptor_ >= 0; }
    uint64_t size() const { return size_; }

    // Appends `count` bytes to `bytes`; false when the file has fewer.
    bool read(std::vector<uint8_t>& bytes, size_t count)
    {
        size_t at = bytes.size();
        bytes.resize(at + count);
        while (at < bytes.size()) {
#if defined(_WIN32)
            const int got = _read(descriptor_, bytes.data() + at, static_cast<unsigned>(std::min<size_t>(bytes.size() - at, 1 << 30)));
#else
            const ssize_t got = ::read(descriptor_, bytes.data() + at, bytes.size() - at);
            if (got < 0 && errno == EINTR)
                continue;
#endif
            if (got <= 0)
                return false;
            at += static_cast<size_t>(got);
        }
        return true;
    }

  private:
    void close()
    {
        if (descriptor_ >= 0) {
#if defined(_WIN32)
            _close(descriptor_);
#else
            ::close(descriptor_);
#endif
        }
        descriptor_ = -1;
    }

    int descriptor_ = -1;
    uint64_t size_ = 0;
};

// The one entry of `folder` named `file_name` but for case, if exactly one.
std::optional<fs::path> only_match_but_for_case(const fs::path& folder, const std::string& file_name)
{
    std::optional<fs::path> found;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        if (!same_but_for_ascii_case(utf8_from_path(entry->path().filename()), file_name))
            continue;
        if (found)
            return std::nullopt;
        found = entry->path();
    }
    return found;
}

TextureFile unreadable()
{
    return {TextureOutcome::unreadable, {}};
}

TextureFile read_bitmap(ReadOnlyFile& file)
{
    if (!file.opened())
        return unreadable();
    TextureFile read{TextureOutcome::embedded, {}};
    std::vector<uint8_t>& bytes = read.bytes;
    if (!file.read(bytes, static_cast<size_t>(std::min<uint64_t>(file.size(), bmp_head_bytes))))
        return unreadable();
    const uint64_t needed = bmp_bytes_needed(bytes);
    if (needed == 0 || needed > file.size())
        return unreadable();
    if (needed <= bytes.size())
        bytes.resize(static_cast<size_t>(needed));
    else if (!file.read(bytes, static_cast<size_t>(needed - bytes.size())))
        return unreadable();
    return read;
}

bool anything_named(const fs::path& path)
{
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

} // namespace

bool names_texture_inside(std::string_view name)
{
    if (name.empty() || is_separator(name.front()) || name.find(':') != std::string_view::npos)
        return false;
    const std::vector<std::string> parts = parts_of(name);
    return std::none_of(parts.begin(), parts.end(),
                        [](const std::string& part) { return part.empty() || part == "." || part == ".."; });
}

TextureFile read_texture_file(const fs::path& folder, std::string_view name)
{
    if (!names_texture_inside(name))
        return {};
    std::vector<std::string> parts = parts_of(name);
    const std::string file_name = parts.back() + ".bmp";
    parts.pop_back();
    fs::path place = folder;
    for (const std::string& part : parts)
        place /= path_from_utf8(part);
    fs::path path = place / path_from_utf8(file_name);
    if (!anything_named(path)) {
        const std::optional<fs::path> match = only_match_but_for_case(place.empty() ? fs::path(".") : place, file_name);
        if (!match)
            return {};
        path = *match;
    }
    ReadOnlyFile file(path);
    return read_bitmap(file);
}

} // namespace meshwright
