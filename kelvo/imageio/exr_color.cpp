// Colour conversion of OpenEXR values: clamping, the sRGB transfer function, half tables.
#include "kelvo/imageio/exr_color.h"

#include <half.h>

#include <array>
#include <cmath>

#include "kelvo/imageio/exr_image.h"

float ClampUnit(double value) {
    if (!(value > 0.0)) {  // also NaN
        return 0.0f;
    }
    return value < 1.0 ? static_cast<float>(value) : 1.0f;
}

uint16_t ScaleTo16(double unit) {
    return static_cast<uint16_t>(std::lround(unit * 65535.0));
}

const uint16_t* HalfTo16Table(bool linear) {
    using Table = std::array<uint16_t, 65536>;
    const auto build = [](bool linearValues) {
        Table table{};
        for (size_t bits = 0; bits < table.size(); ++bits) {
            Imath::half value;
            value.setBits(static_cast<uint16_t>(bits));
            table[bits] = ExrColorTo16(value, linearValues);
        }
        return table;
    };
    static const Table linearTable = build(true);
    static const Table encodedTable = build(false);
    return linear ? linearTable.data() : encodedTable.data();
}

uint16_t ExrColorTo16(float value, bool linear) {
    double v = value;
    if (!linear && v > 0.0) {
        v = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
    }
    return ScaleTo16(ClampUnit(v));
}
