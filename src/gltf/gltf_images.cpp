#include "gltf/gltf_images.hpp"

namespace meshwright {

void ImageStore::add(std::vector<uint8_t> png)
{
    // Beside a file that is staged, where the output itself needs the room;
    // made for the first image.
    if (!scratch_ && file_.waits_for_rename())
        scratch_.emplace(file_.folder(), failure_);
    offsets_.push_back(scratch_ ? scratch_->size() : 0);
    sizes_.push_back(png.size());
    if (scratch_)
        scratch_->write({reinterpret_cast<const char*>(png.data()), png.size()});
    else
        memory_.push_back(std::move(png));
}

void ImageStore::copy(size_t image, const ByteSink& sink)
{
    if (scratch_) {
        scratch_->read(offsets_[image], sizes_[image], sink);
    } else {
        sink({reinterpret_cast<const char*>(memory_[image].data()), memory_[image].size()});
        memory_[image] = {};
    }
}

} // namespace meshwright
