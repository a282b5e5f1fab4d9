#include "gltf/gltf_json.hpp"

#include "gltf/json_text.hpp"

namespace meshwright {

namespace {

constexpr int repeat_wrap = 10497;

// A colour of the name's own, the same on every system: a hue from a hash
// of its bytes, not too pale nor too dark, in thousandths.
void append_colour(std::string& json, const std::string& name)
{
    uint32_t hash = 2166136261u;
    for (unsigned char byte : name)
        hash = (hash ^ byte) * 16777619u;
    const int hue = static_cast<int>(hash % 360);
    const int saturation = 450 + static_cast<int>((hash >> 9) % 400); // thousandths
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
        json += std::to_string(1000 + component).substr(1);
        json += ',';
    }
    json += "1]";
}

class JsonPieces {
  public:
    JsonPieces(const BspData& level, const GltfScene& scene, const GltfPlan& plan, GltfForm form)
        : level_(level), scene_(scene), plan_(plan), form_(form)
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
        if (!scene_.primitives().empty()) {
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

    void name(std::string_view bytes)
    {
        json_ += R"({"name":)";
        append_json_string(json_, bytes);
    }

    void nodes()
    {
        if (level_.models.empty())
            return;
        json_ += R"(,"nodes":[)";
        for (size_t m = 0; m < level_.models.size(); ++m) {
            separated(m, [&] {
                name(level_.models[m].name.text());
                if (scene_.mesh_of_model()[m] != GltfScene::no_mesh)
                    key_uint("mesh", scene_.mesh_of_model()[m]);
                json_ += '}';
            });
        }
        json_ += ']';
    }

    void meshes()
    {
        json_ += R"(,"meshes":[)";
        for (size_t i = 0; i < scene_.meshes().size(); ++i) {
            const GltfScene::Mesh& mesh = scene_.meshes()[i];
            separated(i, [&] {
                // Named as its node, which engines show beside it.
                name(level_.models[mesh.model].name.text());
                json_ += R"(,"primitives":[)";
                for (uint32_t p = 0; p < mesh.primitive_count; ++p)
                    separated(p, [&] { primitive(mesh.first_primitive + p); });
                json_ += "]}";
            });
        }
        json_ += ']';
    }

    void primitive(uint32_t number)
    {
        const GltfPlan::PrimitiveAccessors& accessors = plan_.primitives()[number];
        json_ += R"({"attributes":{"POSITION":)";
        append_uint(json_, accessors.position);
        key_uint("NORMAL", accessors.normal);
        key_uint("TEXCOORD_0", accessors.tex_coord);
        json_ += '}';
        key_uint("indices", accessors.indices);
        key_uint("material", scene_.primitives()[number].material);
        json_ += '}';
    }

    void materials()
    {
        json_ += R"(,"materials":[)";
        for (size_t i = 0; i < scene_.material_names().size(); ++i) {
            separated(i, [&] {
                const std::string& material = scene_.material_names()[i];
                const std::optional<uint32_t> texture = plan_.texture_of_material()[i];
                name(material);
                json_ += R"(,"pbrMetallicRoughness":{"baseColorFactor":)";
                if (texture) {
                    json_ += R"([1,1,1,1],"baseColorTexture":{"index":)";
                    append_uint(json_, *texture);
                    json_ += '}';
                } else {
                    append_colour(json_, material);
                }
                json_ += R"(,"metallicFactor":0,"roughnessFactor":1})";
                if (texture && plan_.images()[*texture].info.alpha)
                    json_ += R"(,"alphaMode":"MASK")";
                json_ += '}';
            });
        }
        json_ += ']';
    }

    // Images bear their material's name, so that a texture can be found by
    // name in a 3D tool; each has a texture of its own, with the one
    // sampler.
    void images()
    {
        const std::vector<GltfPlan::Image>& images = plan_.images();
        if (images.empty())
            return;
        json_ += R"(,"images":[)";
        for (size_t i = 0; i < images.size(); ++i) {
            separated(i, [&] {
                name(scene_.material_names()[images[i].material]);
                if (images[i].view) {
                    key_uint("bufferView", *images[i].view);
                    json_ += R"(,"mimeType":"image/png"})";
                } else {
                    json_ += R"(,"mimeType":"image/png","uri":"data:image/png;base64,)";
                    hole();
                    json_ += R"("})";
                }
            });
        }
        json_ += R"(],"textures":[)";
        for (size_t i = 0; i < images.size(); ++i)
            separated(i, [&] {
                json_ += R"({"sampler":0,"source":)";
                append_uint(json_, i);
                json_ += '}';
            });
        json_ += R"(],"samplers":[{"wrapS":)";
        append_uint(json_, repeat_wrap);
        key_uint("wrapT", repeat_wrap);
        json_ += "}]";
    }

    void accessors()
    {
        json_ += R"(,"accessors":[)";
        const std::vector<GltfPlan::Accessor>& accessors = plan_.accessors();
        for (size_t i = 0; i < accessors.size(); ++i) {
            separated(i, [&] {
                const GltfPlan::Accessor& accessor = accessors[i];
                json_ += R"({"bufferView":)";
                append_uint(json_, accessor.view);
                key_uint("componentType", static_cast<uint64_t>(accessor.component_type));
                key_uint("count", accessor.count);
                json_ += R"(,"type":")";
                json_ += accessor.type;
                json_ += '"';
                if (accessor.bounds) {
                    json_ += R"(,"min":)";
                    vector3(accessor.bounds->first);
                    json_ += R"(,"max":)";
                    vector3(accessor.bounds->second);
                }
                json_ += '}';
            });
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
        json_ += R"(,"bufferViews":[)";
        const std::vector<GltfPlan::View>& views = plan_.views();
        for (size_t i = 0; i < views.size(); ++i) {
            separated(i, [&] {
                json_ += R"({"buffer":0)";
                if (views[i].offset > 0)
                    key_uint("byteOffset", views[i].offset);
                key_uint("byteLength", views[i].length);
                if (views[i].target != 0)
                    key_uint("target", static_cast<uint64_t>(views[i].target));
                json_ += '}';
            });
        }
        json_ += R"(],"buffers":[{"byteLength":)";
        append_uint(json_, plan_.buffer_bytes());
        if (form_ == GltfForm::json) {
            json_ += R"(,"uri":"data:application/octet-stream;base64,)";
            hole();
            json_ += '"';
        }
        json_ += "}]";
    }

    const BspData& level_;
    const GltfScene& scene_;
    const GltfPlan& plan_;
    const GltfForm form_;
    std::string json_;
    std::vector<std::string> pieces_;
};

} // namespace

std::vector<std::string> gltf_json(const BspData& level, const GltfScene& scene, const GltfPlan& plan, GltfForm form)
{
    return JsonPieces(level, scene, plan, form).pieces();
}

} // namespace meshwright
