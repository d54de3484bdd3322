// Small synthetic pictures for the pattern detector: dark triangular frames with light holes,
// drawn through an equidistant fisheye lens whose forward and inverse polynomials agree exactly.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "mz/mztypes.h"
#include "testing/geometry_fixtures.h"

namespace mztest {

struct Pixel {
    double x;
    double y;
};

class FramePicture {
public:
    FramePicture(const CameraParam& camera, uint8_t floor = 170);

    // A frame whose outer corners are the given pixels: its sides are straight on the ideal
    // plane, so curved in the picture. `holeScale` is the light hole's size relative to the
    // frame, about the ideal-plane centroid.
    void drawFrame(const std::array<Pixel, 3>& corners, double holeScale = 0.6, uint8_t dark = 40, uint8_t light = 225);
    // Plain dark filled polygon in pixel space (no lens), for blobs that are not frames.
    void fillRect(int x, int y, int w, int h, uint8_t value);
    void addNoise(uint32_t seed, double sigma);

    const uint8_t* data() const { return bytes_.data(); }
    uint8_t grey(int x, int y) const { return bytes_[3 * (static_cast<size_t>(y) * width_ + x)]; }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    CameraParam camera_;
    int width_;
    int height_;
    std::vector<uint8_t> bytes_;
};

// Ideal-plane point of a pixel and back, in double, with the camera's own formulas.
Pixel toIdeal(const CameraParam& camera, Pixel p);
Pixel toPixel(const CameraParam& camera, Pixel ideal);

// The program's search rectangles: the lower three quarters of each half.
std::array<int32_t, 8> programRectangles(int width, int height);

// A record with its own point arrays, pre-filled with a recognisable value.
struct Record {
    CameraParam camera;
    std::array<Point2F, 6> image;
    std::array<Point2F, 6> world;
    explicit Record(const CameraParam& cam, float fill = -7.0f);
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;
};

double distance(const Point2F& a, const Pixel& b);

}  // namespace mztest
