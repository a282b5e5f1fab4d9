#include "app/run.hpp"
#include "app/utf8_main.hpp"

#if defined(_WIN32)
int wmain(int argc, wchar_t** argv)
{
    return meshwright::run_with_utf8_arguments(argc, argv, [](int count, char** arguments) {
        return meshwright::run(count, arguments);
    });
}
#else
int main(int argc, char** argv)
{
    return meshwright::run(argc, argv);
}
#endif
