// How well each corner is known, and the rig weighing it so: a sharp tip is loose along its
// bisector and tight across it, and the rig lets a corner pull only where it is known.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "format/picture.h"
#include "refine/refinement.h"
#include "sim/render.h"
#include "testing/refine_bay.h"

namespace mz::refine {
namespace {

using test::Bay;

struct Axes {
    double major = 0, minor = 0;
    double angle = 0;  // of the major axis, radians
};

Axes axesOf(const std::array<float, 3>& c) {
    const double a = c[0], b = c[1], d = c[2];
    const double half = (a - d) / 2, root = std::sqrt(half * half + b * b);
    return {std::sqrt((a + d) / 2 + root), std::sqrt(std::max(0.0, (a + d) / 2 - root)),
            0.5 * std::atan2(2 * b, a - d)};
}

// On a side camera's picture, whose corners include tips of a few degrees: every refined corner's
// true error lies within its covariance, and the sharpest corner of each triangle is known far
// worse along its bisector than across it.
TEST(CornerCovariance, IsLongAlongASharpTipsBisectorAndHoldsTheTruth) {
    const Bay bay(3, 640, 480);
    for (int k : {2, 3}) {
        const sim::Picture picture = sim::renderCamera(bay.rig, k, 1);
        const GreyFloatImage grey = greyFromBgr(picture.bytes, picture.width, picture.height);
        for (int half = 0; half < 2; ++half) {
            std::array<Point2F, 3> truth;
            for (int v = 0; v < 3; ++v) truth[v] = bay.image[k][3 * half + v];
            const auto refined = refineTriangle(grey, bay.cams[k], truth);
            int sharpest = 0;
            double sharpestAngle = 10, bisector = 0;
            for (int v = 0; v < 3; ++v) {
                const std::string at = "camera " + std::to_string(k) + " corner " + std::to_string(3 * half + v);
                ASSERT_EQ(refined[v].verdict, CornerVerdict::kRefined) << at;
                const auto& c = refined[v].covariance;
                ASSERT_GT(c[0] * c[2] - c[1] * c[1], 0) << at;
                const double ex = refined[v].refined.x - truth[v].x, ey = refined[v].refined.y - truth[v].y;
                const double det = static_cast<double>(c[0]) * c[2] - static_cast<double>(c[1]) * c[1];
                EXPECT_LT(std::sqrt((c[2] * ex * ex - 2 * c[1] * ex * ey + c[0] * ey * ey) / det), 3.5) << at;
                const Point2F p = truth[v], a = truth[(v + 1) % 3], b = truth[(v + 2) % 3];
                const double ua = std::atan2(a.y - p.y, a.x - p.x), ub = std::atan2(b.y - p.y, b.x - p.x);
                const double opening = std::abs(std::remainder(ua - ub, 2 * M_PI));
                if (opening < sharpestAngle) {
                    sharpestAngle = opening;
                    sharpest = v;
                    bisector = ua - std::remainder(ua - ub, 2 * M_PI) / 2;
                }
            }
            const Axes axes = axesOf(refined[sharpest].covariance);
            const std::string at = "camera " + std::to_string(k) + " corner " + std::to_string(3 * half + sharpest);
            EXPECT_GT(axes.major, 3 * axes.minor) << at << ", opening " << sharpestAngle * 180 / M_PI << " deg";
            // An axis has no sense: the angle between the lines, 0 to 90 degrees.
            const double off = std::abs(std::remainder(axes.angle - bisector, M_PI));
            EXPECT_LT(off, 15 * M_PI / 180) << at;
        }
    }
}

// A sharp tip placed by its own pixels is known far better than where its sides' lines meet: on
// the side cameras' realistic pictures (soft, noisy, compressed, started 1.4 px off) the tips'
// true errors, squared in units of their covariance, must scatter as a normal error's do (median
// 1.39). The lines' meeting makes them many times too loose (median 0.24 here), so the tips pull
// the rig far less than they should; the tip fit's shifts alone, without the side lines' turn
// about where the fit measures them, make them far too tight (median 19).
TEST(CornerCovariance, OfTipsPlacedByTheirOwnPixelsHoldsTheirErrors) {
    std::vector<double> squared;
    for (uint64_t seed : {1, 2, 3}) {
        Bay bay(seed);
        bay.rig.options.realism = sim::realismPreset("real");
        for (int k : {2, 3}) {
            const sim::Picture picture = sim::renderCamera(bay.rig, k, 1);
            const format::PictureRead jpeg = format::decodeJpeg(format::encodeJpeg(
                picture.width, picture.height, picture.stride, picture.bytes, bay.rig.options.realism.jpegQuality));
            ASSERT_TRUE(jpeg.picture);
            const GreyFloatImage grey = greyFromBgr(jpeg.picture->pixels, picture.width, picture.height);
            for (int half = 0; half < 2; ++half) {
                std::array<Point2F, 3> given;
                for (int v = 0; v < 3; ++v)
                    given[v] = {bay.image[k][3 * half + v].x + 1.2f, bay.image[k][3 * half + v].y - 0.8f};
                const auto refined = refineTriangle(grey, bay.cams[k], given);
                for (int v = 0; v < 3; ++v) {
                    if (!refined[v].ownTip) continue;
                    const auto& c = refined[v].covariance;
                    const Point2F t = bay.image[k][3 * half + v];
                    const double ex = refined[v].refined.x - t.x, ey = refined[v].refined.y - t.y;
                    const double det = static_cast<double>(c[0]) * c[2] - static_cast<double>(c[1]) * c[1];
                    ASSERT_GT(det, 0);
                    squared.push_back((c[2] * ex * ex - 2 * c[1] * ex * ey + c[0] * ey * ey) / det);
                }
            }
        }
    }
    ASSERT_GE(squared.size(), 12u);
    std::sort(squared.begin(), squared.end());
    const double median = squared[squared.size() / 2];
    EXPECT_GT(median, 0.5);
    EXPECT_LT(median, 4.0);
}

// One corner a pixel and a half off along a diagonal: with a covariance long in that direction it
// may pull the rig by a small part of what it pulls with one long across it (a flat covariance
// the wrong way round, or its cross term of the wrong sign, would swap the two).
TEST(RigRefinement, LetsACornerPullOnlyWhereItsCovarianceKnowsIt) {
    constexpr int kCamera = 0, kCorner = 1;
    const double dx = std::sqrt(0.5), dy = std::sqrt(0.5);
    const auto pull = [&](double alongSigma, double acrossSigma) {
        Bay bay(5);
        bay.image[kCamera][kCorner].x += static_cast<float>(1.0 * dx);
        bay.image[kCamera][kCorner].y += static_cast<float>(1.0 * dy);
        EXPECT_EQ(bay.calibrate(), 0);
        CornerCovariances covariances;
        for (auto& camera : covariances) camera.fill({0.0025, 0, 0.0025});
        const double along = alongSigma * alongSigma, across = acrossSigma * acrossSigma;
        covariances[kCamera][kCorner] = {along * dx * dx + across * dy * dy, (along - across) * dx * dy,
                                         along * dy * dy + across * dx * dx};
        const RigRefinementResult result = refineRig(bay.cams.data(), 0, 800, nullptr, &covariances);
        EXPECT_TRUE(result.refined) << result.note;
        EXPECT_TRUE(result.dropped.empty());
        double worst = 0;
        for (int k = 0; k < 4; ++k) {
            const auto truth = bay.truePose(k);
            worst = std::max(worst, std::abs(bay.cams[k].posZ - truth[kHeight]) / truth[kHeight]);
        }
        return worst;
    };
    const double loose = pull(3.0, 0.3), tight = pull(0.3, 3.0);
    EXPECT_GT(tight, 1e-3);
    EXPECT_LT(loose, tight / 5);
}

// Every corner a little off at random, as on a soft picture, and one of them off by more while its
// sides' fit claims it is known to a few hundredths of a pixel (a tight fit of a blurred edge): the
// rig must not lean on that one against the others. Its true error is no smaller for the tight fit.
TEST(RigRefinement, DoesNotLeanOnACornerWhoseFitClaimsMoreThanItKnows) {
    Bay bay(3);
    std::mt19937_64 random(7);
    std::normal_distribution<double> noise(0, 0.1);
    for (auto& camera : bay.image) {
        for (Point2F& p : camera) {
            p.x += static_cast<float>(noise(random));
            p.y += static_cast<float>(noise(random));
        }
    }
    constexpr int kCamera = 2, kCorner = 0;
    bay.image[kCamera][kCorner].y += 0.8f;
    ASSERT_EQ(bay.calibrate(), 0);
    CornerCovariances covariances;
    for (auto& camera : covariances) camera.fill({0.01, 0, 0.01});
    covariances[kCamera][kCorner] = {0.0009, 0, 0.0009};
    const RigRefinementResult result = refineRig(bay.cams.data(), 0, 800, nullptr, &covariances);
    ASSERT_TRUE(result.refined) << result.note;
    EXPECT_TRUE(result.dropped.empty());
    // Leaning on it, the rig tilts the cameras 0.26 degrees off at worst; alike, 0.18.
    double tilt = 0;
    for (int k = 0; k < 4; ++k) tilt = std::max(tilt, std::abs(bay.cams[k].rotX - bay.truePose(k)[kTilt]));
    EXPECT_LT(tilt, 0.22);
    // The corners' figures and what they predict stay in the fits' own terms.
    EXPECT_GT(result.after.scatterRatio, 2.0);
}

// Corners whose errors are as their covariances say, one of each triangle's three known to half a
// pixel and the others to the refinement's floor: the rig, which weighs every corner nearly alike,
// scatters by far more than a fit weighed by the covariances would (nearly three times the
// variance here), and the predicted sigmas must follow the rig as fitted: over many draws the
// squared errors in units of the sigmas average one once the prediction's allowances are taken out.
TEST(RigRefinement, PredictsThePosesScatterOfTheRigAsFitted) {
    CornerCovariances covariances;
    for (auto& camera : covariances) {
        for (int i = 0; i < 6; ++i)
            camera[i] = i % 3 == 1 ? std::array<double, 3>{0.25, 0, 0.25} : std::array<double, 3>{};
    }
    std::array<std::array<double, 2>, 4> reference{};
    {
        Bay bay(4);
        ASSERT_EQ(bay.calibrate(), 0);
        ASSERT_TRUE(refineRig(bay.cams.data(), 0, 800, nullptr, &covariances).refined);
        for (int k = 0; k < 4; ++k) reference[k] = {bay.cams[k].posZ, bay.cams[k].rotX};
    }
    std::mt19937_64 random(11);
    std::normal_distribution<double> noise(0, 1);
    // No corner counts as known better than the refinement's floor of 0.02 px: the draws include it.
    const double floor = 0.02 * 0.02;
    double squares = 0;
    int n = 0;
    for (int trial = 0; trial < 40; ++trial) {
        Bay bay(4);
        for (int k = 0; k < 4; ++k) {
            for (int i = 0; i < 6; ++i) {
                const double sigma = std::sqrt(covariances[k][i][0] + floor);
                bay.image[k][i].x += static_cast<float>(sigma * noise(random));
                bay.image[k][i].y += static_cast<float>(sigma * noise(random));
            }
        }
        ASSERT_EQ(bay.calibrate(), 0);
        const RigRefinementResult result = refineRig(bay.cams.data(), 0, 800, nullptr, &covariances);
        ASSERT_TRUE(result.refined && result.after.predicted) << result.note;
        const double allowance = kUnseenErrorFactor * result.after.scatterRatio;
        for (int k = 0; k < 4; ++k) {
            const CameraFigures& c = result.after.cameras[k];
            const double height = (bay.cams[k].posZ - reference[k][0]) / (c.heightSigmaMm / allowance);
            const double tilt = (bay.cams[k].rotX - reference[k][1]) / (c.tiltSigmaDeg / allowance);
            squares += height * height + tilt * tilt;
            n += 2;
        }
    }
    EXPECT_NEAR(squares / n, 1.0, 0.35);
}

}  // namespace
}  // namespace mz::refine
