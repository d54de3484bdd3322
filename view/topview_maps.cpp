// The top view's coordinate maps (every working pixel through the ground homography and the lens)
// and the pose adjustment that rebuilds them from moved world points.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "geometry/angles.h"
#include "geometry/camera_pose.h"
#include "geometry/lens_model.h"
#include "geometry/map_rows.h"
#include "geometry/matrix.h"
#include "mz/mzview.h"
#include "view/topview_engine.h"
#include "view/two_threads.h"

namespace mz {
namespace {

// The ground point under a picture point for the camera's pose plus delta (in record order),
// through the inverse lens polynomial.
Point2F groundOfPixel(const CameraParam& cam, Point2F pixel, const float* delta) {
    PoseValues<float> moved = poseValues<float>(cam);
    for (int i = 0; i < kPoseSize; ++i) moved[i] += delta[i];
    const auto pose = CameraPose<float>::ofDegrees(moved, [](float deg) { return deg * kDegToRad<float>; });
    const float u = (pixel.x - cam.cx) / cam.fx;
    const float v = (cam.cy - pixel.y) / cam.fy;  // up the picture
    const float theta = lens::angleOfRadius(lens::inverseCoefficients(cam).data(), lens::planeRadius(u, v));
    const float phi = (u == 0.0f && v == 0.0f) ? 0.0f : std::atan2(v, u);
    float ray[3];
    CameraPose<float>::rayOfAngles(theta, phi, ray);
    Point2F ground;
    pose.floorOfRay(ray, ground.x, ground.y);
    return ground;
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
    for (int c = 0; c < kCameraCount; ++c) {
        if (!stale[c]) continue;
        mapCamera_[c] = param.cameras[c];
        mapScale_[c] = param.mmPerPixel;
        mapPending_[c] = true;
    }
    mapKeyValid_.fill(true);
}

void TopView::ensureMaps() {
    std::vector<int> work;
    for (int c = 0; c < kCameraCount; ++c)
        if (mapPending_[c]) work.push_back(c);
    if (work.empty()) return;
    // Every row of a map stands alone: the rows of the pending maps go half to a second thread.
    inTwoHalves(workHeight_, [&](int first, int last) {
        for (const int c : work) buildMapRows(c, first, last);
    });
    mapPending_.fill(false);
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

// Rows first..last-1 of camera c's map: the ground point of every working pixel through the
// homography and the lens, (-1, -1) where it falls outside the picture.
void TopView::buildMapRows(int c, int first, int last) {
    // No estimate yet (a configuration just loaded): every pixel goes to 0 / 0, which lies in no
    // picture. Said at once instead of through the lens, as groundMapRows would say it.
    bool none = true;
    for (const auto& row : homography_[c])
        for (const float v : row) none = none && v == 0.0f;
    if (none) {
        float* const map = maps_[c].data();
        std::fill(map + 2 * static_cast<std::size_t>(first) * workWidth_,
                  map + 2 * static_cast<std::size_t>(last) * workWidth_, -1.0f);
        return;
    }
    GroundMapJob job{};
    for (int r = 0; r < 3; ++r)
        for (int k = 0; k < 3; ++k) job.h[r][k] = homography_[c][r][k];
    job.cam = &mapCamera_[c];
    job.mmPerPixel = mapScale_[c];
    job.ox = ox_;
    job.oy = oy_;
    job.sourceWidth = static_cast<float>(sourceWidth_);
    job.sourceHeight = static_cast<float>(sourceHeight_);
    job.width = workWidth_;
    job.map = maps_[c].data();
    groundMapRows(job, first, last);
}

void TopView::adjustCameraPose(MultiviewParam* param, const float* delta, int camera) {
    if (param == nullptr || param->cameras == nullptr || delta == nullptr || camera < 0 || camera >= kCameraCount ||
        maps_[0].empty())
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
