// Preloaded (LD_PRELOAD), answers that the machine has 16 processors, as
// the C++ library asks when a program counts them.
extern "C" int get_nprocs()
{
    return 16;
}
