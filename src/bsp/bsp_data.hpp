#pragma once

#include <array>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

namespace meshwright {

// The in-memory image of one level file. Plain values: copying, moving and
// releasing are the language's own, and copies share nothing.

struct Vec3 {
    float x = 0;
    float y = 0;
    float z = 0;
};

struct Vec2 {
    float u = 0;
    float v = 0;
};

struct Word4 {
    std::array<uint16_t, 4> values{};
};

// A 32-byte name field as stored in the file. Its text runs up to the first
// NUL byte, or over all 32 bytes when there is none.
struct Name32 {
    std::array<char, 32> bytes{};

    std::string_view text() const
    {
        const void* nul = std::memchr(bytes.data(), 0, bytes.size());
        size_t length = nul ? static_cast<const char*>(nul) - bytes.data() : bytes.size();
        return {bytes.data(), length};
    }

    // The same name with every byte that could end a line or steer a
    // terminal (below 0x20, and 0x7F) written as '_', as it goes into the
    // OBJ, MTL and report. Other bytes, UTF-8 included, stay as they are.
    Name32 line_safe() const
    {
        Name32 safe = *this;
        for (char& byte : safe.bytes) {
            const auto value = static_cast<unsigned char>(byte);
            if (value != 0 && (value < 0x20 || value == 0x7F))
                byte = '_';
        }
        return safe;
    }
};

static_assert(sizeof(Name32) == 32, "a name field is stored as its 32 bytes");

using Bytes4 = std::array<uint8_t, 4>;

struct BspHeader {
    Bytes4 magic{};
    uint16_t minor_version = 0;
    uint16_t major_version = 0;
    Bytes4 opaque_1{};
    Bytes4 opaque_2{};
    uint32_t model_count = 0;
    uint32_t vertex_count = 0;
    uint32_t tex_coord_count = 0;
    uint32_t index_count = 0;
    uint32_t extra_index_count = 0;
    uint32_t surface_count = 0;
    uint32_t dword4_count = 0;
    uint32_t block16_count = 0;
    uint32_t word4_count = 0;
};

struct BspSurface {
    uint32_t model_index = 0;
    Name32 texture_name;
    std::array<Bytes4, 6> opaque_values{};
    // Where this surface's triangles lie in BspData::triangle_indices.
    uint32_t triangle_count = 0;
    uint64_t first_index = 0;
};

struct BspModel {
    Name32 name;
    // Positions in BspData::surfaces of this model's surfaces, in file order;
    // they serve the report.
    std::vector<uint32_t> surface_numbers;
};

struct BspData {
    BspHeader header;
    std::vector<BspModel> models;
    std::vector<Word4> word4s;
    std::vector<BspSurface> surfaces;
    std::vector<Vec3> vertices;
    std::vector<Vec2> tex_coords;
    std::vector<uint16_t> indices;
    std::vector<uint16_t> extra_indices;
    // The vertex numbers of every surface's triangles, three per triangle in
    // the file's corner order, one surface after the other: one array for
    // all, however many surfaces there are.
    std::vector<uint16_t> triangle_indices;

    // The vertex numbers of one surface's triangles.
    std::span<const uint16_t> triangle_indices_of(const BspSurface& surface) const
    {
        assert(surface.first_index + 3 * uint64_t{surface.triangle_count} <= triangle_indices.size());
        return {triangle_indices.data() + surface.first_index, 3 * size_t{surface.triangle_count}};
    }
};

} // namespace meshwright
