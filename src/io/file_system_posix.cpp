#include "io/file_system.hpp"

#if !defined(_WIN32)

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/xattr.h>
#endif

#include <cerrno>
#include <cstdio>
#include <chrono>
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
mode_t new_file_permissions()
{
    static const mode_t permissions = [] {
        const mode_t mask = umask(022);
        umask(mask);
        return 0666 & ~mask;
    }();
    return permissions;
}

void copy_extended_attributes([[maybe_unused]] int file, [[maybe_unused]] const fs::path& from)
{
#if defined(__linux__)
    // Access lists are attributes too (system.posix_acl_access).
    const ssize_t list_size = listxattr(from.c_str(), nullptr, 0);
    if (list_size <= 0)
        return;
    std::vector<char> names(static_cast<size_t>(list_size));
    const ssize_t listed = listxattr(from.c_str(), names.data(), names.size());
    for (ssize_t at = 0; at < listed; at += static_cast<ssize_t>(std::char_traits<char>::length(&names[at])) + 1) {
        const char* name = &names[at];
        const ssize_t size = getxattr(from.c_str(), name, nullptr, 0);
        if (size < 0)
            continue;
        std::vector<char> value(static_cast<size_t>(size));
        if (getxattr(from.c_str(), name, value.data(), value.size()) == size)
            fsetxattr(file, name, value.data(), value.size(), 0);
    }
#endif
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
    return path_ / name;
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
    return state;
}


bool may_follow_link(const Folder& folder, const fs::path& name)
{
    struct stat link {};
    struct stat place {};
    if (fstatat(descriptor(folder), name.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0 ||
        fstat(descriptor(folder), &place) != 0)
        return false;
    const bool shared = (place.st_mode & S_ISVTX) && (place.st_mode & S_IWOTH);
    return !shared || link.st_uid == geteuid() || link.st_uid == place.st_uid;
}

FILE* create_private(const Folder& folder, const fs::path& name, CreateError& error)
{
    const int file = openat(descriptor(folder), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (file < 0) {
        error = errno == EEXIST                                          ? CreateError::name_taken
                : errno == EACCES || errno == EPERM || errno == EROFS ? CreateError::refused
                                                                         : CreateError::other;
        return nullptr;
    }
    error = CreateError::none;
    return stream_of(file, "wb");
}

FILE* open_existing(const Folder& folder, const fs::path& name, bool fifo)
{
    const int flags = O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC;
    if (!fifo)
        return stream_of(openat(descriptor(folder), name.c_str(), flags), "wb");
    // Opening a FIFO for writing waits for a reader; without blocking, it
    // fails at once instead when there is none yet.
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

void take_metadata(FILE* file, const FileState& replaced, const fs::path& replaced_path)
{
    const int target = fileno(file);
    if (!replaced.exists) {
        fchmod(target, new_file_permissions());
        return;
    }
    const auto keeps_owner = [&] {
        struct stat info {};
        return fstat(target, &info) == 0 && info.st_uid == replaced.owner && info.st_gid == replaced.group;
    };
    // Only root may give a file away; for anyone else this fails, harmlessly.
    if (!keeps_owner() && fchown(target, replaced.owner, replaced.group) != 0)
        errno = 0;
    // setuid and setgid mean "run as this owner and group": never for
    // another owner's or group's file.
    unsigned permissions = replaced.permissions;
    if (!keeps_owner())
        permissions &= ~unsigned{S_ISUID | S_ISGID};
    fchmod(target, static_cast<mode_t>(permissions));
    copy_extended_attributes(target, replaced_path);
}

bool replace(const Folder& folder, const fs::path& from, const fs::path& to)
{
    return renameat(descriptor(folder), from.c_str(), descriptor(folder), to.c_str()) == 0;
}

bool exchange([[maybe_unused]] const Folder& folder, [[maybe_unused]] const fs::path& from,
              [[maybe_unused]] const fs::path& to)
{
#if defined(RENAME_EXCHANGE)
    return renameat2(descriptor(folder), from.c_str(), descriptor(folder), to.c_str(), RENAME_EXCHANGE) == 0;
#else
    return false;
#endif
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

intptr_t lock_folder(const fs::path& folder)
{
    const int file = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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
