// Counts how much of a file the system holds only in memory: its page cache
// pages that are dirty and not under writeback, from /proc/kpageflags (root
// only). Prints MiB, or "-" where the system does not tell.
//   dirty_pages FILE
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

namespace {

constexpr uint64_t dirty_flag = uint64_t{1} << 4;
constexpr uint64_t writeback_flag = uint64_t{1} << 8;
constexpr uint64_t present = uint64_t{1} << 63;
constexpr uint64_t frame_mask = (uint64_t{1} << 55) - 1;

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: dirty_pages FILE\n");
        return 2;
    }
    const int file = open(argv[1], O_RDONLY);
    struct stat info {};
    const int pagemap = open("/proc/self/pagemap", O_RDONLY);
    const int flags = open("/proc/kpageflags", O_RDONLY);
    if (file < 0 || fstat(file, &info) != 0 || pagemap < 0 || flags < 0) {
        std::puts("-");
        return 0;
    }
    const auto page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    const auto size = static_cast<uint64_t>(info.st_size);
    auto* mapped = static_cast<volatile const char*>(mmap(nullptr, size, PROT_READ, MAP_SHARED, file, 0));
    if (size == 0 || mapped == MAP_FAILED) {
        std::puts(size == 0 ? "0.0" : "-");
        return 0;
    }
    uint64_t dirty = 0;
    for (uint64_t offset = 0; offset < size; offset += page) {
        (void)mapped[offset]; // maps the cached page here, without changing it
        const auto address = reinterpret_cast<uintptr_t>(mapped + offset);
        uint64_t entry = 0;
        uint64_t page_flags = 0;
        if (pread(pagemap, &entry, 8, static_cast<off_t>(address / page * 8)) != 8 || !(entry & present) ||
            (entry & frame_mask) == 0 || pread(flags, &page_flags, 8, static_cast<off_t>((entry & frame_mask) * 8)) != 8) {
            std::puts("-");
            return 0;
        }
        if ((page_flags & dirty_flag) && !(page_flags & writeback_flag))
            ++dirty;
    }
    std::printf("%.1f\n", static_cast<double>(dirty * page) / (1 << 20));
    return 0;
}
