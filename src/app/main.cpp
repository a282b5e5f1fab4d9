#include "app/run.hpp"

#if defined(_WIN32)
#include "base/windows.hpp"

#include <string>
#include <vector>

// Windows hands the arguments over as UTF-16; the program carries file names
// as UTF-8 and opens them with the wide-character functions.
int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string utf8(size > 0 ? static_cast<size_t>(size) : 1, '\0');
        if (size > 0)
            WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, utf8.data(), size, nullptr, nullptr);
        utf8.resize(utf8.size() - 1);
        arguments.push_back(std::move(utf8));
    }
    std::vector<char*> pointers;
    for (std::string& argument : arguments)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    return meshwright::run(argc, pointers.data());
}
#else
int main(int argc, char** argv)
{
    return meshwright::run(argc, argv);
}
#endif
