#include "app/textures.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>

#include "bitmap/bitmap.hpp"
#include "bitmap/texture_files.hpp"
#include "io/interrupts.hpp"

namespace meshwright {

namespace {

std::optional<GlbTexture> texture_of(const std::filesystem::path& folder, const std::string& name)
{
    const std::optional<std::vector<uint8_t>> file = read_texture_file(folder, name);
    if (!file)
        return std::nullopt;
    const std::optional<Bitmap> bitmap = decode_bmp(*file);
    if (!bitmap)
        return std::nullopt;
    return GlbTexture{encode_png(*bitmap), bitmap->alpha};
}

} // namespace

std::vector<std::optional<GlbTexture>> find_textures(const std::filesystem::path& folder,
                                                     const std::vector<std::string>& names, unsigned threads)
{
    std::vector<std::optional<GlbTexture>> found(names.size());
    std::atomic<size_t> next{0};
    std::mutex failure_mutex;
    std::exception_ptr failure;
    const auto work = [&] {
        for (size_t i; (i = next++) < names.size();) {
            try {
                found[i] = texture_of(folder, names[i]);
            } catch (...) {
                const std::lock_guard lock(failure_mutex);
                failure = std::current_exception();
                next = names.size();
            }
        }
    };
    const unsigned wanted = threads > 0 ? threads : std::max(1u, std::thread::hardware_concurrency());
    const auto workers = static_cast<unsigned>(std::min<size_t>(wanted, names.size()));
    std::vector<std::thread> helpers;
    for (unsigned i = 1; i < workers; ++i) {
        try {
            helpers.emplace_back([&] {
                // Interrupts are left to the thread that owns the output file.
                const InterruptsHeld held;
                work();
            });
        } catch (const std::system_error&) {
            break; // the system gives no more threads: those started do the work
        }
    }
    work();
    for (std::thread& helper : helpers)
        helper.join();
    if (failure)
        std::rethrow_exception(failure);
    return found;
}

} // namespace meshwright
