#include "app/core/bowl_view.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <stdexcept>

#include "geometry/angles.h"
#include "geometry/camera_pose.h"
#include "mz/mzview.h"

namespace mz::core {

namespace {

constexpr const char* kCameraSuffix[kCameraCount] = {"Front.bin", "Rear.bin", "Left.bin", "Right.bin"};

struct RecordPoint {
    double x, y, z;
};

// Vehicle frame (x right, y front, z up, from the vehicle's centre) to the records' ground frame
// (y rear, z down, around the world origin).
RecordPoint toRecord(const VehiclePoint& p, float originX, float originY) {
    return {originX + p.x, originY - p.y, -p.z};
}

// The virtual camera, in the bowl's reading of the pose (geometry/camera_pose.h): R = Rx(-rotX)
// Rz(-rotZ) (rotY 0) turns the ground frame so that the camera looks from `eye` at `target` with
// the picture's rows level; straight down, the vehicle's front is up.
CameraParam virtualCamera(const BowlEye& e, int width, float originX, float originY) {
    const RecordPoint eye = toRecord(e.eye, originX, originY), target = toRecord(e.target, originX, originY);
    double d[3] = {target.x - eye.x, target.y - eye.y, target.z - eye.z};
    const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    if (!(length > 0)) throw std::runtime_error("the eye point and the target are the same point");
    for (double& v : d) v /= length;
    if (!(e.fovDeg > 0 && e.fovDeg < 180))
        throw std::runtime_error("the field of view must lie between 0 and 180 degrees");
    CameraParam cam{};
    cam.posX = static_cast<float>(eye.x);
    cam.posY = static_cast<float>(eye.y);
    cam.posZ = static_cast<float>(eye.z);
    double down = 0, turn = 0;
    eulerOfAxis(d, down, turn);
    cam.rotX = static_cast<float>(degrees(down));
    cam.rotZ = static_cast<float>(degrees(turn));
    cam.rotY = 0;
    cam.fx = cam.fy = static_cast<float>(width / 2.0 / std::tan(radians(e.fovDeg / 2)));
    cam.originX = originX;
    cam.originY = originY;
    return cam;
}

double milliseconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct HandleGuard {
    ViewHandle handle;
    ~HandleGuard() { mzMultiviewRelease(&handle); }
};

}  // namespace

const BowlPreset* findBowlPreset(const std::string& name) {
    for (const BowlPreset& p : kBowlPresets)
        if (name == p.name) return &p;
    return nullptr;
}

BayExtent bayExtent(const CalibrationState& s) {
    const float ox = s.cameras[kFront].originX, oy = s.cameras[kFront].originY;
    BayExtent bay;
    for (int c = 0; c < kCameraCount; ++c)
        for (const Point2F& p : s.worldPoints[c]) {
            if (!std::isfinite(p.x) || !std::isfinite(p.y) || std::abs(p.x) > 1e6 || std::abs(p.y) > 1e6) continue;
            bay.halfWidth = std::max(bay.halfWidth, std::abs(static_cast<double>(p.x - ox)));
            bay.halfLength = std::max(bay.halfLength, std::abs(static_cast<double>(p.y - oy)));
        }
    const MultiviewParam& mv = s.multiviews[0];
    bay.halfWidth = std::max(bay.halfWidth, mv.vehicleWidth / 2.0 + 500);
    bay.halfLength = std::max(bay.halfLength, mv.vehicleLength / 2.0 + 500);
    return bay;
}

BowlShape defaultBowlShape(const BayExtent& bay) {
    // The ellipse through the bay's corners with the bay's proportions has semi-axes sqrt(2) times
    // the half sizes; a tenth more leaves floor around the markers.
    const double floorX = 1.1 * std::sqrt(2.0) * bay.halfWidth, floorY = 1.1 * std::sqrt(2.0) * bay.halfLength;
    BowlShape shape;
    shape.floorY = static_cast<float>(std::round(floorY));
    shape.wallY = 3000;
    shape.wallX = static_cast<float>(std::round(3000 * floorX / floorY));
    shape.height = 2500;
    return shape;
}

BowlEye presetEye(const BowlPreset& preset, const BowlShape& shape) {
    const double floorX = shape.wallY != 0 ? shape.wallX / shape.wallY * shape.floorY : shape.floorY;
    const double floorY = shape.floorY;
    BowlEye e;
    if (preset.overhead) {
        // High enough for the floor's length to fill a 16:9 picture's height at 90 degrees across.
        e.eye = {0, 0, floorY * 16 / 9};
        e.target = {0, 0, 0};
        e.fovDeg = 90;
        return e;
    }
    // Outside the floor's edge and three quarters of its length up, looking down across the
    // vehicle at a point a little beyond its centre: the near markers at the bottom of the picture,
    // the far ones and the wall above the vehicle.
    const double a = radians(preset.azimuthDeg);
    const double sx = std::sin(a), sy = std::cos(a);
    e.eye = {1.15 * floorX * sx, 1.15 * floorY * sy, 0.75 * floorY};
    e.target = {-0.15 * floorX * sx, -0.15 * floorY * sy, 0};
    e.fovDeg = 90;
    return e;
}

BowlRendering renderBowl(const CalibrationState& s, const BowlRequest& r,
                         const std::array<const uint8_t*, kCameraCount>& pictures) {
    if (r.kind != 1 && r.kind != 2) throw std::runtime_error("the bowl view kind is 1 or 2");
    if (r.width < 2 || r.height < 2 || static_cast<long long>(r.width) * r.height > 4096LL * 4096)
        throw std::runtime_error("the view size must lie between 2x2 and 4096x4096 pixels");
    const MultiviewParam& top = s.multiviews[0];
    std::array<CameraParam, kCameraCount + 1> cameras{};
    std::array<std::array<Point2F, kPatternPointCount>, kCameraCount> image = s.imagePoints, world = s.worldPoints;
    for (int c = 0; c < kCameraCount; ++c) {
        cameras[c] = s.cameras[c];
        cameras[c].pointCount = kPatternPointCount;
        cameras[c].imagePoints = image[c].data();
        cameras[c].worldPoints = world[c].data();
    }
    const CameraParam& front = s.cameras[kFront];
    cameras[kCameraCount] = virtualCamera(r.eye, r.width, front.originX, front.originY);

    MultiviewParam mv{};
    mv.flags = top.flags & MZ_MV_BILINEAR;
    mv.vehicleWidth = top.vehicleWidth;
    mv.vehicleLength = top.vehicleLength;
    mv.frontFov = top.frontFov;
    mv.rearFov = top.rearFov;
    mv.blendWidth = top.blendWidth;
    mv.vehicleColour = top.vehicleColour;
    mv.blendMode = 0;  // the stitching map is built from the cameras' weights
    mv.bowlWallX = r.shape.wallX;
    mv.bowlWallY = r.shape.wallY;
    mv.bowlHeight = r.shape.height;
    mv.bowlFloorY = r.shape.floorY;
    mv.width = r.width;
    mv.height = r.height;
    mv.centreX = static_cast<float>(r.width) / 2.0f;
    mv.centreY = static_cast<float>(r.height) / 2.0f;
    mv.cameras = cameras.data();

    HandleGuard view{mzMultiviewCreate(static_cast<unsigned>(r.kind))};
    if (view.handle == nullptr || view.handle->engine == nullptr) throw std::runtime_error("out of memory");
    BowlRendering out;
    const auto init = std::chrono::steady_clock::now();
    const int status = mzMultiviewInit(view.handle, &mv);
    out.initMs = milliseconds(std::chrono::steady_clock::now() - init);
    int lutLength = 0;
    mzMultiviewGetLUTLen(view.handle, &lutLength, 0);
    if (status != 0 || lutLength != r.width * r.height * 4)
        throw std::runtime_error("the bowl view could not be built");

    out.width = r.width;
    out.height = r.height;
    out.picture.assign(static_cast<size_t>(MZ_ROW_STRIDE24(r.width)) * r.height, 0);
    const auto apply = std::chrono::steady_clock::now();
    mzMultiviewApply(view.handle, pictures[kFront], pictures[kLeft], pictures[kRight], pictures[kRear],
                     out.picture.data());
    out.applyMs = milliseconds(std::chrono::steady_clock::now() - apply);

    for (int c = 0; c < kCameraCount; ++c) {
        out.cameras[c] = cameras[c];
        out.cameras[c].imagePoints = out.cameras[c].worldPoints = nullptr;
    }
    if (!r.tables) return out;
    for (int c = 0; c < kCameraCount; ++c) {
        out.luts[c].assign(static_cast<size_t>(lutLength), 0);
        mzMultiviewGetLUT(view.handle, out.luts[c].data(), lutLength, c);
    }
    int maskLength = 0;
    mzMultiviewGetMaskLen(view.handle, &maskLength, kStitchedMaskFormat);
    out.mask.assign(static_cast<size_t>(std::max(maskLength, 0)), 0);
    mzMultiviewGetMask(view.handle, out.mask.data(), maskLength, kStitchedMaskFormat);
    return out;
}

SaveReport writeBowlFiles(format::OutputSet& set, const std::string& name, int32_t firstId,
                          const BowlRendering& rendering, const format::FlashDate& date, int32_t major, int32_t minor) {
    SaveReport report;
    FileSink sink(set, date, major, minor, report);
    sink.makeDirectory("Lut");
    for (int c = 0; c < kCameraCount; ++c) sink.write("Lut", name + kCameraSuffix[c], rendering.luts[c], firstId + c);
    sink.write("Lut", name + "Cmask.bin", rendering.mask, firstId + kCameraCount);
    return report;
}

std::string bowlSetName(const std::string& name) {
    // The set's name goes into file names: a stem that is not plain letters and digits is folded.
    std::string set = "bowl-";
    for (const char c : name) set += std::isalnum(static_cast<unsigned char>(c)) || c == '_' ? c : '-';
    return set;
}

}  // namespace mz::core
