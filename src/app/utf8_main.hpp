#pragma once

#if defined(_WIN32)
#include "base/windows.hpp"

#include <string>
#include <vector>

namespace meshwright {

// Windows hands the arguments over as UTF-16; the programs carry file names
// as UTF-8 and open them with the wide-character functions.
inline int run_with_utf8_arguments(int argc, wchar_t** argv, int (*run)(int argc, char** argv))
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
    return run(argc, pointers.data());
}

} // namespace meshwright
#endif
