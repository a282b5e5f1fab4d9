#include "app/console.hpp"

#include <cstdio>

namespace meshwright {

void console_line(std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace meshwright
