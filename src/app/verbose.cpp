#include "app/verbose.hpp"

bool verbose = false;
