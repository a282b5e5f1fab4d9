#pragma once

#include <filesystem>

#if !defined(_WIN32)
#include <signal.h>
#endif

#include "io/file_system.hpp"

namespace meshwright {

// Removes the temporary files being written when the user interrupts the
// program (Ctrl-C, the quit key, kill with any signal that ends a program, a
// closed terminal or console), then lets the interrupt end the program as
// it would have: the caller sees the usual status. A write into a closed
// pipe or past the file-size limit is a failed write instead, which the
// writer reports.
//
// A few files may be pending at once: two for each level converted at once.
// Each is named by its folder, which must stay open while it is registered,
// and its name there.
inline constexpr int max_pending_files = 64;

// Takes over the interrupts; done by the first registration, or earlier, so
// that a closed pipe on the console fails a write rather than the program.
void watch_interrupts();

// Registers a file; returns its slot, or -1 when all are taken.
int remove_on_interrupt(const file_system::Folder& folder, const std::filesystem::path& name);

// The file in `slot` is gone or renamed; interrupts no longer touch it.
void forget_on_interrupt(int slot);

// Holds back the interrupts in this thread while it lives, so that a
// temporary file is created and registered as one step, and so that helper
// threads leave interrupts to the thread that owns the files. (On Windows,
// interrupts arrive on a thread of their own and this does nothing.)
class InterruptsHeld {
  public:
    InterruptsHeld();
    ~InterruptsHeld();
    InterruptsHeld(const InterruptsHeld&) = delete;
    InterruptsHeld& operator=(const InterruptsHeld&) = delete;

  private:
#if !defined(_WIN32)
    sigset_t previous_mask_;
#endif
};

// Holds back the interrupts of the whole program while it lives: one that
// comes meanwhile ends the program as soon as this ends, or, where the
// threads that own files hold them back for good, at the next
// let_interrupts_in(). Any number of threads may defer them at once. Every
// other thread must hold them back already.
class InterruptsDeferred {
  public:
    InterruptsDeferred();
    ~InterruptsDeferred();
    InterruptsDeferred(const InterruptsDeferred&) = delete;
    InterruptsDeferred& operator=(const InterruptsDeferred&) = delete;

#if !defined(_WIN32)
  private:
    InterruptsHeld held_;
#endif
};

// For a thread that holds interrupts back while other threads write files:
// takes an interrupt that came meanwhile, once no thread defers them, which
// ends the program with every pending file removed.
void let_interrupts_in();

} // namespace meshwright
