#include "obj/file_system.hpp"

#include "base/file_names.hpp"

#if defined(_WIN32)
#include "base/windows.hpp"
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>

#include <functional>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace meshwright::file_system {

#if defined(_WIN32)

namespace {

std::wstring wide(const std::string& name)
{
    return path_from_utf8(name).wstring();
}

} // namespace

FileState inspect(const std::string& name)
{
    struct _stat64 info {};
    FileState state;
    if (_wstat64(wide(name).c_str(), &info) != 0)
        return state;
    state.exists = true;
    state.regular = (info.st_mode & _S_IFMT) == _S_IFREG;
    state.writable = _waccess(wide(name).c_str(), 2) == 0;
    state.permissions = info.st_mode & 0777;
    return state;
}

FILE* create_new(const std::string& name, bool& exists)
{
    // Others may delete it while it is open, so that Ctrl-C can remove it.
    const HANDLE handle = CreateFileW(wide(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        exists = GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS;
        return nullptr;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        DeleteFileW(wide(name).c_str());
        return nullptr;
    }
    FILE* file = _fdopen(descriptor, "wb");
    if (!file) {
        _close(descriptor);
        DeleteFileW(wide(name).c_str());
    }
    return file;
}

void copy_permissions(FILE*, unsigned)
{
    // Windows keeps permissions in access lists, which a new file inherits
    // from its folder.
}

bool replace(const std::string& from, const std::string& to)
{
    return MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void remove(const std::string& name)
{
    DeleteFileW(wide(name).c_str());
}

uint64_t process_id()
{
    return static_cast<uint64_t>(_getpid());
}

intptr_t lock_folder(const std::string& folder)
{
    // A named mutex stands in for a lock on the folder itself.
    std::error_code error;
    const std::wstring place = std::filesystem::weakly_canonical(path_from_utf8(folder), error).wstring();
    const std::wstring mutex_name = L"Local\\meshwright-" + std::to_wstring(std::hash<std::wstring>{}(place));
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, mutex_name.c_str());
    if (!mutex)
        return no_lock;
    const DWORD result = WaitForSingleObject(mutex, INFINITE);
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

#else

FileState inspect(const std::string& name)
{
    struct stat info {};
    FileState state;
    if (stat(name.c_str(), &info) != 0)
        return state;
    state.exists = true;
    state.regular = S_ISREG(info.st_mode);
    state.writable = access(name.c_str(), W_OK) == 0;
    state.permissions = info.st_mode & 07777;
    return state;
}

FILE* create_new(const std::string& name, bool& exists)
{
    // 0666 less the umask, as for any new file.
    const int descriptor = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        exists = errno == EEXIST;
        return nullptr;
    }
    FILE* file = fdopen(descriptor, "wb");
    if (!file) {
        close(descriptor);
        unlink(name.c_str());
    }
    return file;
}

void copy_permissions(FILE* file, unsigned permissions)
{
    fchmod(fileno(file), static_cast<mode_t>(permissions));
}

bool replace(const std::string& from, const std::string& to)
{
    return std::rename(from.c_str(), to.c_str()) == 0;
}

void remove(const std::string& name)
{
    unlink(name.c_str());
}

uint64_t process_id()
{
    return static_cast<uint64_t>(getpid());
}

intptr_t lock_folder(const std::string& folder)
{
    const int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return no_lock;
    if (flock(descriptor, LOCK_EX) != 0) {
        close(descriptor);
        return no_lock;
    }
    return descriptor;
}

void unlock_folder(intptr_t lock)
{
    if (lock != no_lock)
        close(static_cast<int>(lock));
}

#endif

} // namespace meshwright::file_system
