#include "app/core/marker_editor.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace mz::core {

namespace {

constexpr float kHitRadius = 10.0f;

int hitTest(const Triangle& t, Point2F p) {
    for (int v = 0; v < 3; ++v) {
        if (p.x >= t[v].x - kHitRadius && p.x < t[v].x + kHitRadius && p.y > t[v].y - kHitRadius &&
            p.y <= t[v].y + kHitRadius) {
            return v;
        }
    }
    return -1;
}

// The detector reads rows of exactly 3 x width bytes: the padded rows of a view are handed over
// without their padding, at the size of the camera record (zeros where the picture is smaller).
std::vector<uint8_t> detectorPixels(const format::Bitmap& image, int width, int height) {
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    std::vector<uint8_t> out(rowBytes * height, 0);
    const size_t copy = std::min(rowBytes, static_cast<size_t>(image.width) * 3);
    for (int y = 0; y < std::min(height, image.height); ++y) {
        std::memcpy(out.data() + rowBytes * y, image.row(y), copy);
    }
    return out;
}

}  // namespace

std::array<Point2F, kPatternPointCount> defaultPatternPoints(int camera, int width, int height) {
    const float cx = static_cast<float>(width / 2);
    const float cy = static_cast<float>(height / 2);
    if (camera == kFront || camera == kRear) {
        return {{{cx - 100, cy + 30},
                 {cx - 200, cy + 30},
                 {cx - 150, cy - 30},
                 {cx + 100, cy + 30},
                 {cx + 150, cy - 30},
                 {cx + 200, cy + 30}}};
    }
    return {{{cx - 200, cy},
             {cx - 250, cy - 50},
             {cx - 200, cy - 100},
             {cx + 200, cy},
             {cx + 200, cy - 100},
             {cx + 250, cy - 50}}};
}

std::string lostTriangleNote(int triangle) {
    return std::string(triangle == 0 ? "left" : "right") + " triangle not found: drag its three corners onto the frame";
}

std::string selectedCornerText(const ImageViewState& view) {
    const int t = view.currentTriangle >= 0 ? view.currentTriangle : view.highlightedTriangle;
    const int v = view.currentTriangle >= 0 ? view.selectedVertex : view.highlightedVertex;
    if (t < 0 || t > 1 || v < 0 || v > 2) return {};
    char text[64];
    std::snprintf(text, sizeof text, "corner %d: %.1f, %.1f", 3 * t + v + 1, view.triangles[t][v].x,
                  view.triangles[t][v].y);
    return text;
}

MarkerEditor::MarkerEditor(Ui& ui, CalibrationState& state) : ui_(ui), state_(state) {
    for (int i = 0; i < kCameraCount; ++i) views_[i].caption = kImageCaptions[i];
}

void MarkerEditor::putPointsIntoView(int camera) {
    const auto& p = state_.imagePoints[camera];
    ImageViewState& view = views_[camera];
    view.triangles[0] = {p[0], p[1], p[2]};
    view.triangles[1] = {p[3], p[4], p[5]};
}

void MarkerEditor::resetPatternPoints() {
    std::lock_guard lock(mutex_);
    const CameraParam& front = state_.cameras[kFront];
    for (int c = 0; c < kCameraCount; ++c) {
        const auto points = defaultPatternPoints(c, front.width, front.height);
        std::copy(points.begin(), points.end(), state_.imagePoints[c].begin());
    }
}

void MarkerEditor::setPictures(std::array<format::Bitmap, kCameraCount>&& pictures) {
    std::lock_guard lock(mutex_);
    for (int c = 0; c < kCameraCount; ++c) views_[c].image = std::move(pictures[c]);
}

void MarkerEditor::showPatternPoints() {
    // The lock is let go before each redraw: the window reads the view to draw it.
    for (int c = 0; c < kCameraCount; ++c) {
        {
            std::lock_guard lock(mutex_);
            putPointsIntoView(c);
        }
        ui_.redrawImageView(c);
    }
}

void MarkerEditor::commitMarkers() {
    std::lock_guard lock(mutex_);
    for (int c = 0; c < kCameraCount; ++c) {
        const ImageViewState& view = views_[c];
        for (int t = 0; t < 2; ++t) {
            for (int v = 0; v < 3; ++v) state_.imagePoints[c][3 * t + v] = view.triangles[t][v];
        }
    }
}

void MarkerEditor::withPictures(
    const std::function<void(std::span<const uint8_t>, std::span<const uint8_t>, std::span<const uint8_t>,
                             std::span<const uint8_t>)>& use) const {
    std::lock_guard lock(mutex_);
    use(views_[kFront].image.pixels, views_[kLeft].image.pixels, views_[kRight].image.pixels,
        views_[kRear].image.pixels);
}

DetectorInput MarkerEditor::detectorInput(int c) const {
    std::lock_guard lock(mutex_);
    DetectorInput in;
    in.camera = state_.cameras[c];
    in.imagePoints = state_.imagePoints[c];
    in.worldPoints = state_.worldPoints[c];
    if (in.camera.width > 0 && in.camera.height > 0) {
        in.pixels = detectorPixels(views_[c].image, in.camera.width, in.camera.height);
    }
    return in;
}

void MarkerEditor::takeDetected(int c, const std::array<Point2F, kPatternPointCount>& imagePoints,
                                std::array<bool, 2> found) {
    {
        std::lock_guard lock(mutex_);
        const CameraParam& front = state_.cameras[kFront];
        const auto defaults = defaultPatternPoints(c, front.width, front.height);
        for (int i = 0; i < kPatternPointCount; ++i)
            state_.imagePoints[c][i] = found[i / 3] ? imagePoints[i] : defaults[i];
        state_.cameras[c].pointCount = kPatternPointCount;
        putPointsIntoView(c);
        ImageViewState& view = views_[c];
        view.lost = {!found[0], !found[1]};
        view.placedByHand = {0, 0};
        view.currentTriangle = view.selectedVertex = -1;
        view.highlightedTriangle = view.highlightedVertex = -1;
        view.dragging = false;
    }
    ui_.redrawImageView(c);
}

void MarkerEditor::notePlaced(ImageViewState& view) {
    view.placedByHand[view.currentTriangle] |= static_cast<uint8_t>(1u << view.selectedVertex);
}

void MarkerEditor::pointerDown(int camera, Point2F p) {
    if (camera < 0 || camera >= kCameraCount) return;
    {
        std::lock_guard lock(mutex_);
        ImageViewState& view = views_[camera];
        for (int t = 0; t < 2; ++t) {
            const int v = hitTest(view.triangles[t], p);
            if (v < 0) continue;
            view.currentTriangle = t;
            view.selectedVertex = v;
            view.dragging = true;
            view.grabOffset = {p.x - view.triangles[t][v].x, p.y - view.triangles[t][v].y};
            break;
        }
    }
    ui_.redrawImageView(camera);
}

void MarkerEditor::pointerMove(int camera, Point2F p) {
    if (camera < 0 || camera >= kCameraCount) return;
    {
        std::lock_guard lock(mutex_);
        ImageViewState& view = views_[camera];
        if (view.dragging && view.currentTriangle >= 0 && view.selectedVertex >= 0) {
            view.triangles[view.currentTriangle][view.selectedVertex] = {p.x - view.grabOffset.x,
                                                                         p.y - view.grabOffset.y};
            notePlaced(view);
        } else {
            view.highlightedTriangle = view.highlightedVertex = -1;
            for (int t = 0; t < 2; ++t) {
                const int v = hitTest(view.triangles[t], p);
                if (v < 0) continue;
                view.highlightedTriangle = t;
                view.highlightedVertex = v;
                break;
            }
        }
    }
    ui_.redrawImageView(camera);
}

void MarkerEditor::pointerUp(int camera) {
    if (camera < 0 || camera >= kCameraCount) return;
    {
        std::lock_guard lock(mutex_);
        views_[camera].dragging = false;
    }
    ui_.redrawImageView(camera);
}

void MarkerEditor::arrowKey(int camera, ArrowKey key) {
    if (camera < 0 || camera >= kCameraCount) return;
    {
        std::lock_guard lock(mutex_);
        ImageViewState& view = views_[camera];
        if (view.currentTriangle < 0 || view.selectedVertex < 0) return;
        Triangle moved = view.triangles[view.currentTriangle];
        Point2F& p = moved[view.selectedVertex];
        switch (key) {
        case ArrowKey::kUp: p.y -= 1; break;
        case ArrowKey::kDown: p.y += 1; break;
        case ArrowKey::kLeft: p.x -= 1; break;
        case ArrowKey::kRight: p.x += 1; break;
        }
        const float w = static_cast<float>(view.image.width);
        const float h = static_cast<float>(view.image.height);
        for (const Point2F& q : moved) {
            if (q.x < 0 || q.x > w || q.y < 0 || q.y > h) return;
        }
        view.triangles[view.currentTriangle] = moved;
        notePlaced(view);
    }
    ui_.redrawImageView(camera);
}

ImageViewState MarkerEditor::imageView(int camera) const {
    std::lock_guard lock(mutex_);
    return views_.at(camera);
}

std::array<Point2F, kPatternPointCount> MarkerEditor::patternPoints(int camera) const {
    std::lock_guard lock(mutex_);
    return state_.imagePoints.at(camera);
}

void MarkerEditor::setMarkers(int camera, const std::array<Point2F, kPatternPointCount>& points) {
    if (camera < 0 || camera >= kCameraCount) return;
    {
        std::lock_guard lock(mutex_);
        views_[camera].triangles[0] = {points[0], points[1], points[2]};
        views_[camera].triangles[1] = {points[3], points[4], points[5]};
        views_[camera].placedByHand = {0b111, 0b111};
    }
    ui_.redrawImageView(camera);
}

}  // namespace mz::core
