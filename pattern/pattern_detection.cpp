#include "pattern/pattern_detection.h"

#include <algorithm>
#include <limits>
#include <new>
#include <stdexcept>

#include "mz/mzpattern.h"
#include "pattern/binarize.h"
#include "pattern/frame_isolation.h"
#include "pattern/frame_match.h"
#include "pattern/labelling.h"

namespace mz::pattern {

SearchRect clipToPicture(const SearchRect& rect, int width, int height) {
    const auto clip = [](int64_t start, int64_t size, int limit, int& outStart, int& outSize) {
        const int64_t lo = std::clamp<int64_t>(start, 0, limit);
        const int64_t hi = size > 0 ? std::clamp<int64_t>(start + size, 0, limit) : lo;
        outStart = static_cast<int>(lo);
        outSize = static_cast<int>(std::max<int64_t>(hi - lo, 0));
    };
    SearchRect out;
    clip(rect.x, rect.width, width, out.x, out.width);
    clip(rect.y, rect.height, height, out.y, out.height);
    if (out.width == 0 || out.height == 0) {
        return SearchRect{};
    }
    return out;
}

GreyImage binarizeRegions(const GreyImage& grey, const SearchRect& left, const SearchRect& right) {
    GreyImage binary(grey.width, grey.height, 255);
    for (const SearchRect& r : {left, right}) {
        if (r.width == 0 || r.height == 0) {
            continue;
        }
        GreyImage dark = thresholdLocalMean(grey.crop(r.x, r.y, r.width, r.height));
        cleanBorder(dark);
        binary.paste(dark, r.x, r.y);
    }
    return binary;
}

SearchRect candidateWindow(int x, int y, int w, int h, int halfWidth, int height) {
    SearchRect win;
    win.x = std::max(x - 10, 0);
    win.y = std::max(y - 10, 0);
    win.width = win.x + w + 20 < halfWidth ? w + 20 : 2 * w + 30 - halfWidth + win.x;
    win.height = win.y + h + 20 < height ? h + 20 : 2 * h + 30 - height + win.y;
    win.width = std::min(win.width, halfWidth - win.x);
    win.height = std::min(win.height, height - win.y);
    return win;
}

namespace {

int fraction(float share, int size) { return static_cast<int>(share * static_cast<float>(size)); }

bool keepsFrame(const ComponentBox& inner, int w, int h) {
    return inner.x >= 3 && inner.y >= 3 && w - inner.width - inner.x >= 3 && h - inner.height - inner.y >= 3;
}

// A frame qualifies when a light hole is large (over 40 % of the box both ways) and clear of the
// box edges. The light floor around a triangle's slanted sides also forms large components inside
// the box, but they touch its edges.
bool hasLightHole(const GreyImage& half, const ComponentBox& box) {
    GreyImage inner = half.crop(box.x, box.y, box.width, box.height);
    for (uint8_t& p : inner.pixels) {
        p = p != 255 ? 255 : 0;
    }
    const int w = box.width;
    const int h = box.height;
    for (const Component& c : labelComponents(inner, 25)) {
        const ComponentBox& b = c.box;
        if (!(b.width > fraction(0.4f, w) && b.height > fraction(0.4f, h))) continue;
        if (!(b.width < fraction(0.98f, w) && b.height < fraction(0.98f, h))) continue;
        if (keepsFrame(b, w, h)) return true;
    }
    return false;
}

}  // namespace

namespace {

// The candidate's pixels (those equal to `value` in `image`) inside its window, 255 on 0.
GreyImage candidateMask(const GreyImage& image, uint8_t value, const SearchRect& win) {
    GreyImage mask(win.width, win.height, 0);
    for (int r = 0; r < win.height; ++r) {
        const uint8_t* src = image.row(win.y + r) + win.x;
        uint8_t* dst = mask.row(r);
        for (int col = 0; col < win.width; ++col) {
            dst[col] = src[col] == value ? 255 : 0;
        }
    }
    return mask;
}

// The candidate's mask, fitted. A candidate whose sides cannot be found leaves (0, 0) corners,
// which the check rejects.
Corners fitCandidate(const GreyImage& image, uint8_t value, const SearchRect& win, int xo, const CameraParam& camera) {
    return fitTriangleCorners(candidateMask(image, value, win), win.x, win.y, xo, camera).value_or(Corners{});
}

Corners inHalf(Corners corners, int xo) {
    for (Point2F& p : corners) p.x -= static_cast<float>(xo);
    return corners;
}

// Sides tried for a candidate whose strongest three do not make its triangle: its three, the two
// edges of what lies along or across it, and one to spare.
constexpr int kMostSides = 6;

bool plausibleSize(const ComponentBox& b, int hw, int h) {
    return b.width > fraction(0.05f, hw) && b.height > fraction(0.05f, h) && b.width < fraction(0.98f, hw) &&
           b.height < fraction(0.98f, h);
}

// Second look at a half whose frames all failed: each component freed from what joins it from
// outside (a cable, a shadow's rim), then judged and fitted as a frame is. The line search's
// draws are put back afterwards, so what the other halves and cameras get does not depend on
// whether this one needed a second look.
HalfResult searchIsolatedFrames(const GreyImage& labels, const std::vector<Component>& components, int xo,
                                const CameraParam& camera) {
    const int hw = labels.width;
    const int h = labels.height;
    const uint32_t draws = generatorState();
    HalfResult result;
    float best = 0.0f;
    for (const Component& c : components) {
        if (!plausibleSize(c.box, hw, h)) continue;
        const GreyImage frame = isolateFrame(labels, c);
        if (frame.width == 0) continue;
        const ComponentBox b = foregroundBox(frame);
        if (!plausibleSize(b, hw, h) || !hasLightHole(frame, b)) continue;
        const SearchRect win = candidateWindow(b.x, b.y, b.width, b.height, hw, h);
        const float area = static_cast<float>(win.width) * static_cast<float>(win.height);
        if (!(area > best)) continue;
        const Corners corners = fitCandidate(frame, 255, win, xo, camera);
        if (!isTriangle(corners, camera.width, camera.height)) continue;
        if (!coversFrame(frame, b, inHalf(corners, xo))) continue;
        best = area;
        result.corners = corners;
        result.found = true;
    }
    setGeneratorState(draws);
    return result;
}

// The candidate's triangle, of those three of its strongest sides make, that best matches the
// candidate with its hole, when one matches.
HalfResult bestChoice(const GreyImage& labels, const Component& candidate, const GreyImage& frame,
                      const SearchRect& win, int xo, const CameraParam& camera) {
    HalfResult result;
    float best = std::numeric_limits<float>::infinity();
    const GreyImage mask = candidateMask(labels, candidate.label, win);
    for (const Corners& corners : triangleChoices(mask, win.x, win.y, xo, camera, kMostSides)) {
        if (!isTriangle(corners, camera.width, camera.height)) continue;
        const FrameMatch m = matchFrame(frame, candidate.box, curvedTriangle(corners, xo, camera));
        if (!matches(m) || !(m.gap < best)) continue;
        best = m.gap;
        result.corners = corners;
        result.found = true;
    }
    return result;
}

}  // namespace

HalfResult searchHalf(const GreyImage& half, int xo, const CameraParam& camera) {
    const int hw = half.width;
    const int h = half.height;
    GreyImage labels = half;
    const std::vector<Component> components = labelComponents(labels, 50);

    HalfResult result;
    float best = 0.0f;
    const Component* chosen = nullptr;
    SearchRect chosenWindow;
    for (const Component& c : components) {
        const ComponentBox& b = c.box;
        if (!plausibleSize(b, hw, h)) continue;
        if (!hasLightHole(half, b)) continue;

        const SearchRect win = candidateWindow(b.x, b.y, b.width, b.height, hw, h);
        const float area = static_cast<float>(win.width) * static_cast<float>(win.height);
        if (!(area > best)) continue;
        best = area;
        result.corners = fitCandidate(labels, c.label, win, xo, camera);
        chosen = &c;
        chosenWindow = win;
    }
    result.found = chosen != nullptr && isTriangle(result.corners, camera.width, camera.height);
    // A triangle a cable or a shadow's rim dragged off its frame is no find.
    bool dragged = false;
    GreyImage frame;
    if (result.found) {
        frame = filledComponent(labels, *chosen);
        const FrameMatch m = matchFrame(frame, chosen->box, curvedTriangle(result.corners, xo, camera));
        dragged = frame.width != 0 && !matches(m);
        result.found = !dragged;
    }
    if (!result.found) {
        // The other looks' draws are put back, as in searchIsolatedFrames.
        const uint32_t draws = generatorState();
        HalfResult other;
        if (dragged) other = bestChoice(labels, *chosen, frame, chosenWindow, xo, camera);
        if (!other.found) other = searchIsolatedFrames(labels, components, xo, camera);
        setGeneratorState(draws);
        if (other.found) return other;
    }
    return result;
}

Point2F limitToPicture(const Point2F& p, int width, int height) {
    const auto limit = [](float v, int size) {
        return std::max(kStoreMargin, std::min(v, static_cast<float>(size) - kStoreMargin));
    };
    return Point2F{limit(p.x, width), limit(p.y, height)};
}

namespace {

int32_t detect(const uint8_t* picture, CameraParam& camera, const int32_t* rectangles) {
    const int w = camera.width;
    const int h = camera.height;
    const SearchRect left = clipToPicture({rectangles[0], rectangles[1], rectangles[2], rectangles[3]}, w, h);
    const SearchRect right = clipToPicture({rectangles[4], rectangles[5], rectangles[6], rectangles[7]}, w, h);

    // The caller's picture is only read, so the grey image stands in for the working copy.
    const GreyImage grey = toGrey(picture, w, h);
    const GreyImage binary = binarizeRegions(grey, left, right);
    const int hw = w / 2;
    HalfResult halves[2];
    GreyImage smoothedBinary, sharpenedBinary;
    for (int i = 0; i < 2; ++i) {
        const int xo = i * hw;
        halves[i] = searchHalf(binary.crop(xo, 0, hw, h), xo, camera);
        // A faint band broken up by noise, then one the lens softened: once more on the smoothed
        // and on the sharpened picture, the line search's draws put back as in searchHalf.
        if (!halves[i].found) {
            const uint32_t draws = generatorState();
            if (smoothedBinary.width == 0) smoothedBinary = binarizeRegions(boxSmoothed(grey), left, right);
            halves[i] = searchHalf(smoothedBinary.crop(xo, 0, hw, h), xo, camera);
            if (!halves[i].found) {
                if (sharpenedBinary.width == 0) sharpenedBinary = binarizeRegions(unsharpened(grey), left, right);
                halves[i] = searchHalf(sharpenedBinary.crop(xo, 0, hw, h), xo, camera);
            }
            setGeneratorState(draws);
        }
        if (halves[i].found) {
            orderCorners(halves[i].corners);
        }
    }
    if (!halves[0].found && !halves[1].found) {
        return -1;
    }
    for (int i = 0; i < 2; ++i) {
        if (!halves[i].found) continue;
        for (int k = 0; k < 3; ++k) {
            camera.imagePoints[3 * i + k] = limitToPicture(halves[i].corners[static_cast<size_t>(k)], w, h);
        }
    }
    camera.pointCount = 6;
    return 0;
}

}  // namespace

}  // namespace mz::pattern

extern "C" MZ_API int32_t mzGetPatternIP(const uint8_t* picture, CameraParam* camera, const int32_t* rectangles) {
    if (picture == nullptr || camera == nullptr || rectangles == nullptr || camera->imagePoints == nullptr) {
        return -5;
    }
    if (camera->width <= 0 || camera->height <= 0) {
        return -1;
    }
    // Every working buffer is taken before the record is written, so running out of memory
    // anywhere leaves the record as it was.
    try {
        return mz::pattern::detect(picture, *camera, rectangles);
    } catch (const std::bad_alloc&) {
        return -1;
    } catch (const std::length_error&) {
        return -1;
    }
}
