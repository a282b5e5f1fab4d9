#include "gltf/glb_writer.hpp"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <limits>
#include <string>

#include "gltf/gltf_geometry.hpp"
#include "gltf/gltf_images.hpp"
#include "gltf/gltf_json.hpp"
#include "gltf/gltf_plan.hpp"
#include "gltf/gltf_scene.hpp"

namespace meshwright {

namespace {

constexpr uint32_t glb_magic = 0x46546C67;      // "glTF"
constexpr uint32_t json_chunk_type = 0x4E4F534A; // "JSON"
constexpr uint32_t bin_chunk_type = 0x004E4942;  // "BIN\0"
constexpr uint64_t header_bytes = 12;
constexpr uint64_t chunk_header_bytes = 8;

std::string le32(uint32_t value)
{
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}

// Encodes bytes as base64 into the file, as they come.
class Base64Writer {
  public:
    explicit Base64Writer(OutputFile& file) : file_(file) {}

    void put(std::string_view bytes)
    {
        for (char byte : bytes) {
            group_[held_++] = static_cast<uint8_t>(byte);
            if (held_ == 3)
                encode_group();
        }
        if (text_.size() >= OutputFile::capacity)
            flush();
    }

    // Ends the data, with '=' for a last group of fewer than three bytes.
    void finish()
    {
        if (held_ > 0) {
            const size_t kept = held_;
            std::fill(group_ + held_, group_ + 3, uint8_t{0});
            encode_group();
            text_.replace(text_.size() - (3 - kept), 3 - kept, 3 - kept, '=');
        }
        flush();
    }

  private:
    void encode_group()
    {
        static constexpr char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        const uint32_t bits = uint32_t{group_[0]} << 16 | uint32_t{group_[1]} << 8 | group_[2];
        for (int shift = 18; shift >= 0; shift -= 6)
            text_ += digits[(bits >> shift) & 63];
        held_ = 0;
    }

    void flush()
    {
        file_.write(text_);
        text_.clear();
    }

    OutputFile& file_;
    uint8_t group_[3] = {};
    size_t held_ = 0;
    std::string text_;
};

// The buffer's bytes, view after view as the plan lays them out, each
// padded to 4.
void write_buffer(const BspData& level, const std::vector<PrimitiveVertices>& vertices, const GltfPlan& plan,
                  ImageStore& images, const ByteSink& sink)
{
    for (const GltfPlan::View& view : plan.views()) {
        uint64_t written = 0;
        const ByteSink counted = [&](std::string_view bytes) {
            written += bytes.size();
            sink(bytes);
        };
        if (view.content == ViewContent::image)
            images.copy(view.item, counted);
        else
            write_view(level, vertices[view.item], view.content, counted);
        assert(written == view.length);
        sink(std::string(padded_to_4(written) - written, '\0'));
    }
}

void write_binary(const BspData& level, const std::vector<PrimitiveVertices>& vertices, const GltfPlan& plan,
                  std::string json, ImageStore& images, OutputFile& file, const char* write_failure)
{
    json.append(padded_to_4(json.size()) - json.size(), ' ');
    const bool has_buffer = !plan.views().empty();
    const uint64_t total =
        header_bytes + chunk_header_bytes + json.size() + (has_buffer ? chunk_header_bytes + plan.buffer_bytes() : 0);
    if (total > std::numeric_limits<uint32_t>::max())
        throw write_failure;
    file.write(le32(glb_magic) + le32(2) + le32(static_cast<uint32_t>(total)) +
               le32(static_cast<uint32_t>(json.size())) + le32(json_chunk_type));
    file.write(json);
    if (!has_buffer)
        return;
    file.write(le32(static_cast<uint32_t>(plan.buffer_bytes())) + le32(bin_chunk_type));
    write_buffer(level, vertices, plan, images, [&](std::string_view bytes) { file.write(bytes); });
}

void write_json(const BspData& level, const std::vector<PrimitiveVertices>& vertices, const GltfPlan& plan,
                const std::vector<std::string>& json_pieces, ImageStore& images, OutputFile& file)
{
    // The pieces hold each image's data between them, then the buffer's.
    size_t piece = 0;
    file.write(json_pieces[piece++]);
    for (size_t image = 0; image < images.count(); ++image) {
        Base64Writer base64(file);
        images.copy(image, [&](std::string_view bytes) { base64.put(bytes); });
        base64.finish();
        file.write(json_pieces[piece++]);
    }
    if (piece < json_pieces.size()) {
        Base64Writer base64(file);
        write_buffer(level, vertices, plan, images, [&](std::string_view bytes) { base64.put(bytes); });
        base64.finish();
        file.write(json_pieces[piece++]);
    }
}

} // namespace

void write_gltf(const BspData& level, OutputFile& file, GltfForm form, const char* write_failure,
                const TextureFinder& find_textures)
{
    const GltfScene scene(level);
    ImageStore store(file, write_failure);
    std::vector<std::optional<ImageInfo>> images;
    if (find_textures) {
        find_textures(scene.texture_names(), [&](std::optional<GlbTexture> texture) {
            if (texture) {
                images.push_back(ImageInfo{texture->png.size(), texture->alpha});
                store.add(std::move(texture->png));
            } else {
                images.emplace_back();
            }
        });
    }
    images.resize(scene.texture_names().size());
    const std::vector<PrimitiveVertices> vertices = primitive_vertices(level, scene);
    const GltfPlan plan(scene, vertices, images, form);
    std::vector<std::string> json = gltf_json(level, scene, plan, form);
    if (form == GltfForm::binary)
        write_binary(level, vertices, plan, std::move(json.front()), store, file, write_failure);
    else
        write_json(level, vertices, plan, json, store, file);
}

} // namespace meshwright
