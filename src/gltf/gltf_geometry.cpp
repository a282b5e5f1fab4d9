#include "gltf/gltf_geometry.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <type_traits>

#include "bsp/triangle_normal.hpp"
#include "io/interrupts.hpp"

namespace meshwright {

namespace {

static_assert(std::endian::native == std::endian::little, "glTF's data is little-endian, as written here");

constexpr uint32_t none = ~uint32_t{0};
constexpr size_t level_vertex_numbers = size_t{1} << 16; // corners are 16-bit
// How far from 1 a normal's length may be: a rounded unit normal misses it
// by about 1e-7, and validators warn from about 5e-3.
constexpr double unit_tolerance = 1e-3;
// Below this many triangles, numbering the vertices on one thread is quicker
// than starting others.
constexpr uint64_t helper_worth = 100000;

float finite(float value)
{
    return std::isfinite(value) ? value : 0.0f;
}

// Equal as numbers: the two halves of an axis-aligned face often differ in
// the sign of a zero, and splitting every such face for it would double its
// vertices for nothing.
bool operator==(const Vec3& a, const Vec3& b)
{
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

// The OBJ's normal of the triangle at `corners`, in the file's axes.
Vec3 gltf_normal(const BspData& level, const uint16_t* corners)
{
    const Vec3 n = triangle_normal(level.vertices[corners[0]], level.vertices[corners[1]], level.vertices[corners[2]]);
    const double length =
        std::sqrt(static_cast<double>(n.x) * n.x + static_cast<double>(n.y) * n.y + static_cast<double>(n.z) * n.z);
    if (!(std::fabs(length - 1) <= unit_tolerance)) // NaN too
        return fallback_normal;
    return {n.z, n.y, n.x};
}

// Numbers the vertices of one primitive after another: a level's vertex and
// a normal make one vertex of the primitive.
class VertexNumbers {
  public:
    VertexNumbers() : first_(level_vertex_numbers), seen_in_(level_vertex_numbers, none) {}

    void start(PrimitiveVertices& vertices, uint32_t primitive)
    {
        vertices_ = &vertices;
        primitive_ = primitive;
        next_.clear();
    }

    uint32_t number(uint16_t source, const Vec3& normal)
    {
        if (seen_in_[source] != primitive_) {
            seen_in_[source] = primitive_;
            first_[source] = none;
        }
        // The copies of a level's vertex in this primitive, newest first.
        for (uint32_t copy = first_[source]; copy != none; copy = next_[copy]) {
            if (vertices_->normals[copy] == normal)
                return copy;
        }
        const auto added = static_cast<uint32_t>(vertices_->source.size());
        vertices_->source.push_back(source);
        vertices_->normals.push_back(normal);
        next_.push_back(first_[source]);
        first_[source] = added;
        return added;
    }

  private:
    std::vector<uint32_t> first_;
    std::vector<uint32_t> seen_in_;
    std::vector<uint32_t> next_;
    PrimitiveVertices* vertices_ = nullptr;
    uint32_t primitive_ = none;
};

void set_bounds(const BspData& level, PrimitiveVertices& vertices)
{
    vertices.low = vertices.high = gltf_position(level.vertices[vertices.source.front()]);
    for (uint16_t source : vertices.source) {
        const Vec3 v = gltf_position(level.vertices[source]);
        vertices.low = {std::min(vertices.low.x, v.x), std::min(vertices.low.y, v.y), std::min(vertices.low.z, v.z)};
        vertices.high = {std::max(vertices.high.x, v.x), std::max(vertices.high.y, v.y),
                         std::max(vertices.high.z, v.z)};
    }
}

// Collects small values and hands them on in large blocks.
class BlockWriter {
  public:
    explicit BlockWriter(const ByteSink& sink) : sink_(sink) {}
    BlockWriter(const BlockWriter&) = delete;
    BlockWriter& operator=(const BlockWriter&) = delete;

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
    const ByteSink& sink_;
    char buffer_[1 << 16];
    size_t used_ = 0;
};

template <class Index> void write_indices(const std::vector<uint32_t>& corners, BlockWriter& out)
{
    for (uint32_t corner : corners)
        out.put(static_cast<Index>(corner));
}

} // namespace

Vec3 gltf_position(const Vec3& v)
{
    return {finite(v.z), finite(v.y), finite(v.x)};
}

Vec2 gltf_tex_coord(const BspData& level, uint16_t vertex)
{
    const Vec2 t = vertex < level.tex_coords.size() ? level.tex_coords[vertex] : Vec2{};
    // The OBJ's v is -v, counted from the bottom of the image.
    const float obj_v = -finite(t.v);
    return {finite(t.u), 1.0f - obj_v};
}

namespace {

void number_vertices(const BspData& level, const GltfScene& scene, uint32_t p, VertexNumbers& numbers,
                     PrimitiveVertices& vertices)
{
    const GltfScene::Primitive& primitive = scene.primitives()[p];
    numbers.start(vertices, p);
    // At most a vertex a corner; pages that stay unused cost nothing.
    vertices.source.reserve(3 * primitive.triangle_count);
    vertices.normals.reserve(3 * primitive.triangle_count);
    vertices.corners.reserve(3 * primitive.triangle_count);
    for (uint64_t i = 0; i < primitive.surface_count; ++i) {
        const auto corners = level.triangle_indices_of(level.surfaces[scene.surfaces()[primitive.first_surface + i]]);
        for (size_t c = 0; c < corners.size(); c += 3) {
            const Vec3 normal = gltf_normal(level, &corners[c]);
            // The OBJ lists each triangle's corners in reverse.
            for (size_t k = 3; k-- > 0;)
                vertices.corners.push_back(numbers.number(corners[c + k], normal));
        }
    }
    set_bounds(level, vertices);
}

} // namespace

std::vector<PrimitiveVertices> primitive_vertices(const BspData& level, const GltfScene& scene)
{
    std::vector<PrimitiveVertices> all(scene.primitives().size());
    std::atomic<size_t> next{0};
    const auto work = [&] {
        VertexNumbers numbers;
        for (size_t p = next++; p < all.size(); p = next++)
            number_vertices(level, scene, static_cast<uint32_t>(p), numbers, all[p]);
    };
    // Primitives are numbered apart, so the result is the same on any number
    // of threads; a level of a few thousand triangles needs no helper.
    uint64_t triangles = 0;
    for (const GltfScene::Primitive& primitive : scene.primitives())
        triangles += primitive.triangle_count;
    const unsigned wanted = triangles < helper_worth ? 1 : std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> helpers;
    std::exception_ptr failure;
    std::mutex failure_lock;
    for (unsigned i = 1; i < std::min<size_t>(wanted, all.size()); ++i) {
        try {
            helpers.emplace_back([&] {
                // Interrupts are left to the thread that owns the output file.
                const InterruptsHeld held;
                try {
                    work();
                } catch (...) {
                    const std::lock_guard lock(failure_lock);
                    failure = std::current_exception();
                    next = all.size();
                }
            });
        } catch (const std::system_error&) {
            break; // the system gives no more threads: those started do the work
        }
    }
    try {
        work();
    } catch (...) {
        next = all.size();
        for (std::thread& helper : helpers)
            helper.join();
        throw;
    }
    for (std::thread& helper : helpers)
        helper.join();
    if (failure)
        std::rethrow_exception(failure);
    return all;
}

uint64_t view_bytes(const PrimitiveVertices& vertices, ViewContent content)
{
    const uint64_t count = vertices.source.size();
    switch (content) {
    case ViewContent::positions:
    case ViewContent::normals:
        return sizeof(Vec3) * count;
    case ViewContent::tex_coords:
        return sizeof(Vec2) * count;
    case ViewContent::indices:
        return vertices.corners.size() * (vertices.wide() ? 4 : 2);
    case ViewContent::image:
        break;
    }
    return 0;
}

void write_view(const BspData& level, const PrimitiveVertices& vertices, ViewContent content, const ByteSink& sink)
{
    BlockWriter out(sink);
    switch (content) {
    case ViewContent::positions:
        for (uint16_t source : vertices.source)
            out.put(gltf_position(level.vertices[source]));
        break;
    case ViewContent::normals:
        for (const Vec3& normal : vertices.normals)
            out.put(normal);
        break;
    case ViewContent::tex_coords:
        for (uint16_t source : vertices.source)
            out.put(gltf_tex_coord(level, source));
        break;
    case ViewContent::indices:
        if (vertices.wide())
            write_indices<uint32_t>(vertices.corners, out);
        else
            write_indices<uint16_t>(vertices.corners, out);
        break;
    case ViewContent::image:
        break;
    }
    out.flush();
}

} // namespace meshwright
