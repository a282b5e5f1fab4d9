#include "io/commit.hpp"

#include <algorithm>
#include <vector>

#include "io/interrupts.hpp"

namespace meshwright {

namespace {

class FolderLock {
  public:
    explicit FolderLock(const std::filesystem::path& folder) : lock_(file_system::lock_folder(folder)) {}
    ~FolderLock() { file_system::unlock_folder(lock_); }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

  private:
    intptr_t lock_;
};

class HeldFiles {
  public:
    void hold(const OutputFile& file) { held_.push_back(file_system::hold(file.folder(), file.name())); }
    ~HeldFiles()
    {
        for (intptr_t held : held_)
            file_system::release(held);
    }

  private:
    std::vector<intptr_t> held_;
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
    // The largest file goes last. Renaming over a large file can take tens
    // of milliseconds (ext4 first writes the new file's data out), and a kill
    // that nothing can catch ends the program only once the rename under way
    // is done: so only the small renames before it can be cut off.
    std::stable_sort(renamed.begin(), renamed.end(),
                     [](const OutputFile* a, const OutputFile* b) { return a->bytes_written() < b->bytes_written(); });
    const FolderLock lock(renamed.front()->destination().parent_path());
    HeldFiles replaced;
    for (const OutputFile* file : renamed)
        replaced.hold(*file);
    {
        const InterruptsDeferred deferred;
        size_t placed = 0;
        try {
            for (; placed < renamed.size(); ++placed)
                renamed[placed]->put_in_place();
        } catch (...) {
            // The set stays whole: what was put in place goes back.
            while (placed-- > 0)
                renamed[placed]->take_back();
            throw;
        }
        for (OutputFile* file : renamed)
            file->let_go_of_replaced();
    }
}

} // namespace meshwright
