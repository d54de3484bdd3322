#include "app/core/detection_diagnosis.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

#include "app/core/calibration_state.h"
#include "mz/mzpattern.h"

namespace mz::core {

namespace {

constexpr const char* kCameraWords[kCameraCount] = {"FRONT", "REAR", "LEFT", "RIGHT"};
constexpr const char* kHalfWords[2] = {"left", "right"};
// A half whose median grey lies below this is dim enough that brightening it is a fair test.
constexpr int kDimMedian = 110;
constexpr int kBrightMedian = 170;
// Unsharp masking: the picture plus this many times its difference from a 5 x 5 mean (twice as
// strong as the detector's own second look on a sharpened picture).
constexpr int kSharpenAmount = 4;
constexpr int kSharpenRadius = 2;

struct Area {
    int x0, y0, x1, y1;  // half-open
};

Area areaOf(const std::array<int32_t, 8>& regions, int half, int width, int height) {
    const int32_t* r = &regions[static_cast<size_t>(4 * half)];
    return Area{std::clamp(r[0], 0, width), std::clamp(r[1], 0, height), std::clamp(r[0] + r[2], 0, width),
                std::clamp(r[1] + r[3], 0, height)};
}

// Whether the detector, looking at `half` alone through `regions`, fills that half's points.
bool finds(const std::vector<uint8_t>& pixels, const CameraParam& camera, std::array<int32_t, 8> regions, int half) {
    const int other = 1 - half;
    regions[static_cast<size_t>(4 * other + 2)] = 0;
    regions[static_cast<size_t>(4 * other + 3)] = 0;
    std::array<Point2F, 6> points;
    points.fill(Point2F{-1.0f, -1.0f});
    CameraParam cam = camera;
    cam.imagePoints = points.data();
    cam.pointCount = 0;
    if (mzGetPatternIP(pixels.data(), &cam, regions.data()) != 0) return false;
    return points[static_cast<size_t>(3 * half)].x != -1.0f;
}

int medianGrey(const std::vector<uint8_t>& pixels, int width, const Area& a) {
    std::array<int, 256> histogram{};
    int count = 0;
    for (int y = a.y0; y < a.y1; ++y) {
        for (int x = a.x0; x < a.x1; ++x) {
            const uint8_t* p = &pixels[3 * (static_cast<size_t>(y) * width + x)];
            ++histogram[(p[0] + p[1] + p[2]) / 3];
            ++count;
        }
    }
    int seen = 0;
    for (int v = 0; v < 256; ++v) {
        seen += histogram[static_cast<size_t>(v)];
        if (2 * seen >= count) return v;
    }
    return 255;
}

std::vector<uint8_t> brightened(const std::vector<uint8_t>& pixels, int width, const Area& a, int median) {
    std::vector<uint8_t> out = pixels;
    const int gain = kBrightMedian * 256 / std::max(median, 1);
    for (int y = a.y0; y < a.y1; ++y) {
        for (int x = a.x0; x < a.x1; ++x) {
            for (int c = 0; c < 3; ++c) {
                uint8_t& v = out[3 * (static_cast<size_t>(y) * width + x) + c];
                v = static_cast<uint8_t>(std::min(255, v * gain / 256));
            }
        }
    }
    return out;
}

std::vector<uint8_t> sharpened(const std::vector<uint8_t>& pixels, int width, int height, const Area& a) {
    std::vector<uint8_t> out = pixels;
    for (int y = a.y0; y < a.y1; ++y) {
        for (int x = a.x0; x < a.x1; ++x) {
            for (int c = 0; c < 3; ++c) {
                int sum = 0, n = 0;
                for (int dy = -kSharpenRadius; dy <= kSharpenRadius; ++dy) {
                    for (int dx = -kSharpenRadius; dx <= kSharpenRadius; ++dx) {
                        const int yy = std::clamp(y + dy, 0, height - 1), xx = std::clamp(x + dx, 0, width - 1);
                        sum += pixels[3 * (static_cast<size_t>(yy) * width + xx) + c];
                        ++n;
                    }
                }
                const size_t i = 3 * (static_cast<size_t>(y) * width + x) + c;
                const int v = pixels[i] + kSharpenAmount * (pixels[i] - sum / n);
                out[i] = static_cast<uint8_t>(std::clamp(v, 0, 255));
            }
        }
    }
    return out;
}

LostHalfReason diagnose(const std::vector<uint8_t>& pixels, const CameraParam& camera,
                        const std::array<int32_t, 8>& regions, int half) {
    const int w = camera.width, h = camera.height;
    std::array<int32_t, 8> taller = regions;
    const size_t at = static_cast<size_t>(4 * half);
    taller[at + 3] += taller[at + 1];
    taller[at + 1] = 0;
    if (finds(pixels, camera, taller, half)) return LostHalfReason::kOutsideSearchArea;
    const Area a = areaOf(regions, half, w, h);
    if (a.x1 <= a.x0 || a.y1 <= a.y0) return LostHalfReason::kOutsideSearchArea;
    const int median = medianGrey(pixels, w, a);
    if (median < kDimMedian && finds(brightened(pixels, w, a, median), camera, regions, half)) {
        return LostHalfReason::kTooDark;
    }
    if (finds(sharpened(pixels, w, h, a), camera, regions, half)) return LostHalfReason::kTooBlurred;
    if (median < kDimMedian) return LostHalfReason::kTooDark;
    return LostHalfReason::kNotSeen;
}

}  // namespace

LostHalfReason diagnoseLostHalf(std::span<const uint8_t> pixels, const CameraParam& camera,
                                const std::array<int32_t, 8>& regions, int half) {
    const size_t needed =
        3 * static_cast<size_t>(std::max(camera.width, 0)) * static_cast<size_t>(std::max(camera.height, 0));
    if (pixels.size() < needed || needed == 0) return LostHalfReason::kNotSeen;
    const std::vector<uint8_t> copy(pixels.begin(), pixels.begin() + static_cast<std::ptrdiff_t>(needed));
    LostHalfReason reason = LostHalfReason::kNotSeen;
    try {
        std::thread([&] { reason = diagnose(copy, camera, regions, half); }).join();
    } catch (const std::system_error&) {
        // No thread to spare: better no reason than the detection's draws moved on.
    }
    return reason;
}

std::string lostHalfReasonText(LostHalfReason reason) {
    switch (reason) {
    case LostHalfReason::kOutsideSearchArea:
        return "it reaches outside the search area (above it); turn the camera or move the marker into view";
    case LostHalfReason::kTooDark: return "the picture is too dark there; light the bay better";
    case LostHalfReason::kTooBlurred: return "the picture is too blurred there; focus or clean the lens";
    case LostHalfReason::kNotSeen: break;
    }
    return "no closed frame is seen there; clean or replace the marker, clear what lies on it, or keep glare off it";
}

std::string lostHalfMessage(int camera, int half, LostHalfReason reason) {
    return std::string("Detection found no ") + kHalfWords[half & 1] + " triangle in the " +
           kCameraWords[std::clamp(camera, 0, kCameraCount - 1)] + " camera picture: " + lostHalfReasonText(reason) +
           ".";
}

}  // namespace mz::core
