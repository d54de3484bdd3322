#include "testing/view_rig.h"

#include <cmath>

#include "geometry/angles.h"
#include "testing/geometry_fixtures.h"

namespace mztest {
namespace {

constexpr float kPixelsPerRadian = 200.0f;

using Vec = std::array<double, 3>;

Vec cross(const Vec& a, const Vec& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// Camera looking along heading (ground direction hx, hy) tilted down by tiltDeg; z is up.
void pose(ViewRig& rig, int c, double x, double y, double height, double hx, double hy, double tiltDeg) {
    const double t = mz::radians(tiltDeg);
    const Vec forward = {std::cos(t) * hx, std::cos(t) * hy, -std::sin(t)};
    // The picture's right is the heading turned a quarter clockwise seen from above; with y toward
    // the rear that is (-hy, hx).
    const Vec right = {-hy, hx, 0.0};
    const Vec down = cross(forward, right);
    rig.rotation[c] = {right, down[2] < 0 ? down : Vec{-down[0], -down[1], -down[2]}, forward};
    rig.position[c] = {x, y, height};
}

}  // namespace

bool projectGround(const ViewRig& rig, int c, double x, double y, double* px, double* py) {
    const auto& r = rig.rotation[c];
    const Vec d = {x - rig.position[c][0], y - rig.position[c][1], -rig.position[c][2]};
    double p[3];
    for (int i = 0; i < 3; ++i) p[i] = r[i][0] * d[0] + r[i][1] * d[1] + r[i][2] * d[2];
    if (p[2] <= 0) return false;
    const double lateral = std::hypot(p[0], p[1]);
    const double theta = std::atan2(lateral, p[2]);
    const CameraParam& cam = rig.cameras[c];
    const double k = lateral > 0 ? theta / lateral : 0.0;
    *px = cam.cx + cam.fx * p[0] * k;
    *py = cam.cy + cam.fy * p[1] * k;
    return true;
}

std::unique_ptr<ViewRig> makeViewRig(int width, int height, float mmPerPixel, uint32_t flags, int blendMode) {
    auto rig = std::make_unique<ViewRig>();
    const double halfW = 900, halfL = 2300;
    pose(*rig, 0, 0, -halfL, 900, 0, -1, 40);   // front looks toward -y
    pose(*rig, 1, 0, halfL, 1000, 0, 1, 40);    // rear
    pose(*rig, 2, -halfW, 0, 1100, -1, 0, 55);  // left
    pose(*rig, 3, halfW, 0, 1100, 1, 0, 55);    // right
    // Two floor triangles per camera: the corners of the bay it sees.
    const double cornerX[4] = {-halfW - 700, halfW + 700, halfW + 700, -halfW - 700};
    const double cornerY[4] = {-halfL - 700, -halfL - 700, halfL + 700, halfL + 700};
    const int seen[4][2] = {{0, 1}, {2, 3}, {3, 0}, {1, 2}};
    for (int c = 0; c < 4; ++c) {
        CameraParam& cam = rig->cameras[c];
        cam = makeEquidistant(720, 480, kPixelsPerRadian);
        for (int s = 0; s < 2; ++s) {
            const int t = seen[c][s];
            const double tri[3][2] = {{0, 0}, {400, 0}, {0, 400}};
            for (int k = 0; k < 3; ++k) {
                const double x = cornerX[t] + tri[k][0] * (cornerX[t] < 0 ? 1 : -1);
                const double y = cornerY[t] + tri[k][1] * (cornerY[t] < 0 ? 1 : -1);
                double px = 0, py = 0;
                projectGround(*rig, c, x, y, &px, &py);
                rig->world[c][3 * s + k] = {static_cast<float>(x), static_cast<float>(y)};
                rig->image[c][3 * s + k] = {static_cast<float>(px), static_cast<float>(py)};
            }
        }
        cam.pointCount = 6;
        cam.imagePoints = rig->image[c].data();
        cam.worldPoints = rig->world[c].data();
    }
    MultiviewParam& p = rig->param;
    p.flags = flags;
    p.vehicleWidth = 1800;
    p.vehicleLength = 4600;
    p.frontFov = 150;
    p.rearFov = 150;
    p.blendWidth = 10;
    p.vehicleColour = 0x010101;
    p.lineWidth = 4;
    p.blendMode = blendMode;
    p.width = width;
    p.height = height;
    p.centreX = static_cast<float>(width) / 2;
    p.centreY = static_cast<float>(height) / 2;
    p.mmPerPixel = mmPerPixel;
    p.cameras = rig->cameras.data();
    return rig;
}

std::vector<uint8_t> noisePicture(int width, int height, uint32_t seed) {
    const int stride = MZ_ROW_STRIDE24(width);
    std::vector<uint8_t> picture(static_cast<size_t>(stride) * height, 0);
    uint32_t s = seed * 2654435761u + 1;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * 3; ++x) {
            s ^= s << 13;
            s ^= s >> 17;
            s ^= s << 5;
            picture[static_cast<size_t>(y) * stride + x] = static_cast<uint8_t>(s >> 24);
        }
    return picture;
}

std::vector<Point2F> decodeLut(const std::vector<uint8_t>& lut, int w, int h, int mode) {
    std::vector<Point2F> out(static_cast<size_t>(w) * h);
    const int even = (h + 1) / 2;
    for (int r = 0; r < h; ++r) {
        const int fieldRow = r % 2 == 0 ? r / 2 : even + r / 2;
        for (int c = 0; c < w; ++c) {
            const uint8_t* e = &lut[4 * (static_cast<size_t>(fieldRow) * w + c)];
            const int16_t X = static_cast<int16_t>(e[0] | e[1] << 8), Y = static_cast<int16_t>(e[2] | e[3] << 8);
            if (X == -1 && Y == -1) {
                out[r * w + c] = {-1, -1};
                continue;
            }
            const float y = mode == 0 ? Y / 32.0f : (r % 2 == 0 ? Y / 32.0f : Y / 32.0f + 1.0f);
            out[r * w + c] = {static_cast<uint16_t>(X) / 64.0f, y};
        }
    }
    return out;
}

}  // namespace mztest
