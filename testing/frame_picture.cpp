#include "testing/frame_picture.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace mztest {

Pixel toIdeal(const CameraParam& cam, Pixel p) {
    const double u = (p.x - cam.cx) / cam.fx;
    const double v = (p.y - cam.cy) / cam.fy;
    const double rho = std::hypot(u, v);
    if (rho == 0.0) return {0.0, 0.0};
    const double r = std::tan(rho) * cam.f;
    return {u / rho * r, v / rho * r};
}

Pixel toPixel(const CameraParam& cam, Pixel ideal) {
    const double u = ideal.x / cam.f;
    const double v = ideal.y / cam.f;
    const double r = std::hypot(u, v);
    if (r == 0.0) return {cam.cx, cam.cy};
    const double s = std::atan(r) / r;
    return {s * u * cam.fx + cam.cx, s * v * cam.fy + cam.cy};
}

FramePicture::FramePicture(const CameraParam& camera, uint8_t floor)
    : camera_(camera), width_(camera.width), height_(camera.height),
      bytes_(static_cast<size_t>(camera.width) * camera.height * 3, floor) {}

namespace {

bool insideTriangle(const std::array<Pixel, 3>& t, Pixel p) {
    double sign = 0.0;
    for (int i = 0; i < 3; ++i) {
        const Pixel& a = t[i];
        const Pixel& b = t[(i + 1) % 3];
        const double c = (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
        if (c == 0.0) continue;
        if (sign == 0.0) sign = c;
        else if ((c > 0) != (sign > 0)) return false;
    }
    return true;
}

}  // namespace

void FramePicture::drawFrame(const std::array<Pixel, 3>& corners, double holeScale, uint8_t dark, uint8_t light) {
    std::array<Pixel, 3> outer, inner;
    for (int i = 0; i < 3; ++i) outer[i] = toIdeal(camera_, corners[i]);
    const Pixel c{(outer[0].x + outer[1].x + outer[2].x) / 3, (outer[0].y + outer[1].y + outer[2].y) / 3};
    for (int i = 0; i < 3; ++i) {
        inner[i] = {c.x + holeScale * (outer[i].x - c.x), c.y + holeScale * (outer[i].y - c.y)};
    }
    double x0 = width_, y0 = height_, x1 = 0, y1 = 0;
    for (const Pixel& p : corners) {
        x0 = std::min(x0, p.x), y0 = std::min(y0, p.y), x1 = std::max(x1, p.x), y1 = std::max(y1, p.y);
    }
    // Sides bow outward a little in the picture; a margin covers it.
    const int bx0 = std::max(0, static_cast<int>(x0) - 20), by0 = std::max(0, static_cast<int>(y0) - 20);
    const int bx1 = std::min(width_ - 1, static_cast<int>(x1) + 20),
              by1 = std::min(height_ - 1, static_cast<int>(y1) + 20);
    constexpr int kSub = 4;
    for (int y = by0; y <= by1; ++y) {
        for (int x = bx0; x <= bx1; ++x) {
            uint8_t* px = &bytes_[3 * (static_cast<size_t>(y) * width_ + x)];
            double acc = 0.0;
            int touched = 0;
            for (int sy = 0; sy < kSub; ++sy) {
                for (int sx = 0; sx < kSub; ++sx) {
                    // Pixel centres sit at whole coordinates.
                    const Pixel sub{x - 0.5 + (sx + 0.5) / kSub, y - 0.5 + (sy + 0.5) / kSub};
                    const Pixel ideal = toIdeal(camera_, sub);
                    double value = px[0];
                    if (insideTriangle(outer, ideal)) {
                        value = insideTriangle(inner, ideal) ? light : dark;
                        ++touched;
                    }
                    acc += value;
                }
            }
            if (touched > 0) {
                const auto v = static_cast<uint8_t>(std::lround(acc / (kSub * kSub)));
                px[0] = px[1] = px[2] = v;
            }
        }
    }
}

void FramePicture::fillRect(int x, int y, int w, int h, uint8_t value) {
    for (int r = y; r < y + h; ++r) {
        for (int c = x; c < x + w; ++c) {
            uint8_t* px = &bytes_[3 * (static_cast<size_t>(r) * width_ + c)];
            px[0] = px[1] = px[2] = value;
        }
    }
}

void FramePicture::addNoise(uint32_t seed, double sigma) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, sigma);
    for (uint8_t& b : bytes_) {
        b = static_cast<uint8_t>(std::clamp(std::lround(b + noise(rng)), 0L, 255L));
    }
}

std::array<int32_t, 8> programRectangles(int w, int h) {
    return {0, h / 4, w / 2, h - h / 4, w / 2, h / 4, w - w / 2, h - h / 4};
}

Record::Record(const CameraParam& cam, float fill) : camera(cam) {
    image.fill(Point2F{fill, fill});
    world.fill(Point2F{fill, fill});
    camera.pointCount = 0;
    camera.imagePoints = image.data();
    camera.worldPoints = world.data();
}

double distance(const Point2F& a, const Pixel& b) { return std::hypot(a.x - b.x, a.y - b.y); }

}  // namespace mztest
