#include "app/batch.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <system_error>
#include <thread>

#include "app/batch_options.hpp"
#include "app/bitmap_cache.hpp"
#include "app/console.hpp"
#include "app/game_files.hpp"
#include "app/outputs.hpp"
#include "base/file_names.hpp"
#include "base/messages.hpp"
#include "bsp/bsp_reader.hpp"
#include "io/interrupts.hpp"

namespace meshwright {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Images kept for the levels still to come: a game's bitmaps of 256×256 fit
// many times over.
constexpr size_t image_cache_bytes = size_t{128} << 20;
// How often the waiting thread redraws the progress and takes interrupts.
constexpr auto wake_interval = std::chrono::milliseconds(100);

struct GameLevel {
    fs::path file;
    fs::path output;          // below the output folder
    int folder = -1;          // the input folder below which it was found, or -1
    std::string folder_below; // its folder below that one, parts joined by '/'
};

std::string shown(const fs::path& path)
{
    return utf8_from_path(path);
}

bool names_regular_file(const fs::path& path)
{
    std::error_code error;
    return fs::is_regular_file(fs::status(path, error));
}

// The levels of the inputs, each with its output; what is wrong otherwise.
std::optional<std::string> find_levels(const BatchOptions& options, std::vector<GameLevel>& levels)
{
    const char* extension = output_extension(options.format);
    for (size_t input = 0; input < options.inputs.size(); ++input) {
        const fs::path& given = options.inputs[input];
        std::error_code error;
        const fs::file_status status = fs::status(given, error);
        if (fs::is_directory(status)) {
            for (const std::string& relative : list_files(given, ".bsp")) {
                GameLevel level{path_below(given, relative), path_below({}, relative), static_cast<int>(input), {}};
                if (!names_regular_file(level.file))
                    continue;
                level.output.replace_extension(extension);
                level.folder_below = relative.substr(0, relative.rfind('/') + 1);
                levels.push_back(std::move(level));
            }
        } else if (fs::exists(status)) {
            levels.push_back({given, fs::path(final_component(given)).replace_extension(extension), -1, {}});
        } else {
            return "no such level or folder: " + shown(given);
        }
    }
    if (levels.empty())
        return "no .bsp file in the folders given";
    return std::nullopt;
}

// Two levels that would land on one output, if any.
std::optional<std::string> colliding(const std::vector<GameLevel>& levels)
{
    std::map<std::string, const GameLevel*> outputs;
    for (const GameLevel& level : levels) {
        std::string key = shown(level.output);
#if defined(_WIN32)
        key = lower_ascii(key); // one file in any case of letters
#endif
        const auto [first, fresh] = outputs.emplace(key, &level);
        if (!fresh)
            return "two levels would land on one output: " + shown(first->second->file) + " and " + shown(level.file) +
                   " as " + shown(level.output);
    }
    return std::nullopt;
}

// The files of `tree` below the folder `below` (ending in '/', or empty),
// relative to it.
BitmapTree subtree(const BitmapTree& tree, const std::string& below)
{
    BitmapTree part;
    for (const std::string& file : tree.files) {
        if (file.compare(0, below.size(), below) == 0)
            part.files.push_back(file.substr(below.size()));
    }
    return part;
}

// The game's bitmaps: each folder listed once, each bitmap made once.
class Game {
  public:
    explicit Game(const BatchOptions& options) : cache_(image_cache_bytes)
    {
        std::vector<BitmapTree> shared;
        for (const fs::path& folder : options.texture_folders) {
            shared.push_back(list_bitmaps(folder));
            shared_roots_.push_back(folder);
        }
        input_trees_.resize(options.inputs.size());
        for (size_t input = 0; input < options.inputs.size(); ++input) {
            std::error_code error;
            if (!fs::is_directory(options.inputs[input], error))
                continue;
            input_trees_[input] = list_bitmaps(options.inputs[input]);
            shared.push_back(input_trees_[input]);
            shared_roots_.push_back(options.inputs[input]);
        }
        shared_ = std::make_unique<BitmapLookup>(std::move(shared));
    }

    TextureSource source_for(const GameLevel& level)
    {
        TextureSource source;
        source.make = [this, &level](const std::string& name, TextureOutcome& outcome) {
            const std::optional<fs::path> file = find(level, name);
            outcome = TextureOutcome::not_found;
            return file ? cache_.texture(*file, outcome) : std::nullopt;
        };
        source.reference = [this, &level](const std::string& name, const fs::path& material_folder,
                                          TextureOutcome& outcome) {
            const std::optional<fs::path> file = find(level, name);
            outcome = file ? cache_.check(*file) : TextureOutcome::not_found;
            return file ? reference_from(material_folder, *file) : name + ".bmp";
        };
        return source;
    }

    // The warnings not told yet.
    std::vector<std::string> take_warnings()
    {
        const std::lock_guard lock(mutex_);
        return std::exchange(warnings_, {});
    }

    std::string bitmap_words()
    {
        const std::lock_guard lock(mutex_);
        return "bitmaps: " + std::to_string(cache_.count(TextureOutcome::embedded)) + " found, " +
               std::to_string(missing_.size()) + " missing, " +
               std::to_string(cache_.count(TextureOutcome::unreadable)) + " unreadable";
    }

  private:
    // The level's bitmap for a texture name: in the level's own folder tree
    // first, then in the -t folders and the input folders.
    std::optional<fs::path> find(const GameLevel& level, const std::string& name)
    {
        fs::path root = level.file.parent_path();
        std::optional<BitmapFound> found = own_lookup(level).find(name);
        if (!found) {
            found = shared_->find(name);
            if (found)
                root = shared_roots_[found->tree];
        }
        const std::lock_guard lock(mutex_);
        if (!found) {
            missing_.insert(name);
            return std::nullopt;
        }
        const fs::path file = path_below(root, found->path);
        if (!found->others.empty() && warned_.insert(shown(file)).second) {
            std::string warning = "warning: " + shown(file) + " chosen for " + name + " over ";
            for (size_t i = 0; i < found->others.size(); ++i)
                warning += (i > 0 ? ", " : "") + shown(path_below(root, found->others[i]));
            warnings_.push_back(std::move(warning));
        }
        return file;
    }

    // The lookup in the level's own folder and its subfolders, listed once
    // for all its levels: taken from the input folder's listing where the
    // level was found in one.
    const BitmapLookup& own_lookup(const GameLevel& level)
    {
        const std::lock_guard lock(mutex_);
        std::unique_ptr<BitmapLookup>& own = own_lookups_[level.file.parent_path()];
        if (!own) {
            BitmapTree tree = level.folder >= 0 ? subtree(input_trees_[static_cast<size_t>(level.folder)], level.folder_below)
                                                : list_bitmaps(level.file.parent_path());
            own = std::make_unique<BitmapLookup>(std::vector<BitmapTree>{std::move(tree)});
        }
        return *own;
    }

    std::vector<fs::path> shared_roots_;
    std::vector<BitmapTree> input_trees_;
    std::unique_ptr<BitmapLookup> shared_;
    BitmapCache cache_;
    std::mutex mutex_;
    std::map<fs::path, std::unique_ptr<BitmapLookup>> own_lookups_;
    std::set<std::string> missing_;
    std::set<std::string> warned_;
    std::vector<std::string> warnings_;
};

// Converts one level; returns its console line, or throws a message text.
std::string convert_level(Game& game, const GameLevel& level, const fs::path& output, bool obj, unsigned threads)
{
    std::unique_ptr<FILE, FileCloser> input(open_file(level.file, "rb"));
    if (!input)
        throw messages::unopenable_input;
    const BspData data = load_bsp(input.get(), false, [](std::string_view) {});
    input.reset();
    std::error_code error;
    fs::create_directories(output.parent_path(), error); // a failure is the output's to tell
    const TextureSource source = game.source_for(level);
    const std::optional<TextureReport> report = write_outputs(data, output, level.file, threads, &source);
    return shown(output) + "; " + texture_words(*report, obj ? "found" : "embedded", false);
}

// What became of one level: its console line, or its failure.
struct LevelDone {
    std::string line;
    std::string failure;
};

LevelDone run_level(Game& game, const GameLevel& level, const fs::path& output, bool obj, unsigned threads)
{
    try {
        return {convert_level(game, level, output, obj, threads), {}};
    } catch (const char* message) {
        return {{}, message};
    } catch (const std::bad_alloc&) {
        return {{}, messages::out_of_memory};
    } catch (...) {
        return {{}, messages::unexpected_failure};
    }
}

std::string seconds(Clock::duration duration)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(duration).count());
    return text;
}

// Converts the levels on `jobs` threads, telling of each as it ends; returns
// how many failed.
size_t convert_all(Game& game, const std::vector<GameLevel>& levels, const BatchOptions& options, unsigned jobs,
                   Clock::time_point start)
{
    const bool obj = options.format == BatchFormat::obj;
    const unsigned processors = std::max(1u, std::thread::hardware_concurrency());
    const unsigned threads = std::max(1u, processors / jobs);
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::pair<size_t, LevelDone>> done;
    std::atomic<size_t> next{0};

    // The threads that write files hold interrupts back for good; this one
    // takes them while no file is between two steps.
    const InterruptsHeld held;
    std::vector<std::thread> workers;
    for (unsigned j = 0; j < jobs; ++j) {
        try {
            workers.emplace_back([&] {
                const InterruptsHeld worker_held;
                for (size_t i = next++; i < levels.size(); i = next++) {
                    LevelDone result = run_level(game, levels[i], options.output / levels[i].output, obj, threads);
                    const std::lock_guard lock(mutex);
                    done.emplace_back(i, std::move(result));
                    changed.notify_one();
                }
            });
        } catch (const std::system_error&) {
            break; // the system gives no more threads: those started do the work
        }
    }
    if (workers.empty())
        throw messages::unexpected_failure;
    const bool terminal = console_is_terminal();
    size_t finished = 0, failed = 0;
    while (finished < levels.size()) {
        std::deque<std::pair<size_t, LevelDone>> told;
        {
            std::unique_lock lock(mutex);
            changed.wait_for(lock, wake_interval, [&] { return !done.empty(); });
            told.swap(done);
        }
        let_interrupts_in();
        if (terminal)
            console_progress("");
        for (const std::string& warning : game.take_warnings())
            console_error(warning);
        for (const auto& [level, result] : told) {
            ++finished;
            if (result.failure.empty()) {
                console_line(result.line);
            } else {
                ++failed;
                console_error(shown(levels[level].file) + ": " + result.failure);
            }
        }
        if (terminal) {
            const Clock::duration elapsed = Clock::now() - start;
            std::string progress = std::to_string(finished) + " of " + std::to_string(levels.size()) + " levels, " +
                                   seconds(elapsed);
            if (finished > 0 && finished < levels.size())
                progress += ", about " + seconds(elapsed / finished * (levels.size() - finished)) + " left";
            console_progress(progress);
        }
    }
    for (std::thread& worker : workers)
        worker.join();
    if (terminal)
        console_progress("");
    return failed;
}

int usage_error(const std::string& text)
{
    console_error("meshwright-batch: " + text);
    console_error("Try 'meshwright-batch --help'.");
    return 2;
}

int run_guarded(int argc, char** argv)
{
    const Clock::time_point start = Clock::now();
    BatchOptions options;
    if (const std::optional<std::string> wrong = scan_batch_options(argc, argv, options))
        return usage_error(*wrong);
    if (options.help) {
        for (const std::string& line : batch_usage())
            console_line(line);
        return 0;
    }
    if (options.version) {
        console_line("meshwright-batch 0.1");
        return 0;
    }
    std::vector<GameLevel> levels;
    if (const std::optional<std::string> wrong = find_levels(options, levels))
        return usage_error(*wrong);
    if (const std::optional<std::string> wrong = colliding(levels))
        return usage_error(*wrong);
    const unsigned processors = std::max(1u, std::thread::hardware_concurrency());
    const auto jobs = static_cast<unsigned>(
        std::min<size_t>(levels.size(), options.jobs > 0 ? options.jobs : std::min(processors, max_jobs)));

    Game game(options);
    const size_t failed = convert_all(game, levels, options, jobs, start);
    console_line("levels: " + std::to_string(levels.size() - failed) + " converted, " + std::to_string(failed) +
                 " failed; " + game.bitmap_words() + "; " + seconds(Clock::now() - start));
    return failed > 0 ? 1 : 0;
}

} // namespace

int run_batch(int argc, char** argv)
{
    claim_standard_streams();
    watch_interrupts();
    int status = 1;
    try {
        status = run_guarded(argc, argv);
    } catch (const char* message) {
        console_error(std::string("meshwright-batch: ") + message);
    } catch (const std::bad_alloc&) {
        console_error(std::string("meshwright-batch: ") + messages::out_of_memory);
    } catch (...) {
        console_error(std::string("meshwright-batch: ") + messages::unexpected_failure);
    }
    if (console_failed()) {
        console_error(messages::console_unwritable);
        return 1;
    }
    return status;
}

} // namespace meshwright
