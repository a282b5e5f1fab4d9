#include "load_helpers.hpp"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <thread>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

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

#if defined(_WIN32)
// Windows has no memory streams: a temporary file is the nearest thing.
FILE* memory_stream(const std::vector<uint8_t>& bytes)
{
    FILE* file = std::tmpfile();
    if (file && !bytes.empty())
        std::fwrite(bytes.data(), 1, bytes.size(), file);
    if (file)
        std::rewind(file);
    return file;
}

int make_pipe(int ends[2])
{
    return _pipe(ends, 1 << 16, _O_BINARY);
}

FILE* read_end(int descriptor)
{
    return _fdopen(descriptor, "rb");
}

int write_some(int descriptor, const uint8_t* data, size_t size)
{
    return _write(descriptor, data, static_cast<unsigned>(size));
}

void close_descriptor(int descriptor)
{
    _close(descriptor);
}
#else
FILE* memory_stream(const std::vector<uint8_t>& bytes)
{
    static uint8_t no_bytes[1];
    uint8_t* data = bytes.empty() ? no_bytes : const_cast<uint8_t*>(bytes.data());
    return fmemopen(data, bytes.size(), "rb");
}

int make_pipe(int ends[2])
{
    // A reader that rejects the level early closes the pipe while the feeder
    // may still be writing; that must end the feeder, not the test.
    std::signal(SIGPIPE, SIG_IGN);
    return ::pipe(ends);
}

FILE* read_end(int descriptor)
{
    return fdopen(descriptor, "rb");
}

int write_some(int descriptor, const uint8_t* data, size_t size)
{
    return static_cast<int>(::write(descriptor, data, size));
}

void close_descriptor(int descriptor)
{
    ::close(descriptor);
}
#endif

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
    case StreamKind::memory:
        fixture.file = memory_stream(bytes);
        break;
    case StreamKind::pipe: {
        int ends[2];
        if (make_pipe(ends) != 0)
            break;
        fixture.file = read_end(ends[0]);
        fixture.feeder = std::thread([&bytes, out = ends[1]] {
            size_t done = 0;
            while (done < bytes.size()) {
                const int n = write_some(out, bytes.data() + done, std::min<size_t>(bytes.size() - done, 1 << 20));
                if (n <= 0)
                    break;
                done += static_cast<size_t>(n);
            }
            close_descriptor(out);
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
