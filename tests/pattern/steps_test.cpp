// Internal steps of the detector: threshold, border cleaning, labelling, half search, the
// window rule, clipping and the stored-coordinate margin.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <random>

#include "pattern/binarize.h"
#include "pattern/corner_fitting.h"
#include "pattern/frame_isolation.h"
#include "pattern/frame_match.h"
#include "pattern/labelling.h"
#include "pattern/pattern_detection.h"
#include "testing/frame_picture.h"

namespace mz::pattern {
namespace {

// The window rule written out pixel by pixel, as a reference for the integral-image version.
GreyImage referenceThreshold(const GreyImage& crop) {
    const int w = crop.width, h = crop.height, t = w / 20;
    GreyImage out(w, h, 0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int r0 = y < t ? 0 : y - t + 1;
            const int r1 = std::min(y + t, h - 1);
            const int c0 = std::max(y < t ? x - t : x - t + 1, 0);
            const int c1 = std::min(x + t, w - 1);
            long sum = 0, count = 0;
            for (int r = r0; r <= r1; ++r) {
                for (int c = c0; c <= c1; ++c) sum += crop.at(c, r), ++count;
            }
            const float mean = static_cast<float>(sum) / static_cast<float>(count);
            out.at(x, y) = mean - 10.0f >= crop.at(x, y) ? 255 : 0;
        }
    }
    return out;
}

TEST(Threshold, MatchesTheWindowRuleIncludingTheWiderTopRows) {
    // Small enough that the single-precision integral image stays exact.
    GreyImage crop(83, 41);
    std::mt19937 rng(7);
    for (uint8_t& p : crop.pixels) p = static_cast<uint8_t>(100 + rng() % 40);
    const GreyImage got = thresholdLocalMean(crop);
    EXPECT_EQ(got.pixels, referenceThreshold(crop).pixels);
    EXPECT_GT(std::count(got.pixels.begin(), got.pixels.end(), 255), 100);
}

TEST(Threshold, NarrowCropHasNoDarkPixel) {
    GreyImage crop(19, 30, 200);
    crop.at(9, 15) = 0;
    const GreyImage got = thresholdLocalMean(crop);
    EXPECT_EQ(std::count(got.pixels.begin(), got.pixels.end(), 255), 0);
}

TEST(BorderCleaning, RemovesBlobsTouchingTheEdgeAndKeepsInnerOnes) {
    GreyImage img(60, 40, 0);
    for (int y = 0; y < 30; ++y)  // touches the top edge at one column only
        for (int x = 5; x < 25; ++x) img.at(x, y) = y == 0 && x != 10 ? 0 : 255;
    for (int y = 10; y < 20; ++y)
        for (int x = 35; x < 50; ++x) img.at(x, y) = 255;
    cleanBorder(img);
    EXPECT_EQ(img.at(15, 20), 0);
    EXPECT_EQ(img.at(40, 15), 255);
}

TEST(BorderCleaning, StopsAfterTwentyRounds) {
    // A staircase climbing up and to the right from the left edge: each step needs a forward
    // sweep (to the right) and a backward sweep (upward), so 30 steps outlast 20 rounds.
    GreyImage img(100, 100, 0);
    int x = 0, y = 95;
    for (int step = 0; step < 30; ++step) {
        for (int i = 0; i < 3; ++i) img.at(x++, y) = 255;
        for (int i = 0; i < 3; ++i) img.at(x, y--) = 255;
    }
    img.at(x, y) = 255;
    cleanBorder(img);
    EXPECT_EQ(img.at(1, 95), 0);
    EXPECT_EQ(img.at(x, y), 255);
}

TEST(Labelling, AreaUsesHalfOpenExtentsAndLabelsAreReused) {
    GreyImage img(100, 50, 0);
    for (int x = 10; x < 70; ++x) img.at(x, 3) = 255;  // 60 pixels in one row: counts 0
    for (int y = 20; y < 30; ++y)
        for (int x = 20; x < 30; ++x) img.at(x, y) = 255;  // 10 x 10: counts 9 x 9 = 81
    for (int y = 20; y < 27; ++y)
        for (int x = 50; x < 57; ++x) img.at(x, y) = 255;  // 7 x 7: counts 36 < 50
    const auto comps = labelComponents(img, 50);
    ASSERT_EQ(comps.size(), 1u);
    EXPECT_EQ(comps[0].label, 1);
    EXPECT_EQ(comps[0].box.x, 20);
    EXPECT_EQ(comps[0].box.y, 20);
    EXPECT_EQ(comps[0].box.width, 9);
    EXPECT_EQ(comps[0].box.height, 9);
    EXPECT_EQ(img.at(10, 3), 0);
    EXPECT_EQ(img.at(52, 22), 0);
    EXPECT_EQ(img.at(25, 25), 1);
}

TEST(Labelling, BoxComesFromInteriorPixelsOnly) {
    GreyImage img(40, 40, 0);
    for (int i = 0; i < 30; ++i) img.at(i, 0) = img.at(i, 1) = img.at(0, i) = 255;
    const auto comps = labelComponents(img, 10);
    ASSERT_EQ(comps.size(), 1u);
    EXPECT_EQ(comps[0].box.x, 1);
    EXPECT_EQ(comps[0].box.y, 1);
    EXPECT_EQ(comps[0].box.width, 28);
    EXPECT_EQ(comps[0].box.height, 0);

    GreyImage edge(40, 40, 0);
    for (int i = 0; i < 30; ++i) edge.at(i, 0) = edge.at(0, i) = 255;
    const auto onFrame = labelComponents(edge, 10);
    ASSERT_EQ(onFrame.size(), 1u);
    EXPECT_EQ(onFrame[0].box.x + onFrame[0].box.y + onFrame[0].box.width + onFrame[0].box.height, 0);
}

GreyImage squares(int count) {
    GreyImage img(16 * 4 * 4, 16 * 4 * 4, 0);
    for (int i = 0; i < count; ++i) {
        const int bx = (i % 64) * 4, by = (i / 64) * 4 + 1;
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 3; ++x) img.at(bx + x, by + y) = 255;
    }
    return img;
}

TEST(Labelling, MoreThan250ComponentsYieldNone) {
    GreyImage ok = squares(250);
    EXPECT_EQ(labelComponents(ok, 4).size(), 250u);
    GreyImage tooMany = squares(251);
    EXPECT_TRUE(labelComponents(tooMany, 4).empty());
}

TEST(Window, NeverPassesTheHalf) {
    const SearchRect inside = candidateWindow(100, 100, 50, 40, 360, 480);
    EXPECT_EQ(inside.x, 90);
    EXPECT_EQ(inside.y, 90);
    EXPECT_EQ(inside.width, 70);
    EXPECT_EQ(inside.height, 60);
    const SearchRect corner = candidateWindow(5, 3, 50, 40, 360, 480);
    EXPECT_EQ(corner.x, 0);
    EXPECT_EQ(corner.y, 0);
    for (int x = 280; x < 310; ++x) {
        for (int y = 420; y < 440; ++y) {
            const SearchRect r = candidateWindow(x, y, 358 - x, 478 - y, 360, 480);
            EXPECT_LE(r.x + r.width, 360);
            EXPECT_LE(r.y + r.height, 480);
            EXPECT_GT(r.width, 358 - x);
            EXPECT_GT(r.height, 478 - y);
        }
    }
}

TEST(Clipping, RectanglesAreClippedToThePicture) {
    const SearchRect a = clipToPicture({-20, 100, 400, 500}, 720, 480);
    EXPECT_EQ(a.x, 0);
    EXPECT_EQ(a.y, 100);
    EXPECT_EQ(a.width, 380);
    EXPECT_EQ(a.height, 380);
    const SearchRect outside = clipToPicture({800, 0, 100, 100}, 720, 480);
    EXPECT_EQ(outside.width * outside.height, 0);
    const SearchRect negative = clipToPicture({10, 10, -5, 100}, 720, 480);
    EXPECT_EQ(negative.width, 0);
    const SearchRect huge = clipToPicture({INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX}, 720, 480);
    EXPECT_EQ(huge.width, 0);
    const SearchRect all = clipToPicture({INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, 720, 480);
    EXPECT_EQ(all.width, 0);  // ends at -1
}

TEST(Binarize, OutsideTheRectanglesIsForegroundAndTheRightRectangleWins) {
    GreyImage grey(300, 60, 200);
    for (int y = 30; y < 40; ++y)
        for (int x = 40; x < 50; ++x) grey.at(x, y) = 50;
    // The left rectangle sees the dark square whole; the right one cuts it at its edge.
    const GreyImage b = binarizeRegions(grey, {0, 20, 160, 40}, {45, 20, 255, 40});
    EXPECT_EQ(b.at(5, 5), 255);
    EXPECT_EQ(b.at(42, 35), 255);  // left result, outside the right rectangle
    EXPECT_EQ(b.at(47, 35), 0);    // the right rectangle removed the blob touching its edge
    EXPECT_EQ(b.at(70, 35), 0);
}

using mztest::FramePicture;
using mztest::Pixel;

GreyImage binaryLeftHalf(const FramePicture& pic) {
    const int w = pic.width(), h = pic.height();
    GreyImage grey(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) grey.at(x, y) = pic.grey(x, y);
    const auto r = mztest::programRectangles(w, h);
    return binarizeRegions(grey, {r[0], r[1], r[2], r[3]}, {r[4], r[5], r[6], r[7]}).crop(0, 0, w / 2, h);
}

TEST(HalfSearch, OfEqualWindowsTheLowerLabelWins) {
    const CameraParam cam = mztest::makeEquidistant(720, 480);
    FramePicture pic(cam);
    const std::array<Pixel, 3> upper = {Pixel{100, 250}, Pixel{60, 180}, Pixel{140, 180}};
    const std::array<Pixel, 3> lower = {Pixel{250, 420}, Pixel{210, 350}, Pixel{290, 350}};
    pic.drawFrame(upper);
    pic.drawFrame(lower);
    const GreyImage half = binaryLeftHalf(pic);
    GreyImage labels = half;
    const auto comps = labelComponents(labels, 50);
    ASSERT_GE(comps.size(), 3u);
    const ComponentBox a = comps[1].box, b = comps[2].box;
    const SearchRect wa = candidateWindow(a.x, a.y, a.width, a.height, 360, 480);
    const SearchRect wb = candidateWindow(b.x, b.y, b.width, b.height, 360, 480);
    ASSERT_EQ(wa.width * wa.height, wb.width * wb.height);
    const HalfResult r = searchHalf(half, 0, cam);
    ASSERT_TRUE(r.found);
    for (const Point2F& p : r.corners) EXPECT_LT(p.y, 260.0f);
}

TEST(HalfSearch, TheLargestWindowWinsWhateverItsLabel) {
    const CameraParam cam = mztest::makeEquidistant(720, 480);
    FramePicture pic(cam);
    pic.drawFrame({Pixel{100, 230}, Pixel{70, 175}, Pixel{130, 175}});
    pic.drawFrame({Pixel{230, 430}, Pixel{160, 310}, Pixel{300, 310}});
    const HalfResult r = searchHalf(binaryLeftHalf(pic), 0, cam);
    ASSERT_TRUE(r.found);
    for (const Point2F& p : r.corners) EXPECT_GT(p.y, 300.0f);
}

TEST(HalfSearch, BlobsWithoutALargeClearHoleAreNoCandidates) {
    const CameraParam cam = mztest::makeEquidistant(720, 480);
    FramePicture pic(cam);
    pic.fillRect(100, 250, 30, 30, 40);                                       // solid
    pic.drawFrame({Pixel{250, 430}, Pixel{200, 340}, Pixel{300, 340}}, 0.3);  // hole too small
    const HalfResult r = searchHalf(binaryLeftHalf(pic), 0, cam);
    EXPECT_FALSE(r.found);
    EXPECT_EQ(r.corners[0].x, 0.0f);
}

// A dark line `width` pixels wide from a to b, in picture pixels.
void drawCable(FramePicture& pic, Pixel a, Pixel b, int width) {
    const int steps = static_cast<int>(2.0 * std::hypot(b.x - a.x, b.y - a.y));
    for (int i = 0; i <= steps; ++i) {
        const double t = static_cast<double>(i) / steps;
        pic.fillRect(static_cast<int>(a.x + t * (b.x - a.x)), static_cast<int>(a.y + t * (b.y - a.y)), width, width,
                     40);
    }
}

TEST(HalfSearch, ATriangleACableDraggedOffItsFrameIsReplacedByTheOneThatMatchesIt) {
    const CameraParam cam = mztest::makeEquidistant(720, 480);
    const std::array<Pixel, 3> truth = {Pixel{190.5, 410.25}, Pixel{120.25, 290.75}, Pixel{265.5, 300.5}};
    FramePicture pic(cam);
    pic.drawFrame(truth);
    // From inside the hole across the upper side and out over the floor: its two straight edges
    // outshine the frame's sides in the line search, yet the frame keeps its clear hole.
    drawCable(pic, Pixel{215, 330}, Pixel{245, 240}, 3);
    const GreyImage half = binaryLeftHalf(pic);
    GreyImage labels = half;
    const auto comps = labelComponents(labels, 50);
    const auto frameOf = std::find_if(comps.begin(), comps.end(), [](const Component& c) {
        return c.box.x < 130 && c.box.x + c.box.width > 255 && c.box.y < 295 && c.box.width < 300;
    });
    ASSERT_NE(frameOf, comps.end());
    const ComponentBox& b = frameOf->box;
    const SearchRect win = candidateWindow(b.x, b.y, b.width, b.height, 360, 480);
    GreyImage mask(win.width, win.height, 0);
    for (int y = 0; y < win.height; ++y)
        for (int x = 0; x < win.width; ++x) mask.at(x, y) = labels.at(win.x + x, win.y + y) == frameOf->label ? 255 : 0;

    // The draws of a fresh thread: with them the plain fit takes the cable for a side.
    const uint32_t start = 1;
    setGeneratorState(start);
    const std::optional<Corners> first = fitTriangleCorners(mask, win.x, win.y, 0, cam);
    const uint32_t afterFirstFit = generatorState();
    setGeneratorState(start);
    const auto worstError = [&](Corners corners) {
        orderCorners(corners);
        double worst = 0.0;
        for (int k = 0; k < 3; ++k) worst = std::max(worst, mztest::distance(corners[k], truth[k]));
        return worst;
    };
    ASSERT_TRUE(first.has_value());
    ASSERT_GT(worstError(*first), 20.0) << "the cable no longer drags the plain fit off the frame";

    const GreyImage frame = filledComponent(labels, *frameOf);
    const FrameMatch dragged = matchFrame(frame, b, curvedTriangle(*first, 0, cam));
    EXPECT_FALSE(matches(dragged));

    const HalfResult r = searchHalf(half, 0, cam);
    ASSERT_TRUE(r.found);
    EXPECT_LT(worstError(r.corners), 2.0);
    // Fitted to a frame whose sides the lens curves, the match is within a pixel.
    const FrameMatch fitted = matchFrame(frame, b, curvedTriangle(r.corners, 0, cam));
    EXPECT_LT(fitted.gap, 1.0f);
    EXPECT_LT(fitted.overreach, 0.1f);
    // The second look's draws are put back: what the other half and cameras get does not depend
    // on whether this one needed it.
    EXPECT_EQ(generatorState(), afterFirstFit);
}

}  // namespace
}  // namespace mz::pattern
