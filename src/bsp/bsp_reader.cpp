#include "bsp/bsp_reader.hpp"

#include <algorithm>
#include <bit>
#include <cassert>
#include <limits>
#include <string>

#include "base/messages.hpp"
#include "base/portability.hpp"
#include "bsp/input_stream.hpp"
#include "bsp/page_advice.hpp"

namespace meshwright {

namespace {

constexpr size_t header_size = 52;
constexpr size_t model_record_size = 32;
constexpr size_t surface_record_size = 60;
constexpr size_t block16_record_size = 16;
constexpr size_t word4_record_size = 8;
constexpr size_t dword4_record_size = 16;
constexpr size_t vertex_record_size = 12;
constexpr size_t tex_coord_record_size = 8;
constexpr size_t index_record_size = 2;
constexpr size_t geometry_head_size = 36;
constexpr size_t triangle_record_size = 6;

static_assert(header_size == 4 + 2 * 2 + 2 * 4 + 9 * 4, "magic, two versions, two opaque words, nine counts");
static_assert(surface_record_size == 4 + sizeof(Name32) + 6 * 4, "model index, texture name, six opaque words");

uint16_t read_u16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t read_u32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

float read_f32(const uint8_t* p)
{
    return bit_cast<float>(read_u32(p));
}

Bytes4 read_bytes4(const uint8_t* p)
{
    return {p[0], p[1], p[2], p[3]};
}

Name32 read_name(const uint8_t* p)
{
    Name32 name;
    std::copy_n(p, name.bytes.size(), reinterpret_cast<uint8_t*>(name.bytes.data()));
    return name;
}

// Hands `count` records of `record_size` bytes to `decode`, in file order.
// The records that arrive whole are decoded even when the file ends before
// the last one, so a fault inside them is reported ahead of the early end.
template <size_t record_size, class Decode> void read_records(InputStream& in, uint64_t count, Decode&& decode)
{
    static_assert(record_size > 0 && record_size <= InputStream::buffer_bytes, "a record must fit in the buffer");
    constexpr size_t records_per_fill = InputStream::buffer_bytes / record_size;
    while (count > 0) {
        const size_t wanted = static_cast<size_t>(std::min<uint64_t>(count, records_per_fill));
        const size_t whole = std::min(in.fill(wanted * record_size) / record_size, wanted);
        const uint8_t* records = in.next();
        for (size_t i = 0; i < whole; ++i)
            decode(records + i * record_size);
        in.consume(whole * record_size);
        if (whole != wanted)
            throw_unexpected_end();
        count -= wanted;
    }
}

// Appends `count` decoded records to `list`. The list never grows beyond
// what the file has actually supplied (or is known to hold), whatever the
// count claims.
template <size_t record_size, class T, class Decode>
void read_list(InputStream& in, uint32_t count, std::vector<T>& list, Decode decode)
{
    list.reserve(list.size() + in.reservable(count, record_size));
    prefer_huge_pages(list.data() + list.size(), (list.capacity() - list.size()) * sizeof(T));
    read_records<record_size>(in, count, [&](const uint8_t* p) { list.push_back(decode(p)); });
}

template <size_t record_size> void skip_records(InputStream& in, uint32_t count)
{
    read_records<record_size>(in, count, [](const uint8_t*) {});
}

BspHeader read_header(InputStream& in)
{
    uint8_t bytes[header_size];
    in.read_exact(bytes, header_size);
    BspHeader header;
    header.magic = read_bytes4(bytes);
    header.minor_version = read_u16(bytes + 4);
    header.major_version = read_u16(bytes + 6);
    header.opaque_1 = read_bytes4(bytes + 8);
    header.opaque_2 = read_bytes4(bytes + 12);
    header.model_count = read_u32(bytes + 16);
    header.vertex_count = read_u32(bytes + 20);
    header.tex_coord_count = read_u32(bytes + 24);
    header.index_count = read_u32(bytes + 28);
    header.extra_index_count = read_u32(bytes + 32);
    header.surface_count = read_u32(bytes + 36);
    header.dword4_count = read_u32(bytes + 40);
    header.block16_count = read_u32(bytes + 44);
    header.word4_count = read_u32(bytes + 48);
    return header;
}

// The console text of one read: the description of the level when verbose,
// and the closing line.
struct Report {
    bool verbose;
    const PrintLine& print_line;
};

void report_header(const Report& report, const BspHeader& header)
{
    if (!report.verbose)
        return;
    report.print_line("BSP info:");
    report.print_line("\tVersion: " + std::to_string(header.major_version) + "." +
                      std::to_string(header.minor_version));
    report.print_line("\tNum Models: " + std::to_string(header.model_count));
    report.print_line("\tNum vertices: " + std::to_string(header.vertex_count));
    report.print_line("\tNum indices: " + std::to_string(header.index_count));
    report.print_line("\tModels:");
}

void report_models(const Report& report, const BspData& level)
{
    if (!report.verbose)
        return;
    for (const BspModel& model : level.models) {
        report.print_line("\t\t" + std::string(model.name.line_safe().text()) + "'s surfaces:");
        for (uint32_t number : model.surface_numbers)
            report.print_line("\t\t\t" + std::string(level.surfaces[number].texture_name.line_safe().text()));
    }
}

BspSurface decode_surface(const uint8_t* p)
{
    BspSurface surface;
    surface.model_index = read_u32(p);
    surface.texture_name = read_name(p + 4);
    for (size_t i = 0; i < surface.opaque_values.size(); ++i)
        surface.opaque_values[i] = read_bytes4(p + 36 + 4 * i);
    return surface;
}

void read_surfaces(InputStream& in, BspData& level)
{
    size_t room = in.reservable(level.header.surface_count, surface_record_size);
    level.surfaces.reserve(room);
    prefer_huge_pages(level.surfaces.data(), level.surfaces.capacity() * sizeof(BspSurface));
    read_records<surface_record_size>(in, level.header.surface_count, [&](const uint8_t* p) {
        BspSurface surface = decode_surface(p);
        if (surface.model_index >= level.models.size())
            throw messages::model_index_out_of_range;
        level.models[surface.model_index].surface_numbers.push_back(static_cast<uint32_t>(level.surfaces.size()));
        level.surfaces.push_back(surface);
    });
}

void read_triangles(InputStream& in, uint32_t triangle_count, const std::vector<uint16_t>& local_indices,
                    std::vector<uint16_t>& triangle_indices)
{
    read_records<triangle_record_size>(in, triangle_count, [&](const uint8_t* p) {
        const uint16_t corners[3] = {read_u16(p), read_u16(p + 2), read_u16(p + 4)};
        if (std::max({corners[0], corners[1], corners[2]}) >= local_indices.size())
            throw messages::corner_out_of_range;
        const uint16_t vertices[3] = {local_indices[corners[0]], local_indices[corners[1]], local_indices[corners[2]]};
        triangle_indices.insert(triangle_indices.end(), vertices, vertices + 3);
    });
}

void read_surface_geometry(InputStream& in, BspData& level, const Report& report)
{
    // One table serves every record in turn; corner numbers always refer to
    // the record they stand in.
    std::vector<uint16_t> local_indices;
    assert(level.surfaces.size() == level.header.surface_count);
    // Each vertex number comes from a two-byte corner, so the rest of the
    // file bounds how many there can be; reserving that once keeps the one
    // array from moving while it fills.
    level.triangle_indices.reserve(in.reservable(std::numeric_limits<uint64_t>::max(), index_record_size));
    prefer_huge_pages(level.triangle_indices.data(), level.triangle_indices.capacity() * sizeof(uint16_t));
    for (BspSurface& surface : level.surfaces) {
        uint8_t head[geometry_head_size];
        in.read_exact(head, geometry_head_size);
        uint32_t local_index_count = read_u32(head + 28);
        uint32_t triangle_count = read_u32(head + 32);
        // Printed before the table is read, so that it stands even when the
        // record turns out to be cut short.
        if (report.verbose) {
            report.print_line("num triangles: " + std::to_string(triangle_count) +
                              " num indices: " + std::to_string(local_index_count));
        }
        local_indices.clear();
        read_list<index_record_size>(in, local_index_count, local_indices, read_u16);
        surface.first_index = level.triangle_indices.size();
        read_triangles(in, triangle_count, local_indices, level.triangle_indices);
        surface.triangle_count = triangle_count;
    }
}

Vec3 decode_vertex(const uint8_t* p)
{
    return {read_f32(p), read_f32(p + 4), read_f32(p + 8)};
}

Vec2 decode_tex_coord(const uint8_t* p)
{
    return {read_f32(p), read_f32(p + 4)};
}

Word4 decode_word4(const uint8_t* p)
{
    return {{read_u16(p), read_u16(p + 2), read_u16(p + 4), read_u16(p + 6)}};
}

BspModel decode_model(const uint8_t* p)
{
    return {read_name(p), {}};
}

} // namespace

BspData load_bsp(FILE* file, bool verbose, const PrintLine& print_line)
{
    const Report report{verbose, print_line};
    InputStream in(file);
    BspData level;
    level.header = read_header(in);
    const BspHeader& header = level.header;
    report_header(report, header);

    read_list<model_record_size>(in, header.model_count, level.models, decode_model);
    read_surfaces(in, level);
    report_models(report, level);
    skip_records<block16_record_size>(in, header.block16_count);
    read_list<word4_record_size>(in, header.word4_count, level.word4s, decode_word4);
    skip_records<dword4_record_size>(in, header.dword4_count);
    read_list<vertex_record_size>(in, header.vertex_count, level.vertices, decode_vertex);
    read_list<tex_coord_record_size>(in, header.tex_coord_count, level.tex_coords, decode_tex_coord);
    read_list<index_record_size>(in, header.index_count, level.indices, read_u16);
    read_list<index_record_size>(in, header.extra_index_count, level.extra_indices, read_u16);
    skip_records<block16_record_size>(in, header.block16_count);
    read_surface_geometry(in, level, report);

    print_line("final position: " + std::to_string(in.position()) + " counter: ");
    return level;
}

} // namespace meshwright
