#include "io/file_system.hpp"

#if !defined(_WIN32)

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/fs.h>
#include <sys/xattr.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace meshwright::file_system {

namespace {

// How long a FIFO is given to find a reader, and the folder lock another
// holder; tried every few milliseconds meanwhile.
constexpr auto patience = std::chrono::seconds(3);
constexpr auto retry_interval = std::chrono::milliseconds(5);

template <class Attempt> auto retry_for_a_while(Attempt attempt)
{
    const auto give_up = std::chrono::steady_clock::now() + patience;
    for (;;) {
        auto result = attempt();
        if (result || std::chrono::steady_clock::now() >= give_up)
            return result;
        std::this_thread::sleep_for(retry_interval);
    }
}

int descriptor(const Folder& folder)
{
    return static_cast<int>(folder.handle());
}

#if defined(O_PATH)
// Enough to make, rename and remove files in a folder, also one that the
// caller may not list.
constexpr int folder_flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
constexpr int hold_flags = O_PATH | O_NOFOLLOW | O_CLOEXEC;
#else
constexpr int folder_flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
constexpr int hold_flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
#endif

// The folder itself, readable, for what a path handle cannot do (flags,
// locks); -1 when the caller may not read it.
int open_for_reading(const Folder& folder)
{
    return openat(descriptor(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

FILE* stream_of(int file, const char* mode)
{
    if (file < 0)
        return nullptr;
    FILE* stream = fdopen(file, mode);
    if (!stream)
        close(file);
    return stream;
}

// New files get 0666 less the umask. The umask can only be read by setting
// it, so it is read once, before any helper thread could make a file.
mode_t umask_of_process()
{
    static const mode_t mask = [] {
        const mode_t current = umask(022);
        umask(current);
        return current;
    }();
    return mask;
}

#if defined(__linux__)
std::vector<char> attribute(const char* path, const char* name)
{
    const ssize_t size = getxattr(path, name, nullptr, 0);
    if (size <= 0)
        return {};
    std::vector<char> value(static_cast<size_t>(size));
    if (getxattr(path, name, value.data(), value.size()) != size)
        return {};
    return value;
}

constexpr const char* access_list_name = "system.posix_acl_access";

void copy_extended_attributes(int file, const fs::path& from, bool with_access_list)
{
    const ssize_t list_size = listxattr(from.c_str(), nullptr, 0);
    if (list_size <= 0)
        return;
    std::vector<char> names(static_cast<size_t>(list_size));
    const ssize_t listed = listxattr(from.c_str(), names.data(), names.size());
    for (ssize_t at = 0; at < listed; at += static_cast<ssize_t>(std::strlen(&names[at])) + 1) {
        const char* name = &names[at];
        if (!with_access_list && std::strcmp(name, access_list_name) == 0)
            continue;
        const std::vector<char> value = attribute(from.c_str(), name);
        if (!value.empty())
            fsetxattr(file, name, value.data(), value.size(), 0);
    }
}

// A folder's default access list gives each new file in it its access list
// in place of the umask, limited by the mode the file is made with: what the
// system does for a file made with `mode` there.
bool inherit_default_access_list(int file, const Folder& folder, mode_t mode)
{
    std::vector<char> list = attribute(folder.path_of(".").c_str(), "system.posix_acl_default");
    constexpr size_t header = 4;
    constexpr size_t entry = 8;
    if (list.size() < header || (list.size() - header) % entry != 0)
        return false;
    enum : uint16_t { user_obj = 0x01, group_obj = 0x04, mask = 0x10, other = 0x20 };
    char* group_class = nullptr;
    char* mask_entry = nullptr;
    const auto limit = [](char* at, mode_t bits) {
        uint16_t permissions = 0;
        std::memcpy(&permissions, at + 2, 2);
        permissions = static_cast<uint16_t>(permissions & bits);
        std::memcpy(at + 2, &permissions, 2);
        return mode_t{permissions};
    };
    mode_t result = 0;
    for (size_t at = header; at < list.size(); at += entry) {
        uint16_t tag = 0;
        std::memcpy(&tag, &list[at], 2);
        if (tag == user_obj)
            result |= limit(&list[at], (mode >> 6) & 7) << 6;
        else if (tag == other)
            result |= limit(&list[at], mode & 7);
        else if (tag == group_obj)
            group_class = group_class ? group_class : &list[at];
        else if (tag == mask)
            mask_entry = &list[at];
    }
    if (mask_entry)
        group_class = mask_entry;
    if (!group_class)
        return false;
    result |= limit(group_class, (mode >> 3) & 7) << 3;
    fchmod(file, result);
    fsetxattr(file, access_list_name, list.data(), list.size(), 0);
    return true;
}
#endif

void give_new_file_permissions(int file, [[maybe_unused]] const Folder& folder)
{
    constexpr mode_t new_file_mode = 0666;
#if defined(__linux__)
    if (inherit_default_access_list(file, folder, new_file_mode))
        return;
#endif
    fchmod(file, new_file_mode & ~umask_of_process());
}

// Group bits given to another group than the replaced file's reach other
// people: they get no more than everyone else had.
unsigned narrowed_for_another_group(unsigned permissions)
{
    const unsigned others = permissions & 07;
    return (permissions & ~070u) | (permissions & (others << 3));
}

} // namespace

Folder::Folder(const fs::path& path) : path_(path)
{
    handle_ = open(path.empty() ? "." : path.c_str(), folder_flags);
}

Folder::~Folder()
{
    if (opened())
        close(static_cast<int>(handle_));
}

fs::path Folder::path_of(const fs::path& name) const
{
    return path_.empty() ? name : path_ / name;
}

Identity Folder::identity() const
{
    struct stat info {};
    if (fstat(descriptor(*this), &info) != 0)
        return {};
    return {info.st_dev, info.st_ino, 0};
}

// When the file was made, in nanoseconds; 0 where the system does not tell.
uint64_t birth_time([[maybe_unused]] const Folder& folder, [[maybe_unused]] const fs::path& name)
{
#if defined(__linux__) && defined(STATX_BTIME)
    struct statx info {};
    if (statx(descriptor(folder), name.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &info) == 0 &&
        (info.stx_mask & STATX_BTIME))
        return static_cast<uint64_t>(info.stx_btime.tv_sec) * 1000000000 + info.stx_btime.tv_nsec;
#endif
    return 0;
}

FileState inspect(const Folder& folder, const fs::path& name)
{
    struct stat info {};
    FileState state;
    if (fstatat(descriptor(folder), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return state;
    state.exists = true;
    state.regular = S_ISREG(info.st_mode);
    state.fifo = S_ISFIFO(info.st_mode);
    state.link = S_ISLNK(info.st_mode);
    state.writable = faccessat(descriptor(folder), name.c_str(), W_OK, 0) == 0;
    state.owner = info.st_uid;
    state.group = info.st_gid;
    state.permissions = info.st_mode & 07777;
    state.identity = {info.st_dev, info.st_ino, birth_time(folder, name)};
    return state;
}

bool may_use_planted(const Folder& folder, const fs::path& name)
{
    struct stat planted {};
    struct stat place {};
    if (fstatat(descriptor(folder), name.c_str(), &planted, AT_SYMLINK_NOFOLLOW) != 0 ||
        fstat(descriptor(folder), &place) != 0)
        return false;
    const bool shared = (place.st_mode & S_ISVTX) && (place.st_mode & S_IWOTH);
    return !shared || planted.st_uid == geteuid() || planted.st_uid == place.st_uid;
}

bool takes_removable_files([[maybe_unused]] const Folder& folder)
{
#if defined(__linux__) && defined(FS_IOC_GETFLAGS)
    const int readable = open_for_reading(folder);
    if (readable < 0)
        return true; // nothing to tell by; the file system decides
    int flags = 0;
    const bool known = ioctl(readable, FS_IOC_GETFLAGS, &flags) == 0;
    close(readable);
    return !known || (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) == 0;
#else
    return true;
#endif
}

bool names_reserved_device(const fs::path&)
{
    return false;
}

FILE* create_private(const Folder& folder, const fs::path& name, CreateError& error)
{
    const int file = openat(descriptor(folder), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (file < 0) {
        error = errno == EEXIST ? CreateError::name_taken : CreateError::other;
        return nullptr;
    }
    error = CreateError::none;
    return stream_of(file, "wb");
}

FILE* create_scratch(const Folder& folder, const fs::path& name, CreateError& error)
{
    const int file = openat(descriptor(folder), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (file < 0) {
        error = errno == EEXIST ? CreateError::name_taken : CreateError::other;
        return nullptr;
    }
    unlinkat(descriptor(folder), name.c_str(), 0);
    error = CreateError::none;
    return stream_of(file, "w+b");
}

bool may_search(const fs::path& folder)
{
    return faccessat(AT_FDCWD, folder.c_str(), X_OK, AT_EACCESS) == 0;
}

FileState inspect_through_link(const Folder& folder, const fs::path& name)
{
    struct stat info {};
    FileState state;
    if (fstatat(descriptor(folder), name.c_str(), &info, 0) != 0)
        return state;
    state.exists = true;
    state.regular = S_ISREG(info.st_mode);
    state.fifo = S_ISFIFO(info.st_mode);
    state.writable = faccessat(descriptor(folder), name.c_str(), W_OK, 0) == 0;
    state.owner = info.st_uid;
    state.group = info.st_gid;
    state.identity = {info.st_dev, info.st_ino, 0};
    return state;
}

bool is_standard_output(const FileState& state)
{
    struct stat out {};
    return state.exists && fstat(STDOUT_FILENO, &out) == 0 && std::get<0>(state.identity) == out.st_dev &&
           std::get<1>(state.identity) == out.st_ino && !(S_ISCHR(out.st_mode) && !isatty(STDOUT_FILENO));
}

FILE* open_special(const Folder& folder, const fs::path& name, bool fifo, bool through_link)
{
    const int flags = O_WRONLY | O_CLOEXEC | (through_link ? 0 : O_NOFOLLOW);
    if (!fifo)
        return stream_of(openat(descriptor(folder), name.c_str(), flags), "wb");
    // Opening a FIFO for writing waits for a reader; without blocking, it
    // fails at once instead when there is none yet. Once open, writes wait
    // for a slow reader as they would for any pipe.
    int file = -1;
    if (retry_for_a_while([&] { return (file = openat(descriptor(folder), name.c_str(), flags | O_NONBLOCK)) >= 0; }))
        fcntl(file, F_SETFL, fcntl(file, F_GETFL) & ~O_NONBLOCK);
    return stream_of(file, "wb");
}

size_t max_name_length(const Folder& folder)
{
    const long length = fpathconf(descriptor(folder), _PC_NAME_MAX);
    return length > 0 ? static_cast<size_t>(length) : 0;
}

void start_writeback([[maybe_unused]] FILE* file, [[maybe_unused]] uint64_t offset, [[maybe_unused]] uint64_t length)
{
#if defined(__linux__)
    sync_file_range(fileno(file), static_cast<off_t>(offset), static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE);
#endif
}

void take_metadata(FILE* file, const FileState& replaced, const fs::path& replaced_path, const Folder& folder)
{
    const int target = fileno(file);
    if (!replaced.exists) {
        give_new_file_permissions(target, folder);
        return;
    }
    struct stat info {};
    const auto kept = [&](bool& owner, bool& group) {
        const bool known = fstat(target, &info) == 0;
        owner = known && info.st_uid == replaced.owner;
        group = known && info.st_gid == replaced.group;
    };
    bool owner_kept = false;
    bool group_kept = false;
    kept(owner_kept, group_kept);
    // Only root may give a file away; anyone may give it a group of their
    // own. Where neither is allowed, the calls fail harmlessly.
    if (!owner_kept || !group_kept) {
        if (fchown(target, replaced.owner, replaced.group) != 0 &&
            fchown(target, static_cast<uid_t>(-1), replaced.group) != 0)
            errno = 0;
        kept(owner_kept, group_kept);
    }
    unsigned permissions = replaced.permissions;
    // setuid and setgid mean "run as this owner and group": never for
    // another owner's or group's file.
    if (!owner_kept || !group_kept)
        permissions &= ~unsigned{S_ISUID | S_ISGID};
    if (!group_kept)
        permissions = narrowed_for_another_group(permissions);
    fchmod(target, static_cast<mode_t>(permissions));
#if defined(__linux__)
    // An access list's group entries name the old group's people; for
    // another group the list would widen access, so it is left out.
    copy_extended_attributes(target, replaced_path, group_kept);
#else
    (void)replaced_path;
#endif
}

Swap exchange([[maybe_unused]] const Folder& folder, [[maybe_unused]] const fs::path& from,
              [[maybe_unused]] const fs::path& to)
{
#if defined(RENAME_EXCHANGE)
    if (renameat2(descriptor(folder), from.c_str(), descriptor(folder), to.c_str(), RENAME_EXCHANGE) == 0)
        return Swap::done;
    return errno == EINVAL || errno == ENOSYS ? Swap::unsupported : Swap::failed;
#else
    return Swap::unsupported;
#endif
}

bool rename_new(const Folder& folder, const fs::path& from, const fs::path& to)
{
    const int at = descriptor(folder);
#if defined(RENAME_NOREPLACE)
    if (renameat2(at, from.c_str(), at, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
#endif
    // A second name that only a free name takes, then the first one gone.
    if (linkat(at, from.c_str(), at, to.c_str(), 0) == 0) {
        unlinkat(at, from.c_str(), 0);
        return true;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS)
        return false;
    // Neither rename's flags nor hard links (VirtualBox's shared folders,
    // some FUSE file systems): a plain rename onto a name found free a
    // moment before. Such a file system gives no way to close that moment.
    struct stat taken {};
    if (fstatat(at, to.c_str(), &taken, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT)
        return false;
    return renameat(at, from.c_str(), at, to.c_str()) == 0;
}

void remove(const Folder& folder, const fs::path& name)
{
    unlinkat(descriptor(folder), name.c_str(), 0);
}

intptr_t hold(const Folder& folder, const fs::path& name)
{
    return openat(descriptor(folder), name.c_str(), hold_flags);
}

void release(intptr_t held)
{
    if (held >= 0)
        close(static_cast<int>(held));
}

uint64_t process_id()
{
    return static_cast<uint64_t>(getpid());
}

intptr_t lock_folder(const Folder& folder)
{
    const int file = open_for_reading(folder);
    if (file < 0)
        return no_lock;
    if (!retry_for_a_while([&] { return flock(file, LOCK_EX | LOCK_NB) == 0; })) {
        close(file);
        return no_lock;
    }
    return file;
}

void unlock_folder(intptr_t lock)
{
    if (lock != no_lock)
        close(static_cast<int>(lock));
}

} // namespace meshwright::file_system

#endif
