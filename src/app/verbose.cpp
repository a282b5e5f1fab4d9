#include "app/verbose.hpp"

namespace meshwright {

bool verbose = false;

} // namespace meshwright
