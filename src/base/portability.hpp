#pragma once

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <type_traits>

// What differs between the compilers and systems the program is built with,
// in one place.

// The normals must round exactly as written: fast-math would let the
// compiler reorder and fuse their arithmetic.
#if defined(__FAST_MATH__)
#error "meshwright must not be built with -ffast-math: its normals round at fixed points"
#endif

#if defined(__GNUC__) || defined(__clang__)
#define MESHWRIGHT_NOINLINE __attribute__((noinline))
#define MESHWRIGHT_PREFETCH(address) __builtin_prefetch(address)
#elif defined(_MSC_VER)
#define MESHWRIGHT_NOINLINE __declspec(noinline)
#define MESHWRIGHT_PREFETCH(address) ((void)(address))
#else
#define MESHWRIGHT_NOINLINE
#define MESHWRIGHT_PREFETCH(address) ((void)(address))
#endif

namespace meshwright {

// Moves to a byte of a file, also past 2 GiB; 0 when done.
inline int seek_file(FILE* file, uint64_t offset)
{
#if defined(_WIN32)
    return _fseeki64(file, static_cast<int64_t>(offset), SEEK_SET);
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET);
#endif
}

// std::bit_cast where the standard library has it; a copy of the bytes,
// which compilers turn into the same instructions, where it does not.
template <class To, class From> constexpr To bit_cast(const From& from) noexcept
{
    static_assert(sizeof(To) == sizeof(From) && std::is_trivially_copyable_v<To> && std::is_trivially_copyable_v<From>);
#if defined(__cpp_lib_bit_cast)
    return std::bit_cast<To>(from);
#else
    To to;
    std::memcpy(&to, &from, sizeof to);
    return to;
#endif
}

// The bytes of a 64-bit value in the opposite order.
constexpr uint64_t byteswap64(uint64_t value) noexcept
{
    uint64_t swapped = 0;
    for (int i = 0; i < 8; ++i, value >>= 8)
        swapped = swapped << 8 | (value & 0xFF);
    return swapped;
}

} // namespace meshwright
