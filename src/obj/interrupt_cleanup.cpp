#include "obj/interrupt_cleanup.hpp"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

#if defined(_WIN32)
#include "base/windows.hpp"

#include "base/file_names.hpp"
#else
#include <csignal>
#include <unistd.h>
#endif

namespace meshwright {

namespace {

#if defined(_WIN32)
using PathChar = wchar_t;
#else
using PathChar = char;
#endif

// The handler only reads this pointer and removes the file it names, both
// safe where it runs; the text lives until the pointer is cleared.
std::atomic<const PathChar*> pending_path{nullptr};
static_assert(std::atomic<const PathChar*>::is_always_lock_free, "the interrupt handler reads it");

std::unique_ptr<PathChar[]> pending_storage;

#if defined(_WIN32)

// The console handler runs on a thread of its own, so it may wait for the
// pending path to be swapped.
std::mutex pending_mutex;

// Ctrl-C, Ctrl-Break and a closed console arrive on a thread of their own;
// returning FALSE lets the default handler end the program after.
BOOL WINAPI remove_pending_and_stop(DWORD)
{
    const std::lock_guard lock(pending_mutex);
    if (const wchar_t* path = pending_path.load())
        DeleteFileW(path);
    return FALSE;
}

void install_handlers()
{
    SetConsoleCtrlHandler(remove_pending_and_stop, TRUE);
}

std::unique_ptr<PathChar[]> copy_of(const std::string& path)
{
    const std::wstring wide = path_from_utf8(path).wstring();
    auto copy = std::make_unique<wchar_t[]>(wide.size() + 1);
    std::memcpy(copy.get(), wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
    return copy;
}

#else

// Signals that end the program by default and that a user or the system
// sends to stop it; SIGXFSZ is a file-size limit hit while writing.
constexpr int stopping_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};

extern "C" void remove_pending_and_stop(int signal_number)
{
    if (const char* path = pending_path.load())
        unlink(path);
    // SA_RESETHAND restored the default action, and the signal stays blocked
    // until this handler returns, so it ends the program right after.
    raise(signal_number);
}

void install_handlers()
{
    for (int signal_number : stopping_signals) {
        struct sigaction current {};
        // A signal the caller chose to ignore (nohup, a test) stays ignored.
        if (sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = remove_pending_and_stop;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        sigaction(signal_number, &action, nullptr);
    }
}

std::unique_ptr<PathChar[]> copy_of(const std::string& path)
{
    auto copy = std::make_unique<char[]>(path.size() + 1);
    std::memcpy(copy.get(), path.c_str(), path.size() + 1);
    return copy;
}

#endif

} // namespace

#if defined(_WIN32)

InterruptsHeld::InterruptsHeld() = default;
InterruptsHeld::~InterruptsHeld() = default;

#else

InterruptsHeld::InterruptsHeld()
{
    sigset_t set;
    sigemptyset(&set);
    for (int signal_number : stopping_signals)
        sigaddset(&set, signal_number);
    pthread_sigmask(SIG_BLOCK, &set, &previous_mask_);
}

InterruptsHeld::~InterruptsHeld()
{
    pthread_sigmask(SIG_SETMASK, &previous_mask_, nullptr);
}

#endif

void remove_on_interrupt(const std::string& temporary_path)
{
    static std::once_flag installed;
    std::call_once(installed, install_handlers);
    auto copy = copy_of(temporary_path);
    const InterruptsHeld held;
#if defined(_WIN32)
    const std::lock_guard lock(pending_mutex);
#endif
    pending_path.store(copy.get());
    pending_storage = std::move(copy);
}

void forget_on_interrupt()
{
    const InterruptsHeld held;
#if defined(_WIN32)
    const std::lock_guard lock(pending_mutex);
#endif
    pending_path.store(nullptr);
    pending_storage.reset();
}

} // namespace meshwright
