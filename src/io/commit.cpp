#include "io/commit.hpp"

#include <algorithm>
#include <vector>

#include "io/interrupts.hpp"

namespace meshwright {

namespace {

// Every folder of the set is locked, in an order that every run shares, so
// that two runs whose files lie in several folders never split a pair.
class FolderLocks {
  public:
    explicit FolderLocks(const std::vector<OutputFile*>& files)
    {
        std::vector<std::pair<file_system::Identity, const file_system::Folder*>> folders;
        for (const OutputFile* file : files)
            folders.emplace_back(file->folder().identity(), &file->folder());
        std::sort(folders.begin(), folders.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        for (size_t i = 0; i < folders.size(); ++i) {
            if (i == 0 || folders[i].first != folders[i - 1].first)
                locks_.push_back(file_system::lock_folder(*folders[i].second));
        }
    }
    ~FolderLocks()
    {
        for (intptr_t lock : locks_)
            file_system::unlock_folder(lock);
    }
    FolderLocks(const FolderLocks&) = delete;
    FolderLocks& operator=(const FolderLocks&) = delete;

  private:
    std::vector<intptr_t> locks_;
};

} // namespace

void commit_outputs(std::initializer_list<OutputFile*> files)
{
    std::vector<OutputFile*> renamed;
    for (OutputFile* file : files) {
        if (file && file->waits_for_rename())
            renamed.push_back(file);
    }
    if (renamed.empty())
        return;
    // The largest file goes last: a kill that nothing can catch ends the
    // program only once the step under way is done, so only the small steps
    // before it can be cut off.
    std::stable_sort(renamed.begin(), renamed.end(),
                     [](const OutputFile* a, const OutputFile* b) { return a->bytes_written() < b->bytes_written(); });
    const FolderLocks locks(renamed);
    const InterruptsDeferred deferred;
    try {
        for (OutputFile* file : renamed)
            file->set_aside();
        for (OutputFile* file : renamed)
            file->put_in_place();
    } catch (...) {
        // The set stays whole: what was moved goes back.
        for (auto file = renamed.rbegin(); file != renamed.rend(); ++file)
            (*file)->take_back();
        throw;
    }
    for (OutputFile* file : renamed)
        file->let_go_of_replaced();
}

} // namespace meshwright
