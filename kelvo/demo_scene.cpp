// The built-in demo: a short animation computed in code, with its palette and ranges.
#include "kelvo/demo_scene.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

struct Vec {
    double x, y, z;
};
Vec operator+(Vec a, Vec b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec operator-(Vec a, Vec b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec operator*(Vec a, double s) {
    return {a.x * s, a.y * s, a.z * s};
}
double Dot(Vec a, Vec b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vec Normalise(Vec a) {
    return a * (1.0 / std::sqrt(Dot(a, a)));
}
Vec Cross(Vec a, Vec b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

constexpr int ID_SKY = 0;
constexpr int ID_FLOOR = 1;
constexpr int RAMP_SIZE = 32;

struct Sphere {
    Vec centre;
    double radius;
    int id;
};

// Base colours of the ramps, in identifier order.
constexpr PaletteEntry RAMP_COLOURS[] = {
    {110, 160, 235},  // sky
    {190, 160, 120},  // floor
    {220, 50, 40},    // red sphere
    {60, 190, 80},    // green sphere
    {60, 110, 230},   // blue sphere
    {240, 190, 40},   // gold sphere
};
constexpr int RAMP_COUNT = sizeof RAMP_COLOURS / sizeof RAMP_COLOURS[0];

struct Hit {
    double distance = INFINITY;
    Vec normal{0, 1, 0};
    int id = ID_SKY;
};

std::vector<Sphere> SceneSpheres(int frame) {
    const double phase = std::numbers::pi * frame / (DEMO_FRAMES / 2.0);
    const double bounce = 0.35 + 1.1 * std::fabs(std::sin(phase));
    return {
        {{-1.6, 0.8, 0.6}, 0.8, 2},
        {{0.7, 0.6, -0.5}, 0.6, 3},
        {{1.9, 1.0, 1.6}, 1.0, 4},
        {{-0.4, bounce, -1.7}, 0.35, 5},
    };
}

Hit Trace(Vec origin, Vec direction, const std::vector<Sphere>& spheres) {
    Hit hit;
    if (direction.y < -1e-9) {
        const double t = -origin.y / direction.y;
        if (t > 1e-6) {
            hit = {t, {0, 1, 0}, ID_FLOOR};
        }
    }
    for (const Sphere& sphere : spheres) {
        const Vec offset = origin - sphere.centre;
        const double b = Dot(offset, direction);
        const double c = Dot(offset, offset) - sphere.radius * sphere.radius;
        const double discriminant = b * b - c;
        if (discriminant < 0) {
            continue;
        }
        const double t = -b - std::sqrt(discriminant);
        if (t > 1e-6 && t < hit.distance) {
            hit = {t, Normalise(origin + direction * t - sphere.centre), sphere.id};
        }
    }
    return hit;
}

// Light intensity 0..1 at a hit, with a shadow from every sphere.
double Shade(Vec point, const Hit& hit, Vec view, Vec light, const std::vector<Sphere>& spheres) {
    const Vec toLight = light - point;
    const double lightDistance = std::sqrt(Dot(toLight, toLight));
    const Vec lightDirection = toLight * (1.0 / lightDistance);
    double albedo = 0.85;
    if (hit.id == ID_FLOOR) {
        const bool dark =
            (static_cast<int>(std::floor(point.x)) + static_cast<int>(std::floor(point.z))) % 2 !=
            0;
        albedo = dark ? 0.45 : 0.8;
    }
    const double ambient = 0.1;
    double diffuse = std::max(0.0, Dot(hit.normal, lightDirection));
    double specular = 0.0;
    const Hit blocker = Trace(point + hit.normal * 1e-4, lightDirection, spheres);
    if (blocker.id != ID_FLOOR && blocker.distance < lightDistance) {
        diffuse = 0.0;
    } else if (hit.id != ID_FLOOR && diffuse > 0) {
        const Vec half = Normalise(lightDirection - view);
        specular = 0.6 * std::pow(std::max(0.0, Dot(hit.normal, half)), 40.0);
    }
    return std::min(1.0, albedo * (ambient + 0.9 * diffuse) + specular);
}

}  // namespace

void BuildDemoPalette(PaletteEntry* palette) {
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        const int ramp = i / RAMP_SIZE;
        const double t = static_cast<double>(i % RAMP_SIZE) / (RAMP_SIZE - 1);
        if (ramp >= RAMP_COUNT) {
            const int grey =
                (i - RAMP_COUNT * RAMP_SIZE) * 255 / (PALETTE_ENTRIES - RAMP_COUNT * RAMP_SIZE - 1);
            palette[i] = {static_cast<uint8_t>(grey), static_cast<uint8_t>(grey),
                          static_cast<uint8_t>(grey)};
            continue;
        }
        // Dark shade to full colour over the lower 70%, then towards a pale highlight.
        const PaletteEntry base = RAMP_COLOURS[ramp];
        auto channel = [t](uint8_t value) {
            const double full = value;
            const double dark = full * 0.08;
            const double pale = full + (255.0 - full) * 0.75;
            const double level = t <= 0.7 ? dark + (full - dark) * (t / 0.7)
                                          : full + (pale - full) * ((t - 0.7) / 0.3);
            return static_cast<uint8_t>(std::lround(level));
        };
        palette[i] = {channel(base.red), channel(base.green), channel(base.blue)};
    }
}

std::vector<RangeEdit> DemoRanges() {
    std::vector<RangeEdit> ranges;
    for (int id = 0; id < RAMP_COUNT; ++id) {
        ranges.push_back({id, id * RAMP_SIZE, id * RAMP_SIZE + RAMP_SIZE - 1, true});
    }
    return ranges;
}

void RenderDemoFrame(int frame, DecodedFrame& out) {
    const std::vector<Sphere> spheres = SceneSpheres(frame);
    const double angle = 2.0 * std::numbers::pi * frame / DEMO_FRAMES;
    const Vec light{4.5 * std::cos(angle), 4.0, 4.5 * std::sin(angle) - 0.5};
    const Vec eye{0.0, 2.2, -6.5};
    const Vec forward = Normalise(Vec{0.0, 0.7, 0.0} - eye);
    const Vec right = Normalise(Cross(Vec{0, 1, 0}, forward));
    const Vec up = Cross(forward, right);
    const double halfHeight = std::tan(0.5 * 50.0 * std::numbers::pi / 180.0);
    const double halfWidth = halfHeight * DEMO_WIDTH / DEMO_HEIGHT;

    out.color = {DEMO_WIDTH, DEMO_HEIGHT, std::vector<uint16_t>(DEMO_WIDTH * DEMO_HEIGHT * 4)};
    out.ids = {DEMO_WIDTH, DEMO_HEIGHT, std::vector<uint16_t>(DEMO_WIDTH * DEMO_HEIGHT)};
    for (int y = 0; y < DEMO_HEIGHT; ++y) {
        for (int x = 0; x < DEMO_WIDTH; ++x) {
            const double u = (2.0 * (x + 0.5) / DEMO_WIDTH - 1.0) * halfWidth;
            const double v = (1.0 - 2.0 * (y + 0.5) / DEMO_HEIGHT) * halfHeight;
            const Vec direction = Normalise(forward + right * u + up * v);
            const Hit hit = Trace(eye, direction, spheres);
            double intensity = 0.0;
            if (hit.id == ID_SKY) {
                intensity = 0.35 + 0.55 * std::clamp(direction.y * 2.5, 0.0, 1.0);
            } else {
                const Vec point = eye + direction * hit.distance;
                intensity = Shade(point, hit, direction, light, spheres);
            }
            const auto grey = static_cast<uint16_t>(
                std::lround(65535.0 * std::pow(std::clamp(intensity, 0.0, 1.0), 1.0 / 2.2)));
            const size_t at = static_cast<size_t>(y) * DEMO_WIDTH + static_cast<size_t>(x);
            out.color.rgba[4 * at] = grey;
            out.color.rgba[4 * at + 1] = grey;
            out.color.rgba[4 * at + 2] = grey;
            out.color.rgba[4 * at + 3] = 65535;
            out.ids.ids[at] = static_cast<uint16_t>(hit.id);
        }
    }
}
