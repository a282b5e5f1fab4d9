#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace meshwright {

// Assembles level file bytes from a short description, so that each test can
// state its level in a few lines. Header counts follow from the lists unless
// a test patches them afterwards with set_u32.

struct SurfaceRecord {
    uint32_t model_index = 0;
    std::string texture_name; // up to 32 bytes; shorter names are NUL-padded
};

struct GeometryRecord {
    std::vector<uint16_t> local_indices;
    std::vector<std::array<uint16_t, 3>> corners;
};

struct LevelPlan {
    uint16_t minor_version = 0;
    uint16_t major_version = 1;
    std::vector<std::string> models; // up to 32 bytes each
    std::vector<SurfaceRecord> surfaces;
    uint32_t block16_count = 0;
    std::vector<std::array<uint16_t, 4>> word4s;
    uint32_t dword4_count = 0;
    std::vector<std::array<float, 3>> vertices;
    std::vector<std::array<float, 2>> tex_coords;
    std::vector<uint16_t> indices;
    std::vector<uint16_t> extra_indices;
    std::vector<GeometryRecord> geometry; // one per surface
    std::vector<uint8_t> trailing;
};

// Header offsets of the counts, for tests that patch them.
namespace header_offset {
inline constexpr size_t model_count = 16;
inline constexpr size_t vertex_count = 20;
inline constexpr size_t tex_coord_count = 24;
inline constexpr size_t index_count = 28;
inline constexpr size_t extra_index_count = 32;
inline constexpr size_t surface_count = 36;
inline constexpr size_t dword4_count = 40;
inline constexpr size_t block16_count = 44;
inline constexpr size_t word4_count = 48;
} // namespace header_offset

std::vector<uint8_t> build_level(const LevelPlan& plan);

void set_u32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value);

// Appends a value in little-endian byte order, as level and bitmap files
// store them.
void put_u16(std::vector<uint8_t>& out, uint16_t value);
void put_u32(std::vector<uint8_t>& out, uint32_t value);

// Adds a surface whose triangles are given as vertex numbers: the local index
// table is built from the distinct vertices in order of first use, as a real
// level stores them.
void add_surface(LevelPlan& plan, uint32_t model_index, const std::string& texture_name,
                 const std::vector<std::array<uint16_t, 3>>& triangles);

// Writes bytes to a file; throws std::runtime_error when it cannot.
void write_file(const std::string& path, const std::vector<uint8_t>& bytes);

} // namespace meshwright
