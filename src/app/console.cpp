#include "app/console.hpp"

#include <cstdio>

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace meshwright {

namespace {

bool failed = false;

} // namespace

void console_line(std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        failed = true;
}

bool console_failed()
{
    return failed;
}

void console_error(std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void claim_standard_streams()
{
#if !defined(_WIN32)
    // Open read-only, a closed output descriptor refuses every write.
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) == -1 && errno == EBADF && open("/dev/null", O_RDONLY) != descriptor)
            return;
    }
#endif
}

} // namespace meshwright
