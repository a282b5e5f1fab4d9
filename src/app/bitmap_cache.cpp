#include "app/bitmap_cache.hpp"

#include "bitmap/bitmap.hpp"
#include "bitmap/texture_files.hpp"

namespace meshwright {

namespace fs = std::filesystem;

// The file's entry once nobody else is making it: marked as being made by
// this thread when what is asked for is not there, else as it is.
BitmapCache::Entries::iterator BitmapCache::claim(const fs::path& file, bool needs_texture,
                                                  std::unique_lock<std::mutex>& lock)
{
    for (;;) {
        const auto entry = entries_.try_emplace(file).first;
        if (entry->second.making) {
            made_.wait(lock);
            continue;
        }
        const bool known = entry->second.made && (!needs_texture || entry->second.texture ||
                                                  entry->second.outcome != TextureOutcome::embedded);
        if (!known)
            entry->second.making = true;
        entry->second.last_use = ++uses_;
        return entry;
    }
}

void BitmapCache::finish(Entries::iterator entry, TextureOutcome outcome, std::optional<GlbTexture>& texture)
{
    entry->second.making = false;
    entry->second.made = true;
    entry->second.outcome = outcome;
    if (texture) {
        entry->second.texture = std::make_shared<const GlbTexture>(*texture);
        bytes_ += texture->png.size();
        evict_all_but(entry);
    }
    made_.notify_all();
}

void BitmapCache::evict_all_but(Entries::iterator kept)
{
    while (bytes_ > byte_limit_) {
        auto oldest = entries_.end();
        for (auto entry = entries_.begin(); entry != entries_.end(); ++entry) {
            if (entry != kept && entry->second.texture &&
                (oldest == entries_.end() || entry->second.last_use < oldest->second.last_use))
                oldest = entry;
        }
        if (oldest == entries_.end())
            return;
        bytes_ -= oldest->second.texture->png.size();
        oldest->second.texture.reset();
    }
}

void BitmapCache::make(Entries::iterator entry, std::unique_lock<std::mutex>& lock, const Maker& maker,
                       TextureOutcome& outcome, std::optional<GlbTexture>& texture)
{
    lock.unlock();
    try {
        maker(outcome, texture);
    } catch (...) {
        // Left for the next to ask for it.
        lock.lock();
        entry->second.making = false;
        made_.notify_all();
        throw;
    }
    lock.lock();
    finish(entry, outcome, texture);
}

std::optional<GlbTexture> BitmapCache::texture(const fs::path& file, TextureOutcome& outcome)
{
    std::unique_lock lock(mutex_);
    const auto entry = claim(file, true, lock);
    if (!entry->second.making) {
        outcome = entry->second.outcome;
        return entry->second.texture ? std::optional<GlbTexture>(*entry->second.texture) : std::nullopt;
    }
    std::optional<GlbTexture> made;
    make(entry, lock, [&](TextureOutcome& result, std::optional<GlbTexture>& texture) {
        texture = texture_of(read_texture_file(file), result);
    }, outcome, made);
    return made;
}

TextureOutcome BitmapCache::check(const fs::path& file)
{
    std::unique_lock lock(mutex_);
    const auto entry = claim(file, false, lock);
    if (!entry->second.making)
        return entry->second.outcome;
    TextureOutcome outcome = TextureOutcome::unreadable;
    std::optional<GlbTexture> no_texture;
    make(entry, lock, [&](TextureOutcome& result, std::optional<GlbTexture>&) {
        const TextureFile read = read_texture_file(file);
        result = read.outcome == TextureOutcome::embedded && !decode_bmp(read.bytes) ? TextureOutcome::unreadable
                                                                                    : read.outcome;
    }, outcome, no_texture);
    return outcome;
}

size_t BitmapCache::count(TextureOutcome outcome)
{
    const std::lock_guard lock(mutex_);
    size_t count = 0;
    for (const auto& [file, entry] : entries_)
        count += entry.made && entry.outcome == outcome;
    return count;
}

} // namespace meshwright
