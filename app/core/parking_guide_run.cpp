#include "app/core/parking_guide_run.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "mz/mzview.h"

namespace mz::core {

namespace {

constexpr int kLineDot = 2;
constexpr int kOverlayDot = 10;  // painted lines 10 cm wide
// Colour words of mzDrawLineBresenham: bits 16-23 blue, 8-15 green, 0-7 red.
constexpr uint32_t kSegmentColours[3] = {0x0000FFu, 0x00FFFFu, 0x00FF00u};  // red, yellow, green
constexpr int kMaxViewSide = 4096;

bool missing(const Point2F& p) { return p.x == -1.0f && p.y == -1.0f; }

// Row pointers of a padded 24-bit picture as the image utilities take it.
struct PictureRows {
    ImageBuffer buffer{};
    std::vector<uint8_t*> rows;

    explicit PictureRows(format::Bitmap& image) : rows(static_cast<size_t>(image.height)) {
        for (int y = 0; y < image.height; ++y) rows[y] = image.pixels.data() + static_cast<size_t>(image.stride()) * y;
        buffer.headerSize = 32;
        buffer.channels = 3;
        buffer.width = image.width;
        buffer.height = image.height;
        buffer.stride = image.stride();
        buffer.imageSize = image.stride() * image.height;
        buffer.rows = rows.data();
    }
};

// Joins consecutive points of a segment (`floor` marks the separators): along the right line,
// across its far end (the distance mark) and back along the left line; nearest segment red, then
// yellow, then green.
void drawSegments(format::Bitmap& image, const std::vector<Point2F>& points, const std::vector<Point2F>& floor,
                  int dot) {
    PictureRows rows(image);
    int segment = 0;
    for (size_t i = 0; i + 1 < points.size(); ++i) {
        if (missing(floor[i])) ++segment;
        const Point2F a = points[i], b = points[i + 1];
        if (missing(a) || missing(b)) continue;
        mzDrawLineBresenham(&rows.buffer, static_cast<int>(std::lround(a.x)), static_cast<int>(std::lround(a.y)),
                            static_cast<int>(std::lround(b.x)), static_cast<int>(std::lround(b.y)),
                            kSegmentColours[std::min(segment, 2)], dot);
    }
}

// The first single view of the rear camera that can be shown, or -1.
int rearSingleView(const CalibrationState& state) {
    for (int i = 0; i < state.singleviewCount(); ++i) {
        const SingleviewParam& sv = state.singleviews[i];
        if (sv.camera == &state.cameras[kRear] && state.singleviewHandles[i] != nullptr) return i;
    }
    return -1;
}

std::string singleViewName(const CalibrationState& state, int slot) {
    const int32_t index = singleviewIndex(state.singleviewRaw[slot]);
    if (index >= 0 && index < kSingleviewSlots) return kSingleviewNames[index];
    return singleviewFileName(state.singleviewRaw[slot]);
}

}  // namespace

GuideSettings completeGuideSettings(GuideSettings s, const CalibrationState& state) {
    const MultiviewParam& view = state.multiviews[0];
    if (s.lineSpacing == 0) s.lineSpacing = static_cast<float>(view.vehicleWidth);
    if (s.vehicleLength == 0) s.vehicleLength = view.vehicleLength;
    if (!(s.lineSpacing > 0 && s.lineSpacing < 1e5f)) {
        throw std::runtime_error(
            "the line spacing (the configuration's vehicle width unless given) must be a "
            "positive number of millimetres, not " +
            std::to_string(s.lineSpacing));
    }
    if (s.vehicleLength <= 0 || s.vehicleLength > 100000) {
        throw std::runtime_error(
            "the vehicle length (the configuration's unless given) must be a positive number of "
            "millimetres, not " +
            std::to_string(s.vehicleLength));
    }
    if (!(s.wheelBase > 0 && s.wheelBase < 1e5f)) {
        throw std::runtime_error("the wheel base must be a positive number of millimetres");
    }
    if (s.distances[0] <= 0 || s.distances[1] <= s.distances[0] || s.distances[2] <= s.distances[1]) {
        throw std::runtime_error("the three segment distances must be positive and increasing");
    }
    // Two lines of at least two points per segment, and the two separators.
    if (s.maxPoints < 14 || s.maxPoints > 100000) throw std::runtime_error("the point count must lie in 14..100000");
    return s;
}

GuideLines guideLines(const GuideSettings& s, int steerAngle, CalibratedCamera& camera) {
    PgsParam guide{};
    guide.lineSpacing = s.lineSpacing;
    guide.wheelBase = s.wheelBase;
    guide.steerAngle = steerAngle;
    guide.vehicleLength = s.vehicleLength;
    guide.startOffset = s.startOffset;
    guide.lineShift = s.lineShift;
    guide.maxPoints = s.maxPoints;
    guide.distance1 = s.distances[0];
    guide.distance2 = s.distances[1];
    guide.distance3 = s.distances[2];
    GuideLines out;
    out.steerAngle = steerAngle;
    out.floor.assign(static_cast<size_t>(s.maxPoints), Point2F{-1.0f, -1.0f});
    if (mzGetPGSWorldPoints(&guide, &out.floor[0].x) != 0) {
        throw std::runtime_error("no guide lines for a steering angle of " + std::to_string(steerAngle) +
                                 " degrees with these settings");
    }
    out.floor.resize(static_cast<size_t>(guide.maxPoints));
    out.turnRadius = guide.turnRadius;
    out.segmentPoints = {guide.points1, guide.points2, guide.points3};

    CameraParam cam = camera.record;
    cam.imagePoints = camera.imagePoints.data();
    cam.worldPoints = camera.worldPoints.data();
    cam.pointCount = kPatternPointCount;
    out.picture.assign(out.floor.size(), Point2F{-1.0f, -1.0f});
    if (mzGetPGSWorldToImage(&cam, &out.floor[0].x, &out.picture[0].x, static_cast<int>(out.floor.size())) != 0) {
        throw std::runtime_error("the rear camera has no calibrated floor points to place the guide lines");
    }
    return out;
}

GuidePicture drawGuide(CalibrationState& state, const format::Bitmap& rearPicture, const GuideLines& lines) {
    const CameraParam& rear = state.cameras[kRear];
    if (rearPicture.width != rear.width || rearPicture.height != rear.height || rearPicture.bitsPerPixel != 24) {
        throw std::runtime_error("the rear picture must be a 24-bit bitmap of the rear camera's size, " +
                                 std::to_string(rear.width) + "x" + std::to_string(rear.height));
    }
    GuidePicture out;
    std::vector<Point2F> points = lines.picture;
    const int slot = rearSingleView(state);
    if (slot < 0) {
        out.view = "rear camera";
        out.image = rearPicture;
    } else {
        SingleviewParam& sv = state.singleviews[slot];
        if (sv.width <= 0 || sv.height <= 0 || sv.width > kMaxViewSide || sv.height > kMaxViewSide) {
            throw std::runtime_error("the rear single view " + singleViewName(state, slot) + " has an unusable size " +
                                     std::to_string(sv.width) + "x" + std::to_string(sv.height));
        }
        out.view = singleViewName(state, slot);
        out.image.width = sv.width;
        out.image.height = sv.height;
        out.image.bitsPerPixel = 24;
        out.image.pixels.assign(static_cast<size_t>(out.image.stride()) * sv.height, 0);
        mzSingleviewInit(state.singleviewHandles[slot], &sv);
        mzSingleviewApply(state.singleviewHandles[slot], rearPicture.pixels.data(), out.image.pixels.data());
        for (Point2F& p : points) {
            if (missing(p)) continue;
            const float camera[2] = {p.x, p.y};
            float view[2] = {-1.0f, -1.0f};
            mzGetViewModePoint(camera, view, &sv);
            p = std::isfinite(view[0]) && std::isfinite(view[1]) ? Point2F{view[0], view[1]} : Point2F{-1.0f, -1.0f};
        }
    }
    drawSegments(out.image, points, lines.floor, kLineDot);
    return out;
}

format::Bitmap guideOverlay(const GuideSettings& settings, const GuideLines& lines) {
    constexpr float kScale = kOverlayMmPerPixel;
    constexpr int kMargin = 2 * kOverlayDot;
    const float back = settings.vehicleLength * 0.5f;
    // Overlay pixels about the vehicle's axis first; the picture's size follows from them.
    std::vector<Point2F> points = lines.floor;
    float halfWidth = 0, depth = 0;
    for (Point2F& p : points) {
        if (missing(p)) continue;
        p = {p.x / kScale, (-p.y - back) / kScale};
        halfWidth = std::max(halfWidth, std::fabs(p.x));
        depth = std::max(depth, p.y);
    }
    format::Bitmap image;
    image.width = std::min(2 * (static_cast<int>(std::ceil(halfWidth)) + kMargin), kMaxViewSide);
    image.height = std::min(static_cast<int>(std::ceil(depth)) + kMargin, kMaxViewSide);
    image.bitsPerPixel = 24;
    image.pixels.assign(static_cast<size_t>(image.stride()) * image.height, 0);
    for (size_t i = 0; i < points.size(); ++i) {
        if (!missing(lines.floor[i])) points[i].x += image.width / 2;
    }
    drawSegments(image, points, lines.floor, kOverlayDot);
    return image;
}

}  // namespace mz::core
