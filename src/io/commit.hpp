#pragma once

#include <initializer_list>

#include "io/output_file.hpp"

namespace meshwright {

// Puts finished output files in place as one step, so that they stay a set:
// each run's files, or another's, never a mix. Under a lock on the first
// file's folder (shared with other runs, waited for a few seconds at most),
// and with interrupts deferred, every temporary file is renamed over its
// destination; an interrupt that came meanwhile ends the program right
// after, with every file in place. The replaced files are held open until
// then, so that freeing a large one does not stretch the renames. Null
// entries and files written in place are passed over.
void commit_outputs(std::initializer_list<OutputFile*> files);

} // namespace meshwright
