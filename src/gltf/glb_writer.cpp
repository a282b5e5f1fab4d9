#include "gltf/glb_writer.hpp"

#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>

#include "gltf/glb_plan.hpp"
#include "gltf/json_text.hpp"

namespace meshwright {

namespace {

static_assert(std::endian::native == std::endian::little, "binary glTF is little-endian, as written here");

constexpr uint32_t glb_magic = 0x46546C67;      // "glTF"
constexpr uint32_t json_chunk_type = 0x4E4F534A; // "JSON"
constexpr uint32_t bin_chunk_type = 0x004E4942;  // "BIN\0"
constexpr uint64_t header_bytes = 12;
constexpr uint64_t chunk_header_bytes = 8;
constexpr uint64_t position_bytes = 12;
constexpr uint64_t tex_coord_bytes = 8;

constexpr int array_buffer = 34962;
constexpr int repeat_wrap = 10497;
constexpr int element_array_buffer = 34963;
constexpr int float_component = 5126;
constexpr int unsigned_short_component = 5123;
constexpr int unsigned_int_component = 5125;

// Accessors 0 and 1 are the shared positions and texture coordinates; the
// primitives' indices follow. Buffer views 0 to 2 hold positions, texture
// coordinates and indices; the images' follow.
constexpr uint64_t first_index_accessor = 2;
constexpr uint64_t first_image_view = 3;

// What the JSON says of a material's image.
struct ImageInfo {
    uint64_t bytes = 0;
    bool alpha = false;
};
using Images = std::vector<std::optional<ImageInfo>>;

using ByteSink = std::function<void(std::string_view)>;

uint64_t padded(uint64_t size)
{
    return (size + 3) / 4 * 4;
}

// glTF readers take finite numbers only; a level's NaN or infinity is no
// place at all.
float finite(float value)
{
    return std::isfinite(value) ? value : 0.0f;
}

Vec3 gltf_position(const Vec3& v)
{
    return {finite(v.z), finite(v.y), finite(v.x)};
}

// A colour of the name's own, the same on every system: a hue from a hash
// of its bytes, not too pale nor too dark, in thousandths.
void append_colour(std::string& json, const std::string& name)
{
    uint32_t hash = 2166136261u;
    for (unsigned char byte : name)
        hash = (hash ^ byte) * 16777619u;
    const int hue = static_cast<int>(hash % 360);
    const int saturation = 450 + static_cast<int>((hash >> 9) % 400);  // thousandths
    const int value = 650 + static_cast<int>((hash >> 19) % 300);     // thousandths
    const int sector = hue / 60;
    const int within = hue % 60;
    const int chroma = value * saturation / 1000;
    const int rising = chroma * within / 60;
    const int low = value - chroma;
    int rgb[3] = {};
    // The strongest, the changing and the weakest component of each sixth of
    // the hue circle.
    const int order[6][3] = {{0, 1, 2}, {1, 0, 2}, {1, 2, 0}, {2, 1, 0}, {2, 0, 1}, {0, 2, 1}};
    rgb[order[sector][0]] = value;
    rgb[order[sector][1]] = low + (sector % 2 == 0 ? rising : chroma - rising);
    rgb[order[sector][2]] = low;
    json += '[';
    for (int component : rgb) {
        json += "0.";
        const std::string digits = std::to_string(1000 + component).substr(1);
        json += digits;
        json += ',';
    }
    json += "1]";
}

uint64_t vertex_bytes(const BspData& level)
{
    return (position_bytes + tex_coord_bytes) * level.vertices.size();
}

// The JSON text, in pieces: in the JSON form, each image's data and then
// the buffer's go between them, as base64.
class GlbJson {
  public:
    GlbJson(const BspData& level, const GlbPlan& plan, const Images& images, GltfForm form)
        : level_(level), plan_(plan), textures_(images), form_(form)
    {
    }

    std::vector<std::string> pieces()
    {
        json_ = R"({"asset":{"generator":"Meshwright 0.1","version":"2.0"},"scene":0,"scenes":[{)";
        if (!level_.models.empty()) {
            json_ += R"("nodes":[)";
            for (size_t m = 0; m < level_.models.size(); ++m)
                separated(m, [&] { append_uint(json_, m); });
            json_ += ']';
        }
        json_ += "}]";
        nodes();
        if (!plan_.primitives().empty()) {
            meshes();
            materials();
            images();
            accessors();
            buffer_views();
        }
        json_ += '}';
        pieces_.push_back(std::move(json_));
        return std::move(pieces_);
    }

  private:
    // Where data goes in the JSON form.
    void hole()
    {
        pieces_.push_back(std::move(json_));
        json_.clear();
    }

    template <class Item> void separated(size_t index, Item item)
    {
        if (index > 0)
            json_ += ',';
        item();
    }

    void key_uint(const char* key, uint64_t value)
    {
        json_ += ",\"";
        json_ += key;
        json_ += "\":";
        append_uint(json_, value);
    }

    void nodes()
    {
        if (level_.models.empty())
            return;
        json_ += R"(,"nodes":[)";
        for (size_t m = 0; m < level_.models.size(); ++m) {
            separated(m, [&] {
                json_ += R"({"name":)";
                append_json_string(json_, level_.models[m].name.text());
                if (plan_.mesh_of_model()[m] != GlbPlan::no_mesh)
                    key_uint("mesh", plan_.mesh_of_model()[m]);
                json_ += '}';
            });
        }
        json_ += ']';
    }

    void meshes()
    {
        json_ += R"(,"meshes":[)";
        for (size_t i = 0; i < plan_.meshes().size(); ++i) {
            const GlbPlan::Mesh& mesh = plan_.meshes()[i];
            separated(i, [&] {
                json_ += R"({"primitives":[)";
                for (uint32_t p = 0; p < mesh.primitive_count; ++p) {
                    const uint32_t primitive = mesh.first_primitive + p;
                    separated(p, [&] {
                        json_ += R"({"attributes":{"POSITION":0,"TEXCOORD_0":1})";
                        key_uint("indices", first_index_accessor + primitive);
                        key_uint("material", plan_.primitives()[primitive].material);
                        json_ += '}';
                    });
                }
                json_ += "]}";
            });
        }
        json_ += ']';
    }

    void materials()
    {
        json_ += R"(,"materials":[)";
        uint64_t texture = 0;
        for (size_t i = 0; i < plan_.material_names().size(); ++i) {
            separated(i, [&] {
                const std::string& name = plan_.material_names()[i];
                json_ += R"({"name":)";
                append_json_string(json_, name);
                json_ += R"(,"pbrMetallicRoughness":{"baseColorFactor":)";
                if (textures_[i]) {
                    json_ += R"([1,1,1,1],"baseColorTexture":{"index":)";
                    append_uint(json_, texture++);
                    json_ += '}';
                } else {
                    append_colour(json_, name);
                }
                json_ += R"(,"metallicFactor":0,"roughnessFactor":1})";
                if (textures_[i] && textures_[i]->alpha)
                    json_ += R"(,"alphaMode":"MASK")";
                json_ += '}';
            });
        }
        json_ += ']';
    }

    // One image, texture and buffer view per material with a texture, in
    // material order, all with the one sampler. Images bear their material's
    // name, so that a texture can be found by name in a 3D tool.
    void images()
    {
        uint64_t count = 0;
        std::string textures;
        for (size_t i = 0; i < textures_.size(); ++i) {
            if (!textures_[i])
                continue;
            json_ += count == 0 ? R"(,"images":[)" : ",";
            json_ += R"({"name":)";
            append_json_string(json_, plan_.material_names()[i]);
            if (form_ == GltfForm::binary) {
                json_ += R"(,"bufferView":)";
                append_uint(json_, first_image_view + count);
                json_ += R"(,"mimeType":"image/png"})";
            } else {
                json_ += R"(,"mimeType":"image/png","uri":"data:image/png;base64,)";
                hole();
                json_ += R"("})";
            }
            textures += count == 0 ? R"(,"textures":[)" : ",";
            textures += R"({"sampler":0,"source":)";
            append_uint(textures, count++);
            textures += '}';
        }
        if (count == 0)
            return;
        json_ += ']';
        json_ += textures;
        json_ += R"(],"samplers":[{)";
        json_ += R"("wrapS":)";
        append_uint(json_, repeat_wrap);
        key_uint("wrapT", repeat_wrap);
        json_ += "}]";
    }

    void accessors()
    {
        const uint64_t vertices = level_.vertices.size();
        Vec3 low = gltf_position(level_.vertices.front());
        Vec3 high = low;
        for (const Vec3& vertex : level_.vertices) {
            const Vec3 v = gltf_position(vertex);
            low = {std::min(low.x, v.x), std::min(low.y, v.y), std::min(low.z, v.z)};
            high = {std::max(high.x, v.x), std::max(high.y, v.y), std::max(high.z, v.z)};
        }
        json_ += R"(,"accessors":[{"bufferView":0)";
        key_uint("componentType", float_component);
        key_uint("count", vertices);
        json_ += R"(,"type":"VEC3","min":)";
        vector3(low);
        json_ += R"(,"max":)";
        vector3(high);
        json_ += R"(},{"bufferView":1)";
        key_uint("componentType", float_component);
        key_uint("count", vertices);
        json_ += R"(,"type":"VEC2"})";
        for (const GlbPlan::Primitive& primitive : plan_.primitives()) {
            json_ += R"(,{"bufferView":2)";
            key_uint("byteOffset", primitive.byte_offset);
            key_uint("componentType", primitive.wide ? unsigned_int_component : unsigned_short_component);
            key_uint("count", primitive.index_count);
            json_ += R"(,"type":"SCALAR"})";
        }
        json_ += ']';
    }

    void vector3(const Vec3& v)
    {
        json_ += '[';
        append_exact_decimal(json_, v.x);
        json_ += ',';
        append_exact_decimal(json_, v.y);
        json_ += ',';
        append_exact_decimal(json_, v.z);
        json_ += ']';
    }

    void buffer_views()
    {
        const uint64_t vertices = level_.vertices.size();
        const uint64_t positions = position_bytes * vertices;
        const uint64_t tex_coords = tex_coord_bytes * vertices;
        json_ += R"(,"bufferViews":[{"buffer":0)";
        key_uint("byteLength", positions);
        key_uint("target", array_buffer);
        json_ += R"(},{"buffer":0)";
        key_uint("byteOffset", positions);
        key_uint("byteLength", tex_coords);
        key_uint("target", array_buffer);
        json_ += R"(},{"buffer":0)";
        key_uint("byteOffset", positions + tex_coords);
        key_uint("byteLength", plan_.index_bytes());
        key_uint("target", element_array_buffer);
        uint64_t offset = positions + tex_coords + plan_.index_bytes();
        for (const std::optional<ImageInfo>& image : textures_) {
            if (!image || form_ == GltfForm::json)
                continue;
            json_ += R"(},{"buffer":0)";
            key_uint("byteOffset", offset);
            key_uint("byteLength", image->bytes);
            offset += padded(image->bytes);
        }
        json_ += R"(}],"buffers":[{)";
        json_ += R"("byteLength":)";
        append_uint(json_, offset);
        if (form_ == GltfForm::json) {
            json_ += R"(,"uri":"data:application/octet-stream;base64,)";
            hole();
            json_ += '"';
        }
        json_ += "}]";
    }

    const BspData& level_;
    const GlbPlan& plan_;
    const Images& textures_;
    const GltfForm form_;
    std::string json_;
    std::vector<std::string> pieces_;
};

// Collects small values into a buffer of its own and hands it on in large
// blocks.
class BinaryWriter {
  public:
    explicit BinaryWriter(ByteSink sink) : sink_(std::move(sink)) {}
    ~BinaryWriter() = default;
    BinaryWriter(const BinaryWriter&) = delete;
    BinaryWriter& operator=(const BinaryWriter&) = delete;

    template <class Value> void put(const Value& value)
    {
        static_assert(std::is_trivially_copyable_v<Value>);
        if (used_ + sizeof value > sizeof buffer_)
            flush();
        std::memcpy(buffer_ + used_, &value, sizeof value);
        used_ += sizeof value;
    }

    void flush()
    {
        sink_({buffer_, used_});
        used_ = 0;
    }

  private:
    ByteSink sink_;
    char buffer_[1 << 16];
    size_t used_ = 0;
};

void write_vertices(const BspData& level, BinaryWriter& out)
{
    for (const Vec3& vertex : level.vertices)
        out.put(gltf_position(vertex));
    // The OBJ's v, counted from the bottom of the image, is -v; glTF counts
    // from the top.
    for (size_t i = 0; i < level.vertices.size(); ++i) {
        const Vec2 t = i < level.tex_coords.size() ? level.tex_coords[i] : Vec2{};
        const float obj_v = -finite(t.v);
        out.put(Vec2{finite(t.u), 1.0f - obj_v});
    }
}

template <class Index> void write_indices(const BspData& level, const GlbPlan& plan, const GlbPlan::Primitive& primitive,
                                          BinaryWriter& out)
{
    for (uint64_t i = 0; i < primitive.surface_count; ++i) {
        const auto corners = level.triangle_indices_of(level.surfaces[plan.surfaces()[primitive.first_surface + i]]);
        // The OBJ lists each triangle's corners in reverse.
        for (size_t c = 0; c < corners.size(); c += 3) {
            out.put(static_cast<Index>(corners[c + 2]));
            out.put(static_cast<Index>(corners[c + 1]));
            out.put(static_cast<Index>(corners[c]));
        }
    }
    for (uint64_t pad = primitive.byte_length(); pad % 4 != 0; ++pad)
        out.put(uint8_t{0});
}

// The embedded images, set aside until the JSON that gives their sizes is
// written, then copied into the file.
class ImageStore {
  public:
    ImageStore(OutputFile& file, const char* failure) : file_(file), failure_(failure) {}

    void add(std::vector<uint8_t> png)
    {
        // Beside a file that is staged, where the output itself needs the
        // room; made for the first image.
        if (!scratch_ && file_.waits_for_rename())
            scratch_.emplace(file_.folder(), failure_);
        offsets_.push_back(scratch_ ? scratch_->size() : 0);
        sizes_.push_back(png.size());
        if (scratch_)
            scratch_->write({reinterpret_cast<const char*>(png.data()), png.size()});
        else
            memory_.push_back(std::move(png));
    }

    size_t count() const { return sizes_.size(); }

    uint64_t padded_bytes() const
    {
        uint64_t bytes = 0;
        for (uint64_t size : sizes_)
            bytes += padded(size);
        return bytes;
    }

    void copy(size_t image, const ByteSink& sink)
    {
        if (scratch_) {
            scratch_->read(offsets_[image], sizes_[image], sink);
        } else {
            sink({reinterpret_cast<const char*>(memory_[image].data()), memory_[image].size()});
            memory_[image] = {};
        }
    }

  private:
    OutputFile& file_;
    const char* failure_;
    std::optional<ScratchFile> scratch_;
    std::vector<std::vector<uint8_t>> memory_;
    std::vector<uint64_t> offsets_;
    std::vector<uint64_t> sizes_;
};

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

// Positions, texture coordinates and every primitive's indices.
void write_geometry(const BspData& level, const GlbPlan& plan, BinaryWriter& out)
{
    write_vertices(level, out);
    for (const GlbPlan::Primitive& primitive : plan.primitives()) {
        if (primitive.wide)
            write_indices<uint32_t>(level, plan, primitive, out);
        else
            write_indices<uint16_t>(level, plan, primitive, out);
    }
    out.flush();
}

void write_binary(const BspData& level, const GlbPlan& plan, const std::vector<std::string>& json_pieces,
                  ImageStore& images, OutputFile& file, const char* write_failure)
{
    std::string json = json_pieces.front();
    json.append(padded(json.size()) - json.size(), ' ');
    const bool has_binary = !plan.primitives().empty();
    const uint64_t binary_bytes = has_binary ? vertex_bytes(level) + plan.index_bytes() + images.padded_bytes() : 0;
    const uint64_t total = header_bytes + chunk_header_bytes + json.size() +
                           (has_binary ? chunk_header_bytes + binary_bytes : 0);
    if (total > std::numeric_limits<uint32_t>::max())
        throw write_failure;

    BinaryWriter out([&](std::string_view bytes) { file.write(bytes); });
    for (uint32_t word : {glb_magic, uint32_t{2}, static_cast<uint32_t>(total), static_cast<uint32_t>(json.size()),
                          json_chunk_type})
        out.put(word);
    out.flush();
    file.write(json);
    if (!has_binary)
        return;
    out.put(static_cast<uint32_t>(binary_bytes));
    out.put(bin_chunk_type);
    write_geometry(level, plan, out);
    for (size_t image = 0; image < images.count(); ++image) {
        uint64_t size = 0;
        images.copy(image, [&](std::string_view bytes) {
            file.write(bytes);
            size += bytes.size();
        });
        file.write(std::string(padded(size) - size, '\0'));
    }
}

void write_json(const BspData& level, const GlbPlan& plan, const std::vector<std::string>& json_pieces,
                ImageStore& images, OutputFile& file)
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
        BinaryWriter out([&](std::string_view bytes) { base64.put(bytes); });
        write_geometry(level, plan, out);
        base64.finish();
        file.write(json_pieces[piece++]);
    }
}

} // namespace

void write_gltf(const BspData& level, OutputFile& file, GltfForm form, const char* write_failure,
                const TextureFinder& find_textures)
{
    const GlbPlan plan(level);
    ImageStore store(file, write_failure);
    Images images;
    if (find_textures) {
        find_textures(plan.texture_names(), [&](std::optional<GlbTexture> texture) {
            if (texture) {
                images.push_back(ImageInfo{texture->png.size(), texture->alpha});
                store.add(std::move(texture->png));
            } else {
                images.emplace_back();
            }
        });
    }
    images.resize(plan.texture_names().size());
    const std::vector<std::string> json = GlbJson(level, plan, images, form).pieces();
    if (form == GltfForm::binary)
        write_binary(level, plan, json, store, file, write_failure);
    else
        write_json(level, plan, json, store, file);
}

} // namespace meshwright
