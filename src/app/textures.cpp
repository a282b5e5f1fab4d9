#include "app/textures.hpp"

#include <algorithm>
#include <condition_variable>
#include <map>
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

std::optional<GlbTexture> texture_of(const TextureFile& file, TextureOutcome& outcome)
{
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

void find_textures(const std::filesystem::path& folder, const std::vector<std::string>& names, unsigned threads,
                   std::vector<TextureOutcome>& outcomes, const TextureTaker& take)
{
    TextureFolder bitmaps(folder);
    make_textures(
        names, threads, outcomes, take,
        [&](const std::string& name, TextureOutcome& outcome) { return texture_of(bitmaps.read(name), outcome); },
        [&](const std::string& name) { return bitmaps.memory(name); });
}

void make_textures(const std::vector<std::string>& names, unsigned threads, std::vector<TextureOutcome>& outcomes,
                   const TextureTaker& take, const TextureMaker& make, const TextureMemory& memory)
{
    outcomes.assign(names.size(), TextureOutcome::not_found);
    const unsigned wanted = threads > 0 ? threads : std::max(1u, std::thread::hardware_concurrency());
    const auto workers = static_cast<unsigned>(std::max<size_t>(1, std::min<size_t>(wanted, names.size())));
    const size_t window = 2 * size_t{workers}; // images made but not taken yet, at most

    std::mutex mutex;
    std::condition_variable changed;
    std::map<size_t, std::optional<GlbTexture>> made;
    size_t next = 0;  // the next name to make
    size_t taken = 0; // names handed to `take`
    std::vector<std::optional<uint64_t>> held(names.size()); // each image's memory, until taken
    uint64_t holding = 0;                                    // theirs together
    bool stopped = false;
    std::exception_ptr failure;
    const auto stop = [&](std::exception_ptr error) {
        if (!failure)
            failure = error;
        stopped = true;
        changed.notify_all();
    };
    const auto affordable = [&](size_t i) {
        if (!memory)
            return true;
        if (!held[i])
            held[i] = memory(names[i]);
        return i == taken || holding == 0 || holding + *held[i] <= texture_memory_budget;
    };
    const auto may_make = [&] {
        return !stopped && next < names.size() && next < taken + window && affordable(next);
    };
    // Makes the next texture, the lock released meanwhile.
    const auto make_next = [&](std::unique_lock<std::mutex>& lock) {
        const size_t i = next++;
        holding += held[i].value_or(0);
        lock.unlock();
        TextureOutcome outcome = TextureOutcome::not_found;
        std::optional<GlbTexture> texture;
        std::exception_ptr error;
        try {
            texture = make(names[i], outcome);
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        if (error) {
            stop(error);
            return;
        }
        outcomes[i] = outcome;
        made.emplace(i, std::move(texture));
        changed.notify_all();
    };

    std::vector<std::thread> helpers;
    for (unsigned i = 1; i < workers; ++i) {
        try {
            helpers.emplace_back([&] {
                // Interrupts are left to the thread that owns the output file.
                const InterruptsHeld held;
                std::unique_lock lock(mutex);
                for (;;) {
                    changed.wait(lock, [&] { return may_make() || stopped || next >= names.size(); });
                    if (!may_make())
                        return;
                    make_next(lock);
                }
            });
        } catch (const std::system_error&) {
            break; // the system gives no more threads: those started do the work
        }
    }
    {
        std::unique_lock lock(mutex);
        while (!stopped && taken < names.size()) {
            const auto ready = made.find(taken);
            if (ready != made.end()) {
                std::optional<GlbTexture> texture = std::move(ready->second);
                made.erase(ready);
                lock.unlock();
                try {
                    take(std::move(texture));
                } catch (...) {
                    lock.lock();
                    stop(std::current_exception());
                    break;
                }
                lock.lock();
                holding -= held[taken].value_or(0);
                ++taken;
                changed.notify_all();
            } else if (may_make()) {
                make_next(lock);
            } else {
                changed.wait(lock);
            }
        }
        stopped = true;
        changed.notify_all();
    }
    for (std::thread& helper : helpers)
        helper.join();
    if (failure)
        std::rethrow_exception(failure);
}

std::string texture_words(const TextureReport& report, std::string_view counted, bool every_name)
{
    const auto embedded = std::count(report.outcomes.begin(), report.outcomes.end(), TextureOutcome::embedded);
    return "textures: " + std::to_string(embedded) + " of " + std::to_string(report.names.size()) + " " +
           std::string(counted) + listed("not found", report, TextureOutcome::not_found, every_name) +
           listed("unreadable", report, TextureOutcome::unreadable, every_name);
}

std::string texture_line(const TextureReport& report, bool every_name)
{
    const std::string folder = report.folder.empty() ? "." : utf8_from_path(report.folder);
    return texture_words(report, "embedded from " + folder, every_name);
}

} // namespace meshwright
