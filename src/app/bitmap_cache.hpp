#pragma once

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "app/textures.hpp"

namespace meshwright {

// The textures of one run's bitmap files, so that a bitmap that many levels
// use is read, decoded and encoded once: each file's texture is made once
// and kept while the cache holds at most `byte_limit` bytes of images (the
// least recently used go first, to be made again if asked for), and each
// file's outcome is kept for good. Any number of threads may ask at once; a
// file that one thread is making is waited for by the others.
class BitmapCache {
  public:
    explicit BitmapCache(size_t byte_limit) : byte_limit_(byte_limit) {}

    // The texture of the bitmap file, or nothing, with the reason.
    std::optional<GlbTexture> texture(const std::filesystem::path& file, TextureOutcome& outcome);

    // Whether the file is a bitmap that the converter reads (embedded), read
    // and decoded but not encoded.
    TextureOutcome check(const std::filesystem::path& file);

    // How many of the files asked for had the outcome.
    size_t count(TextureOutcome outcome);

  private:
    struct Entry {
        bool making = false;
        bool made = false; // the outcome is known
        TextureOutcome outcome = TextureOutcome::not_found;
        std::shared_ptr<const GlbTexture> texture;
        uint64_t last_use = 0;
    };
    using Entries = std::map<std::filesystem::path, Entry>;

    // Works out a file's outcome, and its texture where asked for.
    using Maker = std::function<void(TextureOutcome& outcome, std::optional<GlbTexture>& texture)>;

    Entries::iterator claim(const std::filesystem::path& file, bool needs_texture, std::unique_lock<std::mutex>& lock);
    // Runs `maker` for an entry claimed for making, the lock released
    // meanwhile, and keeps what it made.
    void make(Entries::iterator entry, std::unique_lock<std::mutex>& lock, const Maker& maker, TextureOutcome& outcome,
              std::optional<GlbTexture>& texture);
    void finish(Entries::iterator entry, TextureOutcome outcome, std::optional<GlbTexture>& texture);
    void evict_all_but(Entries::iterator kept);

    std::mutex mutex_;
    std::condition_variable made_;
    Entries entries_;
    size_t bytes_ = 0;
    size_t byte_limit_;
    uint64_t uses_ = 0;
};

} // namespace meshwright
