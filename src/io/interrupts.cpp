#include "io/interrupts.hpp"

#include <atomic>
#include <mutex>
#include <shared_mutex>

#if defined(_WIN32)
#include "base/windows.hpp"

#include <string>
#else
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#endif

namespace meshwright {

namespace {

std::once_flag handlers_installed;

#if defined(_WIN32)

// Ctrl-C, Ctrl-Break and a closed console arrive on a thread of their own,
// which waits for this lock while the files are registered or renamed.
std::recursive_mutex pending_mutex;
std::wstring pending[max_pending_files];

// Returning FALSE lets the default handler end the program after.
BOOL WINAPI remove_pending_and_stop(DWORD)
{
    const std::lock_guard lock(pending_mutex);
    for (const std::wstring& path : pending) {
        if (!path.empty())
            DeleteFileW(path.c_str());
    }
    return FALSE;
}

void install_handlers()
{
    SetConsoleCtrlHandler(remove_pending_and_stop, TRUE);
}

#else

// Temporary file names are short; a pending file is its folder's descriptor
// and its name, which the handler removes with one unlinkat, safe where it
// runs. The name is complete before the descriptor is published.
constexpr size_t max_name_bytes = 64;
struct Pending {
    std::atomic<int> folder{-1};
    char name[max_name_bytes] = {};
};
Pending pending[max_pending_files];
static_assert(std::atomic<int>::is_always_lock_free, "the interrupt handler reads it");

// Every signal whose default is to end the program, but for the faults of
// the program itself (SIGSEGV and the like).
const int stopping_signals[] = {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGALRM, SIGTERM, SIGUSR1, SIGUSR2, SIGXFSZ,
                                SIGXCPU, SIGVTALRM, SIGPROF,
#if defined(SIGIO)
                                SIGIO,
#endif
#if defined(SIGPWR)
                                SIGPWR,
#endif
#if defined(SIGSTKFLT)
                                SIGSTKFLT,
#endif
};

// Signals that also tell of a fault of the program itself. Sent by another
// process (kill -ABRT, timeout -s SEGV) they stop it like the others; raised
// by the program (its own abort()) or by the system for a real fault, they
// end it at once, as they would without the handler.
const int fault_signals[] = {SIGABRT, SIGSEGV, SIGBUS, SIGTRAP, SIGSYS, SIGFPE, SIGILL};

bool is_fault_signal(int signal_number)
{
    for (int fault : fault_signals) {
        if (fault == signal_number)
            return true;
    }
    return false;
}

// The fault signals given to remove_pending_and_stop(); only those are held
// back, so that a sanitizer's own handler still sees every fault at once.
sigset_t taken_faults = [] {
    sigset_t set;
    sigemptyset(&set);
    return set;
}();

sigset_t stopping_set()
{
    sigset_t set;
    sigemptyset(&set);
    for (int signal_number : stopping_signals)
        sigaddset(&set, signal_number);
    for (int signal_number : fault_signals) {
        if (sigismember(&taken_faults, signal_number) == 1)
            sigaddset(&set, signal_number);
    }
#if defined(SIGRTMIN)
    for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number)
        sigaddset(&set, signal_number);
#endif
    return set;
}

pid_t own_process = 0;

// A write into a closed pipe (SIGPIPE) or past the file-size limit (SIGXFSZ)
// is a failed write, which the writer reports; from anyone else, these
// signals stop the program like the others.
bool reports_own_write(int signal_number, const siginfo_t* info)
{
    return (signal_number == SIGPIPE || signal_number == SIGXFSZ) && info && info->si_code == SI_USER &&
           info->si_pid == own_process;
}

// Whether the program itself caused a fault signal: by raising it (its
// own abort()), or by the fault the system tells of with the signal's own
// code. Another process's, and the kernel's on another's behalf (a
// debugger's), are sent.
bool raised_by_program(const siginfo_t* info)
{
    if (!info)
        return true;
    return info->si_code <= 0 ? info->si_pid == own_process : info->si_code != SI_KERNEL;
}

void restore_default(int signal_number)
{
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(signal_number, &default_action, nullptr);
}

extern "C" void remove_pending_and_stop(int signal_number, siginfo_t* info, void*)
{
    if (reports_own_write(signal_number, info))
        return;
    if (is_fault_signal(signal_number) && raised_by_program(info)) {
        // A fault comes again as the faulting instruction runs again, and
        // abort() raises its signal again: with the default action, both end
        // the program at once.
        restore_default(signal_number);
        return;
    }
    for (Pending& file : pending) {
        const int folder = file.folder.load();
        if (folder >= 0)
            unlinkat(folder, file.name, 0);
    }
    // The signal stays blocked until this handler returns, so with its
    // default action back it ends the program right after.
    restore_default(signal_number);
    raise(signal_number);
}

void install_handlers()
{
    own_process = getpid();
    sigset_t set = stopping_set();
    for (int signal_number : fault_signals)
        sigaddset(&set, signal_number);
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
        struct sigaction current {};
        // A signal the caller chose to ignore (nohup, a test) stays ignored,
        // and a fault signal that is handled already (by a sanitizer) keeps
        // its handler.
        if (sigismember(&set, signal_number) != 1 || sigaction(signal_number, nullptr, &current) != 0 ||
            current.sa_handler == SIG_IGN || (is_fault_signal(signal_number) && current.sa_handler != SIG_DFL))
            continue;
        struct sigaction action {};
        action.sa_sigaction = remove_pending_and_stop;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        if (sigaction(signal_number, &action, nullptr) == 0 && is_fault_signal(signal_number))
            sigaddset(&taken_faults, signal_number);
    }
}

#endif

} // namespace

void watch_interrupts()
{
    std::call_once(handlers_installed, install_handlers);
}

#if defined(_WIN32)

InterruptsHeld::InterruptsHeld() = default;
InterruptsHeld::~InterruptsHeld() = default;

InterruptsDeferred::InterruptsDeferred()
{
    pending_mutex.lock();
}

InterruptsDeferred::~InterruptsDeferred()
{
    pending_mutex.unlock();
}

int remove_on_interrupt(const file_system::Folder& folder, const std::filesystem::path& name)
{
    watch_interrupts();
    std::wstring path = folder.path_of(name).wstring();
    const std::lock_guard lock(pending_mutex);
    for (int slot = 0; slot < max_pending_files; ++slot) {
        if (pending[slot].empty()) {
            pending[slot] = std::move(path);
            return slot;
        }
    }
    return -1;
}

void forget_on_interrupt(int slot)
{
    const std::lock_guard lock(pending_mutex);
    if (slot >= 0)
        pending[slot].clear();
}

void let_interrupts_in()
{
    // Interrupts arrive on a thread of their own, which waits for the steps
    // under way (pending_mutex) by itself.
}

#else

InterruptsHeld::InterruptsHeld()
{
    static const sigset_t set = stopping_set();
    pthread_sigmask(SIG_BLOCK, &set, &previous_mask_);
}

InterruptsHeld::~InterruptsHeld()
{
    pthread_sigmask(SIG_SETMASK, &previous_mask_, nullptr);
}

namespace {

// Steps that must not be cut in two (a temporary file made and registered,
// a set of files put in place) hold this shared; let_interrupts_in() waits
// until none is under way.
std::shared_mutex steps_mutex;

} // namespace

InterruptsDeferred::InterruptsDeferred()
{
    steps_mutex.lock_shared();
}

InterruptsDeferred::~InterruptsDeferred()
{
    steps_mutex.unlock_shared();
}

void let_interrupts_in()
{
    static const sigset_t set = stopping_set();
    const std::lock_guard lock(steps_mutex);
    sigset_t previous;
    // A signal that waits is handled before the mask is put back.
    pthread_sigmask(SIG_UNBLOCK, &set, &previous);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

int remove_on_interrupt(const file_system::Folder& folder, const std::filesystem::path& name)
{
    watch_interrupts();
    const std::string& text = name.native();
    if (text.size() >= max_name_bytes)
        return -1;
    const InterruptsHeld held;
    for (int slot = 0; slot < max_pending_files; ++slot) {
        // Claimed first (-2), so that two threads never take one slot.
        int free = -1;
        if (pending[slot].folder.compare_exchange_strong(free, -2)) {
            std::memcpy(pending[slot].name, text.c_str(), text.size() + 1);
            pending[slot].folder.store(static_cast<int>(folder.handle()));
            return slot;
        }
    }
    return -1;
}

void forget_on_interrupt(int slot)
{
    if (slot >= 0)
        pending[slot].folder.store(-1);
}

#endif

} // namespace meshwright
