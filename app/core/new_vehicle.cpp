#include "app/core/new_vehicle.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "format/sample_views.h"

namespace mz::core {

namespace {

constexpr const char* kCameraNames[4] = {"front", "rear", "left", "right"};
constexpr uint32_t kBilinear = 0x0001;
constexpr uint32_t kFullTopView = 0x8000;
// The display's stitched views: the full top view lies across the screen, the two beside the
// front and rear camera's view stand upright.
constexpr int kFullSide[2] = {720, 480};
constexpr int kPartSide[2] = {400, 480};

std::string text(const char* format, double a, double b = 0, double c = 0) {
    char line[512];
    std::snprintf(line, sizeof line, format, a, b, c);
    return line;
}

// The floor around the vehicle a stitched view shows: past the triangles, which reach about a
// side's length beyond the vehicle's corners, and never less than two metres.
double floorMargin(const NewVehicle& v) { return std::max(3 * v.markerLength, 2000.0); }

format::ConfigMultiview view(int slot, const char* name, int width, int height, double centreX, double centreY,
                             double mm, uint32_t flags, const NewVehicle& v) {
    format::ConfigMultiview mv;
    mv.type = static_cast<uint8_t>(format::kRecordMultiview0 + slot);
    mv.name = name;
    mv.flags = flags;
    mv.width = width;
    mv.height = height;
    mv.centreX = static_cast<float>(centreX);
    mv.centreY = static_cast<float>(centreY);
    mv.mmPerPixel = static_cast<float>(mm);
    mv.vehicleWidth = v.vehicleWidth;
    mv.vehicleLength = v.vehicleLength;
    mv.markerLength = static_cast<float>(v.markerLength);
    return mv;
}

}  // namespace

std::string newVehicleProblem(const NewVehicle& v) {
    const int w = v.pictureWidth, h = v.pictureHeight;
    if (w < kNewPictureSide[0] || w > kNewPictureSide[1] || h < kNewPictureSide[0] || h > kNewPictureSide[1])
        return text("the picture size %.0f x %.0f is outside %.0f to 4096 pixels a side", w, h, kNewPictureSide[0]);
    for (int i = 0; i < 4; ++i) {
        const ImportedLens& lens = v.lenses[i];
        const std::string where = std::string("the ") + kCameraNames[i] + " lens (" + v.lensFiles[i] + ")";
        if (lens.width != w || lens.height != h) {
            return where + text(" was calibrated on %.0f x %.0f pictures, ", lens.width, lens.height) +
                   text("not on the %.0f x %.0f the cameras deliver: calibrate it at that size", w, h);
        }
        if (lens.maxError > kLensFitLimit) {
            return where + text(": the inverse polynomial c0..c8 misses the lens by %.2f px (at most %.1f px)",
                                lens.maxError, kLensFitLimit);
        }
    }
    if (v.vehicleWidth < kNewVehicleWidth[0] || v.vehicleWidth > kNewVehicleWidth[1])
        return text("the vehicle width %.0f mm is outside %.0f to %.0f mm", v.vehicleWidth, kNewVehicleWidth[0],
                    kNewVehicleWidth[1]);
    if (v.vehicleLength < kNewVehicleLength[0] || v.vehicleLength > kNewVehicleLength[1])
        return text("the vehicle length %.0f mm is outside %.0f to %.0f mm", v.vehicleLength, kNewVehicleLength[0],
                    kNewVehicleLength[1]);
    if (v.vehicleWidth > v.vehicleLength)
        return text("the vehicle is %.0f mm wide and %.0f mm long: width is across, length along (swapped?)",
                    v.vehicleWidth, v.vehicleLength);
    if (!(v.markerLength >= kNewMarkerLength[0] && v.markerLength <= kNewMarkerLength[1]))
        return text("the marker length %.0f mm is outside %.0f to %.0f mm", v.markerLength, kNewMarkerLength[0],
                    kNewMarkerLength[1]);
    if (v.markerLength >= v.vehicleLength)
        return text(
            "the marker length %.0f mm is not shorter than the vehicle (%.0f mm): the triangles' side, not "
            "the distance between them?",
            v.markerLength, v.vehicleLength);
    if (v.model.size() >= static_cast<size_t>(format::kModelNameField))
        return "the model name \"" + v.model + "\" is too long";
    return {};
}

format::ConfigFile newVehicleConfig(const NewVehicle& v) {
    if (const std::string problem = newVehicleProblem(v); !problem.empty()) throw std::invalid_argument(problem);
    format::ConfigFile cfg;
    cfg.model = v.model;
    cfg.parkingGuideLevel = 2;
    for (int i = 0; i < 4; ++i) cfg.cameras.push_back(format::cameraRecordOf(v.lenses[i], i));
    // Whole millimetres a pixel: the full view holds the vehicle and the margin both ways (it
    // lies across the display, so its length runs along the 720 pixels).
    const double margin = floorMargin(v);
    const double full = std::ceil(
        std::max((v.vehicleLength + 2 * margin) / kFullSide[0], (v.vehicleWidth + 2 * margin) / kFullSide[1]));
    // The views beside the front and the rear camera show less floor a little larger; the
    // vehicle takes at most 60 % of either side.
    const double part = std::max({std::round(full * 10 / 7), std::ceil(v.vehicleLength / (0.6 * kPartSide[1])),
                                  std::ceil(v.vehicleWidth / (0.6 * kPartSide[0]))});
    // Twice as much floor ahead of the vehicle as behind it (or the other way for the rear view),
    // the centre on a multiple of 4 pixels as the views place the vehicle.
    const double lengthPx = v.vehicleLength / part;
    const double ahead = (kPartSide[1] - lengthPx) * 2 / 3;
    const double frontCentre = 4 * std::round((ahead + lengthPx / 2) / 4);
    cfg.multiviews.push_back(view(0, "AVM2D_FULL", kFullSide[0], kFullSide[1], kFullSide[0] / 2.0, kFullSide[1] / 2.0,
                                  full, kBilinear | kFullTopView, v));
    cfg.multiviews.push_back(
        view(1, "AVM2D_FRONT", kPartSide[0], kPartSide[1], kPartSide[0] / 2.0, frontCentre, part, kBilinear, v));
    cfg.multiviews.push_back(view(2, "AVM2D_REAR", kPartSide[0], kPartSide[1], kPartSide[0] / 2.0,
                                  kPartSide[1] - frontCentre, part, kBilinear, v));
    cfg.singleviews = format::sampleSingleviews();
    format::numberTables(cfg);
    return cfg;
}

std::vector<std::string> newVehicleNotes(const NewVehicle& v) {
    std::vector<std::string> notes = {
        "Made by calibration-cli config new; config build reads past this list.",
        "Lenses: front " + v.lensFiles[0] + ", rear " + v.lensFiles[1] + ", left " + v.lensFiles[2] + ", right " +
            v.lensFiles[3] + " (as lens import reads them).",
        "Stitched views: AVM2D_FULL (the whole vehicle, front to the left), AVM2D_FRONT and AVM2D_REAR; mmPerPixel "
        "and centreY were chosen for this vehicle and its triangles: change them to show more or less floor.",
        "carImages: \"auto\" draws each view's stitching map at build time from the view's size, scale and the "
        "vehicle's size; seamAngle is the middle of a corner's seam in degrees off the driving axis, blendWidth "
        "the width of the blend around it (0: a hard seam), vehicleColour the body's red, green, blue (1..254). "
        "Give \"file\" instead of \"carImage\" to use a picture of your own.",
        "Single views: the usual six (front, front panorama, rear, rear panorama, left, right) at 720 x 480.",
        "Every field is described in docs/config.md. Next: calibration-cli config build (this file) --out Config.bin",
    };
    return notes;
}

}  // namespace mz::core
