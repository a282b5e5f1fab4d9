#include "gltf/gltf_plan.hpp"

namespace meshwright {

namespace {

constexpr int array_buffer = 34962;
constexpr int element_array_buffer = 34963;
constexpr int float_component = 5126;
constexpr int unsigned_short_component = 5123;
constexpr int unsigned_int_component = 5125;

} // namespace

uint64_t padded_to_4(uint64_t size)
{
    return (size + 3) / 4 * 4;
}

GltfPlan::GltfPlan(const GltfScene& scene, const std::vector<PrimitiveVertices>& vertices,
                   const std::vector<std::optional<ImageInfo>>& images, GltfForm form)
{
    for (size_t p = 0; p < vertices.size(); ++p)
        primitives_.push_back(add_primitive(static_cast<uint32_t>(p), vertices[p]));
    texture_of_material_.resize(scene.material_names().size());
    for (size_t m = 0; m < images.size(); ++m) {
        if (!images[m])
            continue;
        // The JSON form carries each image as a data: URI of its own.
        std::optional<uint32_t> view;
        if (form == GltfForm::binary)
            view = add_view(ViewContent::image, static_cast<uint32_t>(images_.size()), images[m]->bytes, 0);
        texture_of_material_[m] = add_image({static_cast<uint32_t>(m), view, *images[m]});
    }
}

GltfPlan::PrimitiveAccessors GltfPlan::add_primitive(uint32_t primitive, const PrimitiveVertices& vertices)
{
    const uint64_t count = vertices.source.size();
    const auto view = [&](ViewContent content, int target) {
        return add_view(content, primitive, view_bytes(vertices, content), target);
    };
    PrimitiveAccessors added;
    added.position = add_accessor({view(ViewContent::positions, array_buffer), float_component, count, "VEC3",
                                   std::pair{vertices.low, vertices.high}});
    added.normal = add_accessor({view(ViewContent::normals, array_buffer), float_component, count, "VEC3"});
    added.tex_coord = add_accessor({view(ViewContent::tex_coords, array_buffer), float_component, count, "VEC2"});
    added.indices = add_accessor({view(ViewContent::indices, element_array_buffer),
                                  vertices.wide() ? unsigned_int_component : unsigned_short_component,
                                  vertices.corners.size(), "SCALAR"});
    return added;
}

uint32_t GltfPlan::add_view(ViewContent content, uint32_t item, uint64_t length, int target)
{
    views_.push_back({content, item, buffer_bytes_, length, target});
    buffer_bytes_ += padded_to_4(length);
    return static_cast<uint32_t>(views_.size() - 1);
}

uint32_t GltfPlan::add_accessor(const Accessor& accessor)
{
    accessors_.push_back(accessor);
    return static_cast<uint32_t>(accessors_.size() - 1);
}

uint32_t GltfPlan::add_image(const Image& image)
{
    images_.push_back(image);
    return static_cast<uint32_t>(images_.size() - 1);
}

} // namespace meshwright
