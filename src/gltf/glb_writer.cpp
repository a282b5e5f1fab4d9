#include "gltf/glb_writer.hpp"

#include <bit>
#include <cmath>
#include <cstring>
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

using Textures = std::vector<std::optional<GlbTexture>>;

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

class GlbJson {
  public:
    GlbJson(const BspData& level, const GlbPlan& plan, const Textures& textures)
        : level_(level), plan_(plan), textures_(textures)
    {
    }

    std::string text()
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
        return std::move(json_);
    }

  private:
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
            json_ += R"(,"bufferView":)";
            append_uint(json_, first_image_view + count);
            json_ += R"(,"mimeType":"image/png"})";
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
        for (const std::optional<GlbTexture>& texture : textures_) {
            if (!texture)
                continue;
            json_ += R"(},{"buffer":0)";
            key_uint("byteOffset", offset);
            key_uint("byteLength", texture->png.size());
            offset += padded(texture->png.size());
        }
        json_ += R"(}],"buffers":[{)";
        json_ += R"("byteLength":)";
        append_uint(json_, offset);
        json_ += "}]";
    }

    const BspData& level_;
    const GlbPlan& plan_;
    const Textures& textures_;
    std::string json_;
};

// Collects small values into a buffer of its own and hands it to the file in
// large blocks.
class BinaryWriter {
  public:
    explicit BinaryWriter(OutputFile& file) : file_(file) {}
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
        file_.write({buffer_, used_});
        used_ = 0;
    }

  private:
    OutputFile& file_;
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

uint64_t image_bytes(const Textures& textures)
{
    uint64_t bytes = 0;
    for (const std::optional<GlbTexture>& texture : textures)
        bytes += texture ? padded(texture->png.size()) : 0;
    return bytes;
}

void write_images(const Textures& textures, BinaryWriter& out, OutputFile& file)
{
    for (const std::optional<GlbTexture>& texture : textures) {
        if (!texture)
            continue;
        out.flush();
        file.write({reinterpret_cast<const char*>(texture->png.data()), texture->png.size()});
        for (uint64_t pad = texture->png.size(); pad % 4 != 0; ++pad)
            out.put(uint8_t{0});
    }
}

} // namespace

void write_glb(const BspData& level, OutputFile& file, const char* write_failure, const TextureFinder& find_textures)
{
    const GlbPlan plan(level);
    const Textures textures = find_textures ? find_textures(plan.texture_names()) : Textures(plan.texture_names().size());
    std::string json = GlbJson(level, plan, textures).text();
    json.append(padded(json.size()) - json.size(), ' ');
    const bool has_binary = !plan.primitives().empty();
    const uint64_t binary_bytes = has_binary ? vertex_bytes(level) + plan.index_bytes() + image_bytes(textures) : 0;
    const uint64_t total = header_bytes + chunk_header_bytes + json.size() +
                           (has_binary ? chunk_header_bytes + binary_bytes : 0);
    if (total > std::numeric_limits<uint32_t>::max())
        throw write_failure;

    BinaryWriter out(file);
    for (uint32_t word : {glb_magic, uint32_t{2}, static_cast<uint32_t>(total), static_cast<uint32_t>(json.size()),
                          json_chunk_type})
        out.put(word);
    out.flush();
    file.write(json);
    if (has_binary) {
        out.put(static_cast<uint32_t>(binary_bytes));
        out.put(bin_chunk_type);
        write_vertices(level, out);
        for (const GlbPlan::Primitive& primitive : plan.primitives()) {
            if (primitive.wide)
                write_indices<uint32_t>(level, plan, primitive, out);
            else
                write_indices<uint16_t>(level, plan, primitive, out);
        }
        write_images(textures, out, file);
    }
    out.flush();
}

} // namespace meshwright
