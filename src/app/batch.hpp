#pragma once

namespace meshwright {

// meshwright-batch: converts the levels named on the command line, and
// those in the folders named there, with the bitmaps found for them by
// BitmapLookup's rule; returns the exit status (0: every level converted, 1:
// some failed, 2: a usage error or outputs that collide, nothing written).
int run_batch(int argc, char** argv);

} // namespace meshwright
