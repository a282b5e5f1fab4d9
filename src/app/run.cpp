#include "app/run.hpp"
int run(int, char**) { return 0; }
