#pragma once

#include <initializer_list>

#include "io/output_file.hpp"

namespace meshwright {

// Puts finished output files in place as one step, so that they stay a set:
// each run's files, or another's, never a mix. Under a lock on every folder
// of the set (shared with other runs, waited for a few seconds at most), and
// with interrupts deferred, every temporary file takes its destination's
// place, the largest last; an interrupt that came meanwhile ends the
// program right after, with every file in place. A file that cannot be put
// in place, or whose destination is no longer what it was, undoes the steps
// before it, and the failure is thrown with the old set intact. The replaced
// files are held open until the end, so that freeing a large one does not
// stretch the step. Null entries and files written in place are passed over.
void commit_outputs(std::initializer_list<OutputFile*> files);

} // namespace meshwright
