#include "load_helpers.hpp"

#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <thread>
#include <unistd.h>

#include "bsp/bsp_reader.hpp"

namespace meshwright {

namespace {

struct StreamFixture {
    FILE* file = nullptr;
    std::thread feeder; // writes into the pipe while the reader reads it

    ~StreamFixture()
    {
        if (file)
            std::fclose(file);
        if (feeder.joinable())
            feeder.join();
    }
};

void open_stream(StreamFixture& fixture, const std::vector<uint8_t>& bytes, StreamKind kind)
{
    switch (kind) {
    case StreamKind::regular_file:
        fixture.file = std::tmpfile();
        if (fixture.file) {
            if (!bytes.empty())
                std::fwrite(bytes.data(), 1, bytes.size(), fixture.file);
            std::rewind(fixture.file);
        }
        break;
    case StreamKind::memory: {
        static uint8_t no_bytes[1];
        uint8_t* data = bytes.empty() ? no_bytes : const_cast<uint8_t*>(bytes.data());
        fixture.file = fmemopen(data, bytes.size(), "rb");
    } break;
    case StreamKind::pipe: {
        int ends[2];
        if (::pipe(ends) != 0)
            break;
        // A reader that rejects the level early closes the pipe while the
        // feeder may still be writing; that must end the feeder, not the test.
        std::signal(SIGPIPE, SIG_IGN);
        fixture.file = fdopen(ends[0], "rb");
        fixture.feeder = std::thread([&bytes, out = ends[1]] {
            size_t done = 0;
            while (done < bytes.size()) {
                ssize_t n = ::write(out, bytes.data() + done, bytes.size() - done);
                if (n <= 0)
                    break;
                done += static_cast<size_t>(n);
            }
            ::close(out);
        });
        break;
    }
    }
    if (!fixture.file)
        throw std::runtime_error("cannot open a test stream");
}

} // namespace

LoadResult load_level(const std::vector<uint8_t>& bytes, bool verbose_on, StreamKind kind)
{
    LoadResult result;
    StreamFixture fixture;
    open_stream(fixture, bytes, kind);
    const PrintLine collect = [&](std::string_view line) {
        result.console += line;
        result.console += '\n';
    };
    try {
        result.level = load_bsp(fixture.file, verbose_on, collect);
    } catch (const char* message) {
        result.error = message;
    }
    return result;
}

} // namespace meshwright
