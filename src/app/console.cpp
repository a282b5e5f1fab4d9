#include "app/console.hpp"

#include <cstdio>
#include <string>

#if defined(_WIN32)
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace meshwright {

namespace {

bool failed = false;
size_t progress_shown = 0; // the characters of the progress line on the terminal

} // namespace

void console_line(std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        failed = true;
}

bool console_is_terminal()
{
#if defined(_WIN32)
    return _isatty(_fileno(stdout)) != 0;
#else
    return isatty(STDOUT_FILENO) == 1;
#endif
}

void console_progress(std::string_view text)
{
    // Spaces over what the longer line before showed: no terminal codes,
    // which not every console reads.
    std::string line(1, '\r');
    line.append(text);
    if (text.size() < progress_shown)
        line.append(progress_shown - text.size(), ' ');
    if (text.empty())
        line += '\r';
    progress_shown = text.size();
    std::fwrite(line.data(), 1, line.size(), stdout);
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
