#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "gltf/gltf_geometry.hpp"
#include "gltf/gltf_scene.hpp"

namespace meshwright {

// Binary glTF (.glb), or glTF's JSON form (.gltf) with the buffer and the
// images inside it as data: URIs, one self-contained file.
enum class GltfForm { binary, json };

// What the JSON says of a material's image.
struct ImageInfo {
    uint64_t bytes = 0;
    bool alpha = false; // some pixels are not opaque: a cut-out texture
};

// Every index number of one glTF file, handed out in one place: a buffer
// view, an accessor or an image is added and gets its number back. The
// JSON, the buffer's bytes and the images are all written from the plan,
// so that they cannot disagree.
class GltfPlan {
  public:
    struct View {
        ViewContent content;
        uint32_t item = 0; // the primitive, or the image
        uint64_t offset = 0; // in the buffer, a multiple of 4
        uint64_t length = 0;
        int target = 0; // 0: none
    };
    struct Accessor {
        uint32_t view = 0;
        int component_type = 0;
        uint64_t count = 0;
        const char* type = "";
        std::optional<std::pair<Vec3, Vec3>> bounds = {}; // the least and greatest values
    };
    struct Image {
        uint32_t material = 0;
        std::optional<uint32_t> view; // none where the image is a data: URI
        ImageInfo info;
    };
    struct PrimitiveAccessors {
        uint32_t position = 0;
        uint32_t normal = 0;
        uint32_t tex_coord = 0;
        uint32_t indices = 0;
    };

    // The whole file: each primitive's vertices and triangles, then each
    // material's image (`images`: one per material, none for a material
    // without one).
    GltfPlan(const GltfScene& scene, const std::vector<PrimitiveVertices>& vertices,
             const std::vector<std::optional<ImageInfo>>& images, GltfForm form);

    uint32_t add_view(ViewContent content, uint32_t item, uint64_t length, int target);
    uint32_t add_accessor(const Accessor& accessor);
    uint32_t add_image(const Image& image);

    const std::vector<View>& views() const { return views_; }
    const std::vector<Accessor>& accessors() const { return accessors_; }
    // Images and textures alike: texture n shows image n.
    const std::vector<Image>& images() const { return images_; }
    const std::vector<PrimitiveAccessors>& primitives() const { return primitives_; }
    // The texture of each material, if it has one.
    const std::vector<std::optional<uint32_t>>& texture_of_material() const { return texture_of_material_; }
    // The buffer's size: every view's bytes, each padded to 4.
    uint64_t buffer_bytes() const { return buffer_bytes_; }

  private:
    PrimitiveAccessors add_primitive(uint32_t primitive, const PrimitiveVertices& vertices);

    std::vector<View> views_;
    std::vector<Accessor> accessors_;
    std::vector<Image> images_;
    std::vector<PrimitiveAccessors> primitives_;
    std::vector<std::optional<uint32_t>> texture_of_material_;
    uint64_t buffer_bytes_ = 0;
};

uint64_t padded_to_4(uint64_t size);

} // namespace meshwright
