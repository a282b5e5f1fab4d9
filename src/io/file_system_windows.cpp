#include "io/file_system.hpp"

#if defined(_WIN32)

#include "base/windows.hpp"
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>

#include <cwctype>
#include <functional>

namespace meshwright::file_system {

namespace {

// How long the folder lock waits for another holder.
constexpr DWORD lock_patience_ms = 3000;

FILE* stream_of(HANDLE handle, const fs::path& path)
{
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    FILE* file = _fdopen(descriptor, "wb");
    if (!file) {
        _close(descriptor);
        DeleteFileW(path.c_str());
    }
    return file;
}

} // namespace

// Windows has no handles on folders to make files in; the path stands in.
Folder::Folder(const fs::path& path) : path_(path), handle_(0) {}

Folder::~Folder() = default;

fs::path Folder::path_of(const fs::path& name) const
{
    return path_.empty() ? name : path_ / name;
}

FileState inspect(const Folder& folder, const fs::path& name)
{
    const fs::path path = folder.path_of(name);
    struct _stat64 info {};
    FileState state;
    if (_wstat64(path.c_str(), &info) != 0)
        return state;
    state.exists = true;
    state.regular = (info.st_mode & _S_IFMT) == _S_IFREG;
    // A file with the read-only attribute is refused for writing.
    state.writable = _waccess(path.c_str(), 2) == 0;
    state.permissions = info.st_mode & 0777;
    return state;
}


bool may_follow_link(const Folder&, const fs::path&)
{
    return true;
}

FILE* create_private(const Folder& folder, const fs::path& name, CreateError& error)
{
    const fs::path path = folder.path_of(name);
    // Others may delete it while it is open, so that Ctrl-C can remove it.
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        error = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS ? CreateError::name_taken
                : code == ERROR_ACCESS_DENIED || code == ERROR_WRITE_PROTECT ? CreateError::refused
                                                                               : CreateError::other;
        return nullptr;
    }
    error = CreateError::none;
    return stream_of(handle, path);
}

FILE* open_existing(const Folder& folder, const fs::path& name, bool)
{
    return _wfopen(folder.path_of(name).c_str(), L"wb");
}

size_t max_name_length(const Folder&)
{
    return 255;
}

void take_metadata(FILE*, const FileState&, const fs::path&)
{
    // Windows keeps permissions in access lists, which a new file inherits
    // from its folder.
}

bool replace(const Folder& folder, const fs::path& from, const fs::path& to)
{
    return MoveFileExW(folder.path_of(from).c_str(), folder.path_of(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool exchange(const Folder&, const fs::path&, const fs::path&)
{
    return false;
}

void remove(const Folder& folder, const fs::path& name)
{
    DeleteFileW(folder.path_of(name).c_str());
}

intptr_t hold(const Folder&, const fs::path&)
{
    return -1;
}

void release(intptr_t) {}

uint64_t process_id()
{
    return static_cast<uint64_t>(_getpid());
}

intptr_t lock_folder(const fs::path& folder)
{
    // A named mutex stands in for a lock on the folder itself. Names differ
    // in case only where the files do not.
    std::error_code error;
    std::wstring place = fs::weakly_canonical(folder.empty() ? fs::path(L".") : folder, error).wstring();
    for (wchar_t& c : place)
        c = static_cast<wchar_t>(std::towlower(c));
    const std::wstring mutex_name = L"Local\\meshwright-" + std::to_wstring(std::hash<std::wstring>{}(place));
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
