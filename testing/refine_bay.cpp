#include "testing/refine_bay.h"

#include "mz/mzcalib.h"

namespace mz::refine::test {

Bay::Bay(uint64_t seed, int width, int height) {
    sim::RigOptions options;
    options.seed = seed;
    options.width = width;
    options.height = height;
    rig = sim::drawRig(options);
    for (int k = 0; k < 4; ++k) {
        CameraParam& c = cams[k];
        c = sim::cameraRecord(rig.cameras[k]);
        c.markerLength = static_cast<int32_t>(rig.options.markerLength);
        c.pointCount = 6;
        c.imagePoints = image[k].data();
        c.worldPoints = world[k].data();
        const sim::CameraPoints points = sim::cameraPoints(rig, k);
        for (int i = 0; i < 6; ++i) image[k][i] = {float(points.image[i].x), float(points.image[i].y)};
    }
}

std::array<double, kPoseSize> Bay::truePose(int k) const {
    const sim::Camera& t = rig.cameras[k];
    return {t.position.x, t.position.y, t.position.z, t.tiltDeg, -t.rollDeg, -t.headingDeg};
}

int32_t Bay::calibrate() {
    CalibHandle* h = mzMultiCalibCreate(0);
    mzMultiCalibInit(h, 0, static_cast<int32_t>(rig.options.markerLength), 0);
    const int32_t result = mzMultiCalibApply(h, cams.data(), nullptr);
    mzMultiCalibRelease(&h);
    return result;
}

}  // namespace mz::refine::test
