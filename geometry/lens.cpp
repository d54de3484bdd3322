// The camera record's fisheye model and the mappings between the distorted picture, the ideal
// (pinhole) plane and the ground plane. Single precision throughout: the view tables are built
// from these numbers and the display unit replays them.
#include <cmath>

#include "geometry/lens_model.h"
#include "geometry/matrix.h"
#include "mz/mzgeometry.h"

#ifndef MZ_LIMIT_INCIDENCE_ANGLE
#define MZ_LIMIT_INCIDENCE_ANGLE 1
#endif

void mzGetFOV(const CameraParam* cam, float x, float y, float* angleDeg) {
    if (!cam || !angleDeg) return;
    float u, v, rho;
    const float theta = mz::lens::incidenceAngle(*cam, x, y, u, v, rho);
    *angleDeg = static_cast<float>(theta * 57.29578);
}

void mzFeatureUndistortion(const Point2F* distorted, Point2F* ideal, const CameraParam* cam) {
    if (!distorted || !ideal || !cam) return;
    float u, v, rho;
    float theta = mz::lens::incidenceAngle(*cam, distorted->x, distorted->y, u, v, rho);
#if MZ_LIMIT_INCIDENCE_ANGLE
    if (static_cast<double>(theta) > 4870.1413) theta = 4870.141f;
#endif
    const float r = std::tan(theta) * cam->f;
    if (rho == 0.0f) {
        ideal->x = 0.0f;
        ideal->y = 0.0f;
        return;
    }
    ideal->x = u / rho * r;
    ideal->y = v / rho * r;
}

void mzFeatureDistortion(const Point2F* ideal, Point2F* distorted, const CameraParam* cam) {
    if (!ideal || !distorted || !cam) return;
    mz::lens::pixelOfRay(*cam, ideal->x / cam->f, ideal->y / cam->f, distorted->x, distorted->y);
}

Point3F mzImageToWorld(Point2F pixel, const CameraParam* cam, const Matrix* imageToWorld) {
    Point3F out = {0.0f, 0.0f, 0.0f};
    if (!cam || !imageToWorld || !imageToWorld->data) return out;
    Point2F p;
    mzFeatureUndistortion(&pixel, &p, cam);
    float* const* h = imageToWorld->data;
    const float x = h[0][0] * p.x + h[0][1] * p.y + h[0][2];
    const float y = h[1][0] * p.x + h[1][1] * p.y + h[1][2];
    float w = h[2][0] * p.x + h[2][1] * p.y + h[2][2];
    if (w == 0.0f) w = 1.0f;
    out.x = x / w + cam->originX;
    out.y = y / w + cam->originY;
    return out;
}

Point2F mzWorldToImage(const CameraParam* cam, Point3F world, const Matrix* worldToImage) {
    Point2F out = {-1.0f, -1.0f};
    if (!cam || !worldToImage || !worldToImage->data) return out;
    const float dx = world.x - cam->originX;
    const float dy = world.y - cam->originY;
    float* const* h = worldToImage->data;
    const float a = h[0][0] * dx + h[0][1] * dy + h[0][2];
    const float b = h[1][0] * dx + h[1][1] * dy + h[1][2];
    // z joins the third component unscaled; every caller passes z = 0.
    float w = h[2][0] * dx + h[2][1] * dy + h[2][2] + world.z;
    if (w == 0.0f) w = 1.0f;
    const Point2F ideal = {a / w, b / w};
    mzFeatureDistortion(&ideal, &out, cam);
    return out;
}

void mzWorldToImage2D(const CameraParam* cam, const Point2F* world, Point2F* pixels, int count) {
    if (!cam || !world || !pixels || count <= 0) return;
    // Without at least four point pairs (or without memory for the homography) no pixel can be
    // computed: every pixel is reported missing rather than made up from an unset matrix.
    MatrixPtr h(3, 3);
    const bool usable = h && cam->pointCount >= 4 && cam->imagePoints && cam->worldPoints;
    if (usable) mzGetHomography(h.get(), cam, 0);
    for (int i = 0; i < count; ++i) {
        if (!usable || (world[i].x == -1.0f && world[i].y == -1.0f)) {
            pixels[i].x = -1.0f;
            pixels[i].y = -1.0f;
            continue;
        }
        const Point3F w = {world[i].x, world[i].y, 0.0f};
        pixels[i] = mzWorldToImage(cam, w, h.get());
    }
}
