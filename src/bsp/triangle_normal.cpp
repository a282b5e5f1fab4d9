#include "bsp/triangle_normal.hpp"

#include "base/portability.hpp"

#include <cmath>

namespace meshwright {

namespace {

// a*b - c*d with the products and difference carried in double and rounded
// once to float at the end.
float cross_term(float a, float b, float c, float d)
{
    double difference = static_cast<double>(a) * b - static_cast<double>(c) * d;
    return static_cast<float>(difference);
}

float quotient(float numerator, float denominator)
{
    return static_cast<float>(static_cast<double>(numerator) / denominator);
}

} // namespace

Vec3 triangle_normal(const Vec3& p0, const Vec3& p1, const Vec3& p2)
{
    const Vec3 u{p2.x - p1.x, p2.y - p1.y, p2.z - p1.z};
    const Vec3 w{p0.x - p1.x, p0.y - p1.y, p0.z - p1.z};
    const Vec3 n{cross_term(u.y, w.z, u.z, w.y), cross_term(u.z, w.x, u.x, w.z), cross_term(u.x, w.y, u.y, w.x)};
    const double squared = static_cast<double>(n.x) * n.x + static_cast<double>(n.y) * n.y;
    const float squared_length = static_cast<float>(squared + static_cast<double>(n.z) * n.z);
    const float length = static_cast<float>(std::sqrt(static_cast<double>(squared_length)));
    return {quotient(n.x, length), quotient(n.y, length), quotient(n.z, length)};
}

} // namespace meshwright
