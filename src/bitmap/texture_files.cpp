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
#include "base/utf8.hpp"
#include "bitmap/bitmap.hpp"
#include "bitmap/bitmap_lookup.hpp"
#include "io/links.hpp"

namespace meshwright {

namespace fs = std::filesystem;

namespace {

bool is_separator(char c)
{
    return c == '/' || c == '\\';
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
        // Without blocking: a FIFO would wait for a writer. The path's links
        // have been followed already: one put there since is not.
        descriptor_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW);
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
    const std::vector<std::string> parts = texture_name_parts(name);
    return std::none_of(parts.begin(), parts.end(),
                        [](const std::string& part) { return part.empty() || part == "." || part == ".."; });
}

std::optional<fs::path> TextureFolder::entry_but_for_case(const fs::path& folder, const std::string& name)
{
    const std::lock_guard lock(mutex_);
    auto [listing, fresh] = listings_.try_emplace(folder);
    if (fresh) {
        std::error_code error;
        for (fs::directory_iterator entry(folder.empty() ? fs::path(".") : folder, error), end; !error && entry != end;
             entry.increment(error)) {
            const fs::path entry_name = entry->path().filename();
            const auto [place, first] = listing->second.try_emplace(lower_ascii(utf8_from_path(entry_name)), entry_name);
            if (!first)
                place->second.reset();
        }
    }
    const auto found = listing->second.find(lower_ascii(name));
    return found == listing->second.end() ? std::nullopt : found->second;
}

std::optional<fs::path> TextureFolder::find(std::string_view name)
{
#if defined(_WIN32)
    // Windows' names are UTF-16: bytes that are not UTF-8 name no file there.
    if (!is_utf8(name))
        return std::nullopt;
#endif
    if (!names_texture_inside(name))
        return std::nullopt;
    std::vector<std::string> parts = texture_name_parts(name);
    parts.back() += ".bmp";
    fs::path place = folder_;
    for (const std::string& part : parts) {
        const fs::path exact = path_from_utf8(part);
        if (anything_named(place / exact)) {
            place /= exact;
            continue;
        }
        const std::optional<fs::path> match = entry_but_for_case(place, part);
        if (!match)
            return std::nullopt;
        place /= *match;
    }
    return place;
}

TextureFile read_texture_file(const fs::path& path)
{
    // A link that another user planted is not followed.
    const std::optional<fs::path> file = follow_links(path);
    if (!file)
        return unreadable();
    ReadOnlyFile bitmap(*file);
    return read_bitmap(bitmap);
}

TextureFile TextureFolder::read(std::string_view name)
{
    const std::optional<fs::path> found = find(name);
    return found ? read_texture_file(*found) : TextureFile{};
}

uint64_t TextureFolder::memory(std::string_view name)
{
    const std::optional<fs::path> found = find(name);
    const std::optional<fs::path> file = found ? follow_links(*found) : std::nullopt;
    if (!file)
        return 0;
    ReadOnlyFile bitmap(*file);
    std::vector<uint8_t> head;
    if (!bitmap.opened() || !bitmap.read(head, static_cast<size_t>(std::min<uint64_t>(bitmap.size(), bmp_head_bytes))))
        return 0;
    // Decoded to four bytes a pixel, then kept in three or four, and a PNG
    // image of about as many: eight bytes a pixel, at most.
    return bitmap.size() + 8 * std::min(bmp_pixels(head), max_bitmap_pixels);
}

} // namespace meshwright
