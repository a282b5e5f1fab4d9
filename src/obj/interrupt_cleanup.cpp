#include "obj/interrupt_cleanup.hpp"

#include <atomic>
#include <csignal>
#include <cstring>
#include <memory>
#include <mutex>
#include <unistd.h>

namespace meshwright {

namespace {

// The handler only reads this pointer and calls unlink, both safe inside a
// signal handler; the text it points to lives until the pointer is cleared.
std::atomic<const char*> pending_path{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free, "the signal handler reads it");

std::unique_ptr<char[]> pending_storage;

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

} // namespace

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

void remove_on_interrupt(const std::string& temporary_path)
{
    static std::once_flag installed;
    std::call_once(installed, install_handlers);
    auto copy = std::make_unique<char[]>(temporary_path.size() + 1);
    std::memcpy(copy.get(), temporary_path.c_str(), temporary_path.size() + 1);
    const InterruptsHeld held;
    pending_path.store(copy.get());
    pending_storage = std::move(copy);
}

void forget_on_interrupt()
{
    const InterruptsHeld held;
    pending_path.store(nullptr);
    pending_storage.reset();
}

} // namespace meshwright
