#include "app/textures.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>

#include "bitmap/bitmap.hpp"
#include "base/file_names.hpp"
#include "bitmap/texture_files.hpp"
#include "io/interrupts.hpp"

namespace meshwright {

namespace {

// Names shown on the console line before "and N more".
constexpr size_t names_shown = 3;

std::optional<GlbTexture> texture_of(TextureFolder& folder, const std::string& name, TextureOutcome& outcome)
{
    const TextureFile file = folder.read(name);
    outcome = file.outcome;
    if (file.outcome != TextureOutcome::embedded)
        return std::nullopt;
    const std::optional<Bitmap> bitmap = decode_bmp(file.bytes);
    if (!bitmap) {
        outcome = TextureOutcome::unreadable;
        return std::nullopt;
    }
    return GlbTexture{encode_png(*bitmap), bitmap->alpha};
}

// "; not found: a.bmp, b.bmp and 2 more", or nothing without such names.
std::string listed(const char* what, const TextureReport& report, TextureOutcome outcome, bool every_name)
{
    std::vector<std::string> bitmaps;
    for (size_t i = 0; i < report.names.size(); ++i) {
        if (report.outcomes[i] == outcome)
            bitmaps.push_back(report.names[i] + ".bmp");
    }
    if (bitmaps.empty())
        return "";
    const size_t shown = every_name ? bitmaps.size() : std::min(bitmaps.size(), names_shown);
    std::string text = std::string("; ") + what + ": ";
    for (size_t i = 0; i < shown; ++i) {
        if (i > 0)
            text += i + 1 == bitmaps.size() ? " and " : ", ";
        text += bitmaps[i];
    }
    if (shown < bitmaps.size())
        text += " and " + std::to_string(bitmaps.size() - shown) + " more";
    return text;
}

} // namespace

std::vector<std::optional<GlbTexture>> find_textures(const std::filesystem::path& folder,
                                                     const std::vector<std::string>& names, unsigned threads,
                                                     std::vector<TextureOutcome>& outcomes)
{
    std::vector<std::optional<GlbTexture>> found(names.size());
    outcomes.assign(names.size(), TextureOutcome::not_found);
    TextureFolder bitmaps(folder);
    std::atomic<size_t> next{0};
    std::mutex failure_mutex;
    std::exception_ptr failure;
    const auto work = [&] {
        for (size_t i; (i = next++) < names.size();) {
            try {
                found[i] = texture_of(bitmaps, names[i], outcomes[i]);
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

std::string texture_line(const TextureReport& report, bool every_name)
{
    const auto embedded = std::count(report.outcomes.begin(), report.outcomes.end(), TextureOutcome::embedded);
    const std::string folder = report.folder.empty() ? "." : utf8_from_path(report.folder);
    return "textures: " + std::to_string(embedded) + " of " + std::to_string(report.names.size()) +
           " embedded from " + folder + listed("not found", report, TextureOutcome::not_found, every_name) +
           listed("unreadable", report, TextureOutcome::unreadable, every_name);
}

} // namespace meshwright
