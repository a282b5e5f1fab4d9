#include "level_builder.hpp"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace meshwright {

void put_u16(std::vector<uint8_t>& out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void put_u32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

namespace {

void put_f32(std::vector<uint8_t>& out, float value)
{
    put_u32(out, std::bit_cast<uint32_t>(value));
}

void put_name(std::vector<uint8_t>& out, const std::string& name)
{
    if (name.size() > 32)
        throw std::invalid_argument("name longer than 32 bytes: " + name);
    out.insert(out.end(), name.begin(), name.end());
    out.insert(out.end(), 32 - name.size(), 0);
}

void put_filler(std::vector<uint8_t>& out, size_t count, uint8_t seed)
{
    for (size_t i = 0; i < count; ++i)
        out.push_back(static_cast<uint8_t>(seed + i));
}

uint32_t count_of(size_t size)
{
    return static_cast<uint32_t>(size);
}

} // namespace

std::vector<uint8_t> build_level(const LevelPlan& plan)
{
    std::vector<uint8_t> out;
    for (char c : {'D', 'B', 'S', 'P'})
        out.push_back(static_cast<uint8_t>(c));
    put_u16(out, plan.minor_version);
    put_u16(out, plan.major_version);
    put_filler(out, 8, 0xA0);
    put_u32(out, count_of(plan.models.size()));
    put_u32(out, count_of(plan.vertices.size()));
    put_u32(out, count_of(plan.tex_coords.size()));
    put_u32(out, count_of(plan.indices.size()));
    put_u32(out, count_of(plan.extra_indices.size()));
    put_u32(out, count_of(plan.surfaces.size()));
    put_u32(out, plan.dword4_count);
    put_u32(out, plan.block16_count);
    put_u32(out, count_of(plan.word4s.size()));

    for (const std::string& name : plan.models)
        put_name(out, name);
    for (const SurfaceRecord& surface : plan.surfaces) {
        put_u32(out, surface.model_index);
        put_name(out, surface.texture_name);
        put_filler(out, 24, 0x10);
    }
    put_filler(out, 16 * size_t{plan.block16_count}, 0x20);
    for (const auto& word4 : plan.word4s) {
        for (uint16_t value : word4)
            put_u16(out, value);
    }
    put_filler(out, 16 * size_t{plan.dword4_count}, 0x30);
    for (const auto& vertex : plan.vertices) {
        for (float component : vertex)
            put_f32(out, component);
    }
    for (const auto& tex_coord : plan.tex_coords) {
        for (float component : tex_coord)
            put_f32(out, component);
    }
    for (uint16_t index : plan.indices)
        put_u16(out, index);
    for (uint16_t index : plan.extra_indices)
        put_u16(out, index);
    put_filler(out, 16 * size_t{plan.block16_count}, 0x40);
    for (const GeometryRecord& record : plan.geometry) {
        put_filler(out, 28, 0x50);
        put_u32(out, count_of(record.local_indices.size()));
        put_u32(out, count_of(record.corners.size()));
        for (uint16_t index : record.local_indices)
            put_u16(out, index);
        for (const auto& triangle : record.corners) {
            for (uint16_t corner : triangle)
                put_u16(out, corner);
        }
    }
    out.insert(out.end(), plan.trailing.begin(), plan.trailing.end());
    return out;
}

void set_u32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
}

void add_surface(LevelPlan& plan, uint32_t model_index, const std::string& texture_name,
                 const std::vector<std::array<uint16_t, 3>>& triangles)
{
    GeometryRecord record;
    // Where each vertex stands in the local table, if it does: a search of
    // the table would take seconds over tens of thousands of triangles.
    std::vector<int32_t> place(size_t{1} << 16, -1);
    for (const auto& triangle : triangles) {
        std::array<uint16_t, 3> corners{};
        for (size_t k = 0; k < 3; ++k) {
            auto& table = record.local_indices;
            if (place[triangle[k]] < 0) {
                place[triangle[k]] = static_cast<int32_t>(table.size());
                table.push_back(triangle[k]);
            }
            corners[k] = static_cast<uint16_t>(place[triangle[k]]);
        }
        record.corners.push_back(corners);
    }
    plan.surfaces.push_back({model_index, texture_name});
    plan.geometry.push_back(std::move(record));
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes)
{
    // The name is UTF-8 on every system.
    std::ofstream file(std::filesystem::path(std::u8string(path.begin(), path.end())), std::ios::binary);
    if (!file)
        throw std::runtime_error("cannot create " + path);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file)
        throw std::runtime_error("cannot write " + path);
}

} // namespace meshwright
