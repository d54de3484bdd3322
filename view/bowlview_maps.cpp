// The bowl views' geometry: every real camera's pose from its point pairs, the bowl mesh, and per
// camera the coordinate and weight maps, drawn quad by quad through one homography per quad.
#include <algorithm>
#include <array>
#include <cmath>
#include <new>

#include "geometry/angles.h"
#include "geometry/camera_pose.h"
#include "geometry/lens_model.h"
#include "geometry/matrix.h"
#include "mz/mzgeometry.h"
#include "view/bowlview.h"

namespace mz {
namespace {

constexpr int kFloorRings = 20;             // the rings of the floor ellipse, counted from the centre
constexpr float kSideHalfFov = 1.3089969f;  // 75 degrees: the side cameras' weight limit

bool finite(float v) { return std::isfinite(v); }

// 0 <= v < limit, as the pixel and source-image tests put it.
bool within(float v, int limit) { return v >= 0.0f && v < static_cast<float>(limit); }

// A box edge truncated toward zero and kept to 0..limit - 1.
int boxEdge(float v, int limit) {
    if (!(v > 0.0f)) return 0;
    if (v >= static_cast<float>(limit - 1)) return limit - 1;
    return static_cast<int>(v);
}

}  // namespace

Pinhole pinholeOf(const CameraParam& cam, float offsetX, float offsetY) {
    const std::array<float, 3> euler = eulerAngles<float>(cam);
    Pinhole p{};
    eulerRotation(-euler[0] * kDegToRad<float>, -euler[1] * kDegToRad<float>, -euler[2] * kDegToRad<float>, p.r);
    p.px = cam.posX + offsetX;
    p.py = cam.posY + offsetY;
    p.pz = cam.posZ;
    p.fx = cam.fx;
    p.fy = cam.fy;
    p.cx = cam.cx;
    p.cy = cam.cy;
    return p;
}

// Front, left, right, rear. A camera without four point pairs has no homography to solve: its
// pose stays as it was, and so does a pose the decomposition could not give in numbers.
void BowlView::solvePoses(CameraParam* cameras) const {
    for (const int c : {kFront, kLeft, kRight, kRear}) {
        CameraParam& cam = cameras[c];
        if (cam.pointCount < 4 || cam.imagePoints == nullptr || cam.worldPoints == nullptr) continue;
        MatrixPtr h(3, 3);
        if (!h) throw std::bad_alloc();
        mzGetHomography(h.get(), &cam, 0);
        CameraParam solved = cam;
        solved.posX = solved.posY = solved.posZ = solved.rotX = solved.rotY = solved.rotZ = 0;
        mzGetCameraPosition(h.get(), cam.f, &solved.posX, &solved.posY, &solved.posZ, &solved.rotX, &solved.rotY,
                            &solved.rotZ);
        const PoseValues<float> all = poseValues<float>(solved);  // the six fields, whatever their reading
        if (std::all_of(all.begin(), all.end(), finite)) cam = solved;
    }
}

// Ring 0 is the top of the wall, ring 30 meets the floor ellipse, ring 50 is the centre; point 60
// of a ring repeats point 0.
void BowlView::buildMesh() {
    mesh_.resize(3 * kBowlRings * kBowlRingPoints);
    const float a = wallX_, b = wallY_, c = bowlHeight_, d = floorY_;
    float* q = mesh_.data();
    for (int k = 0; k < kBowlRings; ++k) {
        const int n = kBowlRings - 1 - k;
        const float psi = static_cast<float>(3 * k) * kDegToRad<float>;
        for (int i = 0; i < kBowlRingPoints; ++i, q += 3) {
            const float phi = static_cast<float>(6 * i) * kDegToRad<float>;
            float x, y, z;
            if (n >= kFloorRings) {
                x = std::cos(phi) * (a / b * d + a * std::cos(psi)) + ox_;
                y = std::sin(phi) * (b * std::cos(psi) + d) + oy_;
                z = c * std::sin(psi) - c;
            } else {
                const float fn = static_cast<float>(n);
                x = std::cos(phi) * (a / b * d / static_cast<float>(kFloorRings) * fn) + ox_;
                y = std::sin(phi) * (fn * d / static_cast<float>(kFloorRings)) + oy_;
                z = 0.0f;
            }
            q[0] = x;
            q[1] = y;
            q[2] = z > 0.0f ? 0.0f : z;
        }
    }
}

void BowlView::buildMaps(const CameraParam* cameras) {
    for (const int c : {kFront, kLeft, kRight, kRear}) buildMap(c, cameras[c], cameras[kCameraCount]);
}

void BowlView::buildMap(int c, const CameraParam& cam, const CameraParam& virt) {
    const std::size_t n = pixelCount();
    float* map = maps_[c].data();
    float* weight = weights_[c].data();
    std::fill(map, map + 2 * n, -1.0f);
    std::fill(weight, weight + n, -1.0f);

    const int points = kBowlRings * kBowlRingPoints;
    const Pinhole own = pinholeOf(cam, cam.originX, cam.originY);
    const Pinhole eye = pinholeOf(virt, 0.0f, 0.0f);
    const std::array<float, 3> euler = eulerAngles<float>(cam);
    float axis[3];
    eulerAxis(euler[0] * kDegToRad<float>, euler[2] * kDegToRad<float>, axis);
    std::vector<Point2F> camPix(points), viewPix(points);
    std::vector<uint8_t> ahead(points), usable(points);
    for (int k = 0; k < points; ++k) {
        const float* q = &mesh_[3 * static_cast<std::size_t>(k)];
        float pc[3], pv[3];
        own.toCamera(q[0], q[1], q[2], pc);
        eye.toCamera(q[0], q[1], q[2], pv);
        const float to[3] = {own.px - q[0], own.py - q[1], own.pz - q[2]};
        ahead[k] = to[0] * axis[0] + to[1] * axis[1] + to[2] * axis[2] <= 0.0f;
        // A point on or behind either camera's plane has no pixel: a quad through it would be
        // drawn turned inside out across the view.
        if (!(pc[2] > 0.0f && pv[2] > 0.0f)) continue;
        camPix[k] = {pc[0] / pc[2] * own.fx + own.cx, pc[1] / pc[2] * own.fy + own.cy};
        viewPix[k] = {pv[0] / pv[2] * eye.fx + eye.cx, pv[1] / pv[2] * eye.fy + eye.cy};
        usable[k] = finite(camPix[k].x) && finite(camPix[k].y) && finite(viewPix[k].x) && finite(viewPix[k].y);
    }

    const float halfFov = c == kFront  ? frontFov_ / 2.0f * kDegToRad<float>
                          : c == kRear ? rearFov_ / 2.0f * kDegToRad<float>
                                       : kSideHalfFov;
    const float blend = blendWidth_ * kDegToRad<float>;
    const auto& k = cam;
    const float coefficients[5] = {k.k1, k.k2, k.k3, k.k4, k.k5};
    const int sw = sourceWidth_, sh = sourceHeight_;
    MatrixPtr hm(3, 3);
    if (!hm) throw std::bad_alloc();
    auto at = [](int ring, int point) { return ring * kBowlRingPoints + point; };

    // The quads to draw, in drawing order: ring by ring, point by point.
    std::vector<std::array<int, 4>> quads;
    for (int r = 0; r + 1 < kBowlRings; ++r) {
        for (int p = 0; p + 1 < kBowlRingPoints; ++p) {
            if (!ahead[at(r, p)] || (r > 0 && !ahead[at(r - 1, p)]) || !ahead[at(r + 1, p)] || !ahead[at(r, p + 1)] ||
                (p > 0 && !ahead[at(r, p - 1)]))
                continue;
            const std::array<int, 4> corner = {at(r, p), at(r, p + 1), at(r + 1, p + 1), at(r + 1, p)};
            if (!usable[corner[0]] || !usable[corner[1]] || !usable[corner[2]] || !usable[corner[3]]) continue;
            bool inView = false;
            for (int j = 1; j < 4; ++j)
                inView = inView || (within(viewPix[corner[j]].x, width_) && within(viewPix[corner[j]].y, height_));
            if (inView) quads.push_back(corner);
        }
    }

    // A later quad overwrites an earlier one. Drawn from the last back, a pixel is final once a
    // quad wrote its map entry and its weight; earlier quads skip it, and the result is the same.
    enum : uint8_t { kMapDone = 1, kWeightDone = 2 };
    std::vector<uint8_t> done(n, 0);
    for (auto q = quads.rbegin(); q != quads.rend(); ++q) {
        Point2F from[4], to[4];
        float x0 = viewPix[(*q)[0]].x, x1 = x0, y0 = viewPix[(*q)[0]].y, y1 = y0;
        for (int j = 0; j < 4; ++j) {
            from[j] = viewPix[(*q)[j]];
            to[j] = camPix[(*q)[j]];
            x0 = std::min(x0, from[j].x);
            x1 = std::max(x1, from[j].x);
            y0 = std::min(y0, from[j].y);
            y1 = std::max(y1, from[j].y);
        }
        // The quads around the bowl's centre are triangles (their inner corners coincide): they
        // get the affine map of their three corners.
        if (from[2].x == from[3].x && from[2].y == from[3].y) {
            mzGetHomography2D3P(from, to, 3, hm.get());
        } else {
            mzGetHomography2D(from, to, 4, hm.get());
        }
        float h[3][3];
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) h[i][j] = hm[i][j];
        const int colEnd = boxEdge(x1, width_), rowEnd = boxEdge(y1, height_);
        for (int m = boxEdge(y0, height_); m <= rowEnd; ++m) {
            const float fm = static_cast<float>(m);
            for (int l = boxEdge(x0, width_); l <= colEnd; ++l) {
                const std::size_t i = static_cast<std::size_t>(m) * width_ + l;
                if (done[i] == (kMapDone | kWeightDone)) continue;
                const float fl = static_cast<float>(l);
                const float W = h[2][0] * fl + h[2][1] * fm + h[2][2];
                if (!(W > 0.0f)) continue;
                const float X = h[0][0] * fl + h[0][1] * fm + h[0][2];
                const float Y = h[1][0] * fl + h[1][1] * fm + h[1][2];
                const float u = (X / W - own.cx) / own.fx;
                const float v = (Y / W - own.cy) / own.fy;
                const float rho = std::sqrt(u * u + v * v);
                const float theta = std::atan(rho);
                float sx = own.cx, sy = own.cy;
                if (rho > 0.0f) {
                    const float radius = lens::radiusOfAngle(coefficients, theta);
                    sx = u / rho * radius * own.fx + own.cx;
                    sy = v / rho * radius * own.fy + own.cy;
                }
                if (!within(sx, sw) || !within(sy, sh)) continue;
                if (!(done[i] & kMapDone)) {
                    map[2 * i] = sx;
                    map[2 * i + 1] = sy;
                    done[i] |= kMapDone;
                }
                if (!(done[i] & kWeightDone) && theta < halfFov) {
                    weight[i] = blend <= halfFov - theta ? 1.0f : (halfFov - theta) / blend;
                    done[i] |= kWeightDone;
                }
            }
        }
    }
}

}  // namespace mz
