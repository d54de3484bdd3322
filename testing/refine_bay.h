// A simulated bay as the workflow holds it: camera records with the true corners, for the
// refinement's tests and benchmark.
#pragma once

#include <array>
#include <cstdint>

#include "mz/mztypes.h"
#include "refine/fisheye.h"
#include "sim/rig.h"

namespace mz::refine::test {

struct Bay {
    sim::Rig rig;
    std::array<CameraParam, 4> cams{};
    std::array<std::array<Point2F, 6>, 4> image{};
    std::array<std::array<Point2F, 6>, 4> world{};

    explicit Bay(uint64_t seed, int width = 720, int height = 480);
    Bay(const Bay&) = delete;
    Bay& operator=(const Bay&) = delete;

    // The record's pose of the true camera: heading counted the other way round, and roll too.
    std::array<double, kPoseSize> truePose(int camera) const;
    // The calibration library's solution from the image points; its result.
    int32_t calibrate();
};

}  // namespace mz::refine::test
