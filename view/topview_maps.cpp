// The top view's coordinate maps (every working pixel through the ground homography and the lens)
// and the pose adjustment that rebuilds them from moved world points.
#include <cmath>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "geometry/angles.h"
#include "geometry/lens_model.h"
#include "geometry/matrix.h"
#include "mz/mzview.h"
#include "view/topview_engine.h"

namespace mz {
namespace {

struct Ray {
    float x, y, z;
};

// The ground point under a picture point for the camera's pose plus delta (position, height,
// tilt, roll, heading), through the inverse lens polynomial.
Point2F groundOfPixel(const CameraParam& cam, Point2F pixel, const float* delta) {
    const float posX = cam.posX + delta[0], posY = cam.posY + delta[1], height = cam.posZ + delta[2];
    const float tilt = (cam.rotX + delta[3]) * kDegToRad<float>;
    const float roll = (cam.rotZ + delta[4]) * kDegToRad<float>;
    const float heading = (cam.rotY + delta[5]) * kDegToRad<float>;
    const float u = (pixel.x - cam.cx) / cam.fx;
    const float v = (cam.cy - pixel.y) / cam.fy;  // up the picture
    const float theta = lens::angleOfRadius(lens::inverseCoefficients(cam).data(), lens::planeRadius(u, v));
    const float phi = (u == 0.0f && v == 0.0f) ? 0.0f : std::atan2(v, u);
    const Ray ray = {std::cos(phi) * std::sin(theta), std::sin(phi) * std::sin(theta), -std::cos(theta)};
    // Ground in the camera's own frame; a ray that never reaches the ground lands under the
    // camera.
    const float yUp = ray.x * std::sin(roll) + ray.y * std::cos(roll);
    const float xAhead = -ray.z;
    Point2F local = {0.0f, 0.0f};
    const float denominator = std::cos(tilt) * yUp - std::sin(tilt) * xAhead;
    if (tilt - std::atan2(yUp, xAhead) > 0.0f && denominator != 0.0f) {
        const float k = -height / denominator;
        local = {(ray.x * std::cos(roll) - ray.y * std::sin(roll)) * k,
                 (std::sin(tilt) * yUp + std::cos(tilt) * xAhead) * k};
        if (!std::isfinite(local.x) || !std::isfinite(local.y)) local = {0.0f, 0.0f};
    }
    const float c = std::cos(heading), s = std::sin(heading);
    return {posX + local.x * c - local.y * s, posY + local.x * s + local.y * c};
}

}  // namespace

void TopView::buildMaps(const MultiviewParam& param) {
    // Front, left, right, rear: the order in which the homographies have always been built (a
    // failing estimate prints, so the order shows).
    std::array<bool, kCameraCount> stale{};
    for (const int c : {kFront, kLeft, kRight, kRear}) {
        const CameraParam& cam = param.cameras[c];
        MatrixPtr h(3, 3);
        if (!h) throw std::bad_alloc();
        for (int r = 0; r < 3; ++r)
            for (int k = 0; k < 3; ++k) h[r][k] = homography_[c][r][k];
        // A camera without four point pairs keeps its previous matrix (at first all zero,
        // which leaves its map empty).
        mzGetHomography(h.get(), &cam, 0);
        for (int r = 0; r < 3; ++r)
            for (int k = 0; k < 3; ++k) homography_[c][r][k] = h[r][k];
        // A map is a function of its key alone: one whose key has not changed since it was built
        // is kept as it is, and so is the layer made with it.
        const MapKey key = mapKey(c, cam, param.mmPerPixel);
        stale[c] = !mapKeyValid_[c] || key != mapKey_[c];
        mapKey_[c] = key;
    }
    retireMaps(stale);
    std::vector<int> work;
    for (int c = 0; c < kCameraCount; ++c) {
        if (stale[c]) work.push_back(c);
        mapKeyValid_[c] = false;  // until its map is whole
    }
    // The maps of different cameras share nothing: two go side by side on a second thread. Each
    // map is computed exactly as on one thread, so the bytes do not depend on the split.
    const std::size_t half = work.size() / 2;
    std::thread helper;
    if (half > 0) {
        try {
            helper = std::thread([&] {
                for (std::size_t k = 0; k < half; ++k) buildMap(work[k], param.cameras[work[k]], param.mmPerPixel);
            });
        } catch (const std::system_error&) {
            // No thread to be had: this one builds them all.
        }
    }
    for (std::size_t k = helper.joinable() ? half : 0; k < work.size(); ++k)
        buildMap(work[k], param.cameras[work[k]], param.mmPerPixel);
    if (helper.joinable()) helper.join();
    mapKeyValid_.fill(true);
}

TopView::MapKey TopView::mapKey(int c, const CameraParam& cam, float mmPerPixel) const {
    MapKey key{};
    std::size_t n = 0;
    auto put = [&](auto value) { std::memcpy(&key[n++], &value, 4); };
    for (const auto& row : homography_[c])
        for (float v : row) put(v);
    // The lens: focal lengths, principal point and both polynomials (f .. c8, in record order).
    for (const float* v = &cam.f; v <= &cam.c8; ++v) put(*v);
    put(sourceWidth_);
    put(sourceHeight_);
    put(workWidth_);
    put(workHeight_);
    put(ox_);
    put(oy_);
    put(mmPerPixel);
    return key;
}

void TopView::buildMap(int c, const CameraParam& cam, float mmPerPixel) {
    const auto& h = homography_[c];
    const float sw = static_cast<float>(sourceWidth_), sh = static_cast<float>(sourceHeight_);
    float* out = maps_[c].data();
    for (int row = 0; row < workHeight_; ++row) {
        const float Y = (static_cast<float>(row) - oy_) * mmPerPixel;
        for (int col = 0; col < workWidth_; ++col, out += 2) {
            const float X = (static_cast<float>(col) - ox_) * mmPerPixel;
            const float a = h[0][0] * X + h[0][1] * Y + h[0][2];
            const float b = h[1][0] * X + h[1][1] * Y + h[1][2];
            const float w = h[2][0] * X + h[2][1] * Y + h[2][2];
            const float u = a / w / cam.f;
            const float v = b / w / cam.f;
            float x, y;
            lens::pixelOfRay(cam, u, v, x, y);
            if (x >= 0.0f && x < sw && y >= 0.0f && y < sh) {
                out[0] = x;
                out[1] = y;
            } else {
                out[0] = -1.0f;
                out[1] = -1.0f;
            }
        }
    }
}

void TopView::adjustCameraPose(MultiviewParam* param, const float* delta, int camera) {
    if (param == nullptr || param->cameras == nullptr || delta == nullptr || camera < 0 ||
        camera >= kCameraCount || maps_[0].empty())
        return;
    CameraParam& cam = param->cameras[camera];
    if (cam.imagePoints != nullptr && cam.worldPoints != nullptr) {
        for (int i = 0; i < cam.pointCount; ++i) {
            const Point2F g = groundOfPixel(cam, cam.imagePoints[i], delta);
            cam.worldPoints[i] = {g.x, -g.y};
        }
    }
    guarded([&] {
        buildMaps(*param);
        buildPlan();
    });
}

}  // namespace mz
