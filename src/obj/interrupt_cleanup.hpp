#pragma once

#include <string>

#if !defined(_WIN32)
#include <signal.h>
#endif

namespace meshwright {

// Removes the temporary file that is being written when the user interrupts
// the program (Ctrl-C, kill, a closed terminal or console), then lets the
// interrupt end the program as it would have: the caller sees the usual
// status.
//
// At most one temporary file is pending at a time. Its path is copied, so the
// caller's string may change or go away.
void remove_on_interrupt(const std::string& temporary_path);

// The pending file is gone or renamed; interrupts no longer touch it.
void forget_on_interrupt();

// Holds back the interrupts in this thread while it lives, so that a
// temporary file can be created and registered as one step, and so that
// helper threads leave interrupts to the thread that owns the file. (On
// Windows, interrupts arrive on a thread of their own and this does nothing.)
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

} // namespace meshwright
