#include "io/file_system.hpp"

#if defined(_WIN32)

#include "base/windows.hpp"
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>

#include <cwctype>

namespace meshwright::file_system {

namespace {

// How long the folder lock waits for another holder.
constexpr DWORD lock_patience_ms = 3000;

FILE* stream_of(HANDLE handle, const fs::path& path, bool read_back = false)
{
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    const int descriptor =
        _open_osfhandle(reinterpret_cast<intptr_t>(handle), (read_back ? _O_RDWR : _O_WRONLY) | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    FILE* file = _fdopen(descriptor, read_back ? "w+b" : "wb");
    if (!file) {
        _close(descriptor);
        DeleteFileW(path.c_str());
    }
    return file;
}

// The volume and file number of a file or folder, links not followed.
Identity identity_of(const fs::path& path)
{
    const HANDLE handle = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return {};
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (!known)
        return {};
    const uint64_t created = uint64_t{info.ftCreationTime.dwHighDateTime} << 32 | info.ftCreationTime.dwLowDateTime;
    return {info.dwVolumeSerialNumber, uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow, created};
}

bool names_null_device(const fs::path& name)
{
    const std::wstring& text = name.native();
    return text.size() >= 3 && std::towupper(text[0]) == L'N' && std::towupper(text[1]) == L'U' &&
           std::towupper(text[2]) == L'L';
}

} // namespace

// Windows has no handles on folders to make files in; the path stands in.
Folder::Folder(const fs::path& path) : path_(path), handle_(0) {}

Folder::~Folder() = default;

fs::path Folder::path_of(const fs::path& name) const
{
    return path_.empty() ? name : path_ / name;
}

Identity Folder::identity() const
{
    return identity_of(path_.empty() ? fs::path(L".") : path_);
}

bool names_reserved_device(const fs::path& name)
{
    // The name before its first dot, without trailing blanks, in any case.
    std::wstring base = name.native().substr(0, name.native().find(L'.'));
    base.erase(base.find_last_not_of(L' ') + 1);
    for (wchar_t& c : base)
        c = static_cast<wchar_t>(std::towupper(c));
    if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL")
        return true;
    return base.size() == 4 && (base.starts_with(L"COM") || base.starts_with(L"LPT")) && base[3] >= L'1' &&
           base[3] <= L'9';
}

FileState inspect(const Folder& folder, const fs::path& name)
{
    FileState state;
    if (names_reserved_device(name)) {
        // The null device takes an output like /dev/null; consoles, ports
        // and printers are no place for one.
        state.exists = true;
        state.writable = names_null_device(name);
        return state;
    }
    const fs::path path = folder.path_of(name);
    struct _stat64 info {};
    if (_wstat64(path.c_str(), &info) != 0)
        return state;
    state.exists = true;
    state.regular = (info.st_mode & _S_IFMT) == _S_IFREG;
    // A file with the read-only attribute is refused for writing.
    state.writable = _waccess(path.c_str(), 2) == 0;
    state.permissions = info.st_mode & 0777;
    state.identity = identity_of(path);
    return state;
}

bool may_use_planted(const Folder&, const fs::path&)
{
    return true;
}

bool takes_removable_files(const Folder&)
{
    return true;
}

// Why the file just asked for could not be made.
CreateError creation_error()
{
    const DWORD code = GetLastError();
    return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS ? CreateError::name_taken : CreateError::other;
}

FILE* create_private(const Folder& folder, const fs::path& name, CreateError& error)
{
    const fs::path path = folder.path_of(name);
    // Others may delete it while it is open, so that Ctrl-C can remove it.
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = creation_error();
        return nullptr;
    }
    error = CreateError::none;
    return stream_of(handle, path);
}

FILE* create_scratch(const Folder& folder, const fs::path& name, CreateError& error)
{
    const fs::path path = folder.path_of(name);
    // Windows removes it when the last handle closes, also when the
    // program is ended.
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = creation_error();
        return nullptr;
    }
    error = CreateError::none;
    return stream_of(handle, path, true);
}

bool may_search(const fs::path&)
{
    return true;
}

FileState inspect_through_link(const Folder&, const fs::path&)
{
    return {};
}

bool is_standard_output(const FileState&)
{
    // Windows has no name for standard output that a path reaches.
    return false;
}

FILE* open_special(const Folder& folder, const fs::path& name, bool, bool)
{
    return _wfopen(names_reserved_device(name) ? name.c_str() : folder.path_of(name).c_str(), L"wb");
}

size_t max_name_length(const Folder&)
{
    return 255;
}

void start_writeback(FILE*, uint64_t, uint64_t)
{
    // Windows writes a renamed file's data out by itself.
}

void take_metadata(FILE*, const FileState&, const fs::path&, const Folder&)
{
    // Windows keeps permissions in access lists, which a new file inherits
    // from its folder.
}

Swap exchange(const Folder&, const fs::path&, const fs::path&)
{
    return Swap::unsupported;
}

bool rename_new(const Folder& folder, const fs::path& from, const fs::path& to)
{
    // Without MOVEFILE_REPLACE_EXISTING, an existing `to` fails the move; so
    // does a `from` that another program holds open without delete sharing.
    return MoveFileExW(folder.path_of(from).c_str(), folder.path_of(to).c_str(), 0) != 0;
}

void remove(const Folder& folder, const fs::path& name)
{
    DeleteFileW(folder.path_of(name).c_str());
}

intptr_t hold(const Folder& folder, const fs::path& name)
{
    // No access of its own and every sharing mode: others may still read,
    // write, rename and delete the file while it is held.
    const HANDLE handle = CreateFileW(folder.path_of(name).c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    return handle == INVALID_HANDLE_VALUE ? no_hold : reinterpret_cast<intptr_t>(handle);
}

void release(intptr_t held)
{
    if (held != no_hold)
        CloseHandle(reinterpret_cast<HANDLE>(held));
}

uint64_t process_id()
{
    return static_cast<uint64_t>(_getpid());
}

intptr_t lock_folder(const Folder& folder)
{
    // A named mutex, named after the folder's identity, stands in for a lock
    // on the folder itself.
    [[maybe_unused]] const auto [volume, index, created] = folder.identity();
    const std::wstring mutex_name = L"Local\\meshwright-" + std::to_wstring(volume) + L"-" + std::to_wstring(index);
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, mutex_name.c_str());
    if (!mutex)
        return no_lock;
    const DWORD result = WaitForSingleObject(mutex, lock_patience_ms);
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return no_lock;
    }
    return reinterpret_cast<intptr_t>(mutex);
}

void unlock_folder(intptr_t lock)
{
    if (lock == no_lock)
        return;
    ReleaseMutex(reinterpret_cast<HANDLE>(lock));
    CloseHandle(reinterpret_cast<HANDLE>(lock));
}

} // namespace meshwright::file_system

#endif
