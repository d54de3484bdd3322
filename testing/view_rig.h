// A small synthetic bay for the view tests: four equidistant fisheye cameras (radius = angle, so
// the forward and inverse lens polynomials are exact inverses) at known poses around a vehicle,
// each with six floor points and their exact pixels. Ground frame of the records: x to the
// vehicle's right, y toward its rear, millimetres.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "mz/mztypes.h"

namespace mztest {

struct ViewRig {
    std::array<CameraParam, 4> cameras{};  // front, rear, left, right
    std::array<std::array<Point2F, 6>, 4> image{};
    std::array<std::array<Point2F, 6>, 4> world{};
    // Floor-to-camera rotation (rows: camera x right, y down, z forward) and position per camera.
    std::array<std::array<std::array<double, 3>, 3>, 4> rotation{};
    std::array<std::array<double, 3>, 4> position{};
    MultiviewParam param{};

    ViewRig() = default;
    ViewRig(const ViewRig&) = delete;
    ViewRig& operator=(const ViewRig&) = delete;
};

// Top view of width x height display pixels at mmPerPixel, vehicle 1800 x 4600 mm at the centre.
std::unique_ptr<ViewRig> makeViewRig(int width, int height, float mmPerPixel, uint32_t flags, int blendMode);

// Pixel of a ground point (record frame); false when it lies behind the camera.
bool projectGround(const ViewRig& rig, int camera, double x, double y, double* px, double* py);

// A 720x480 BGR picture (rows padded to 4 bytes) of deterministic noise.
std::vector<uint8_t> noisePicture(int width, int height, uint32_t seed);

// A look-up table of mzMakeBinView (even field rows first, then the odd field) decoded back into
// source positions; mode as given to the packer. Missing entries come back as (-1, -1).
std::vector<Point2F> decodeLut(const std::vector<uint8_t>& lut, int w, int h, int mode);

}  // namespace mztest
