// A small calibration bay made from first principles: floor triangles projected through the
// lens polynomial into four cameras whose poses are known in the solver's own conventions.
#pragma once

#include <array>
#include <cstdint>

#include "mz/mztypes.h"

namespace mztest {

struct TruePose {
    double x, y;     // floor position, mm (x right, y forward)
    double height;   // mm above the floor
    double tilt;     // degrees below the horizon
    double roll;     // degrees, the solver's sense
    double heading;  // degrees counter-clockwise from forward
};

struct SyntheticRigOptions {
    uint32_t seed = 0;  // 0: the nominal rig; otherwise poses jittered by this seed
    int width = 720;
    int height = 480;
    int shape = 0;  // 1 right isosceles
    int markerSize = 1000;
    double halfWidth = 0;   // distance of the triangles' vehicle corners from the middle, mm;
    double halfLength = 0;  // 0: the nominal 950 x 2300, jittered by the seed
};

struct SyntheticRig {
    std::array<CameraParam, 4> cameras{};
    std::array<std::array<Point2F, 6>, 4> image{};
    std::array<std::array<Point2F, 6>, 4> world{};
    std::array<TruePose, 4> truth{};
    // Floor corners of the points each camera sees, in its point order (x right, y forward).
    std::array<std::array<std::array<double, 2>, 6>, 4> floor{};

    SyntheticRig() = default;
    SyntheticRig(const SyntheticRig&) = delete;  // the records point into this object
    SyntheticRig& operator=(const SyntheticRig&) = delete;
};

// Fills rig; every projected corner lies inside the picture and on its own half.
void makeRig(SyntheticRig& rig, const SyntheticRigOptions& options = {});

// Pixel of a floor point (x, y, 0) in camera k of the rig.
Point2F projectFloor(const SyntheticRig& rig, int k, double x, double y);

}  // namespace mztest
