// Compares format_float with printf's "%f" on every one of the 2^32 float
// bit patterns, split over the given number of threads. Prints the number
// of patterns checked and the first mismatches; exits 1 on any mismatch.
//   check_all_floats [THREADS]
#include <atomic>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "obj/number_format.hpp"

namespace meshwright {
namespace {

std::atomic<uint64_t> checked{0};
std::atomic<uint64_t> mismatches{0};
std::mutex report_lock;

void check_range(uint64_t first, uint64_t last)
{
    char expected[64];
    char actual[float_room];
    uint64_t done = 0;
    for (uint64_t bits = first; bits < last; ++bits) {
        const float value = std::bit_cast<float>(static_cast<uint32_t>(bits));
        const int length = std::snprintf(expected, sizeof expected, "%f", static_cast<double>(value));
        const char* end = format_float(actual, value);
        if (end - actual != length || std::memcmp(actual, expected, length) != 0) {
            if (mismatches++ < 20) {
                std::lock_guard<std::mutex> guard(report_lock);
                std::printf("mismatch at 0x%08llx: %.*s vs %s\n", static_cast<unsigned long long>(bits),
                            static_cast<int>(end - actual), actual, expected);
            }
        }
        if (++done == 1 << 24) {
            checked += done;
            done = 0;
        }
    }
    checked += done;
}

} // namespace
} // namespace meshwright

int main(int argc, char** argv)
{
    using namespace meshwright;
    const unsigned threads = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 2;
    constexpr uint64_t total = uint64_t{1} << 32;
    // Interleave blocks so that every thread gets a share of the slow huge
    // values and of the fast small ones.
    constexpr uint64_t block = uint64_t{1} << 24;
    std::atomic<uint64_t> next_block{0};
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            for (uint64_t b; (b = next_block++) * block < total;)
                check_range(b * block, (b + 1) * block);
        });
    }
    std::thread progress([&] {
        while (checked < total && mismatches < 20) {
            std::this_thread::sleep_for(std::chrono::seconds(60));
            std::printf("%.1f%% checked\n", 100.0 * checked / total);
            std::fflush(stdout);
        }
    });
    for (std::thread& worker : workers)
        worker.join();
    progress.join();
    std::printf("%llu patterns checked, %llu mismatches\n", static_cast<unsigned long long>(checked.load()),
                static_cast<unsigned long long>(mismatches.load()));
    return mismatches == 0 ? 0 : 1;
}
