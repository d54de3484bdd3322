// The reason given to the operator for a triangle the detector did not find.
#include <gtest/gtest.h>

#include "app/core/detection_diagnosis.h"
#include "app/core/detection_thread.h"
#include "mz/mzpattern.h"
#include "testing/frame_picture.h"

namespace mz::core {
namespace {

using mztest::FramePicture;
using mztest::Pixel;

constexpr int kW = 720;
constexpr int kH = 480;

// The picture's pixels as the detector takes them, and whether it fills the left half.
bool detectorFindsLeft(const FramePicture& pic, const CameraParam& cam) {
    mztest::Record rec(cam);
    const std::array<int32_t, 8> regions = searchRegions(kW, kH);
    return mzGetPatternIP(pic.data(), &rec.camera, regions.data()) == 0 && rec.image[0].x != -7.0f;
}

LostHalfReason diagnoseLeft(const FramePicture& pic, const CameraParam& cam) {
    const std::span<const uint8_t> pixels(pic.data(), static_cast<size_t>(kW) * kH * 3);
    return diagnoseLostHalf(pixels, cam, searchRegions(kW, kH), 0);
}

TEST(LostHalfDiagnosis, NamesWhatWouldHaveShownTheFrame) {
    const CameraParam cam = mztest::makeEquidistant(kW, kH);

    // Its upper corners lie above the search area, so the frame touches the area's edge.
    FramePicture high(cam);
    high.drawFrame({Pixel{190, 300}, Pixel{130, 90}, Pixel{250, 90}});
    ASSERT_FALSE(detectorFindsLeft(high, cam));
    EXPECT_EQ(diagnoseLeft(high, cam), LostHalfReason::kOutsideSearchArea);

    // A dim bay: the band is a few grey levels below the floor, under the threshold's margin.
    FramePicture dim(cam, 30);
    dim.drawFrame({Pixel{190.5, 410.25}, Pixel{120.25, 290.75}, Pixel{265.5, 300.5}}, 0.6, 22, 32);
    ASSERT_FALSE(detectorFindsLeft(dim, cam));
    EXPECT_EQ(diagnoseLeft(dim, cam), LostHalfReason::kTooDark);

    const FramePicture empty(cam);
    EXPECT_EQ(diagnoseLeft(empty, cam), LostHalfReason::kNotSeen);

    const std::string message = lostHalfMessage(kRear, 1, LostHalfReason::kTooBlurred);
    EXPECT_EQ(message.rfind("Detection found no right triangle in the REAR camera picture: ", 0), 0u) << message;
    EXPECT_NE(message.find("too blurred"), std::string::npos) << message;
}

}  // namespace
}  // namespace mz::core
