#pragma once

#include "bsp/bsp_data.hpp"

namespace meshwright {

// The unit normal of the triangle (p0, p1, p2) by the right-hand rule over
// the edges p2 - p1 and p0 - p1. Every intermediate is rounded to float at
// fixed points, so the result is the same on every compiler and processor.
// A degenerate triangle gives NaN components.
Vec3 triangle_normal(const Vec3& p0, const Vec3& p1, const Vec3& p2);

} // namespace meshwright
