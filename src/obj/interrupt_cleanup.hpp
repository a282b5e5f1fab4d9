#pragma once

#include <signal.h>

#include <string>

namespace meshwright {

// Removes the temporary file that is being written when the user interrupts
// the program (Ctrl-C, kill, a closed terminal), then lets the signal end the
// program as it would have: the caller sees the usual status.
//
// At most one temporary file is pending at a time. Its path is copied, so the
// caller's string may change or go away.
void remove_on_interrupt(const std::string& temporary_path);

// The pending file is gone or renamed; interrupts no longer touch it.
void forget_on_interrupt();

// Holds back the stopping signals in this thread while it lives, so that a
// temporary file can be created and registered as one step.
class InterruptsHeld {
  public:
    InterruptsHeld();
    ~InterruptsHeld();
    InterruptsHeld(const InterruptsHeld&) = delete;
    InterruptsHeld& operator=(const InterruptsHeld&) = delete;

  private:
    sigset_t previous_mask_;
};

} // namespace meshwright
