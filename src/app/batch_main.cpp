#include "app/batch.hpp"
#include "app/utf8_main.hpp"

#if defined(_WIN32)
int wmain(int argc, wchar_t** argv)
{
    return meshwright::run_with_utf8_arguments(argc, argv, meshwright::run_batch);
}
#else
int main(int argc, char** argv)
{
    return meshwright::run_batch(argc, argv);
}
#endif
