// The camera pose of geometry/camera_pose.h: its turns agree with each other both ways, the
// records are read as tilt, roll and heading, and the bowl's and the calibration's readings agree
// with the type.
#include <gtest/gtest.h>

#include <ceres/jet.h>

#include <cmath>

#include "geometry/angles.h"
#include "geometry/camera_pose.h"
#include "mz/mztypes.h"

namespace {

using mz::CameraPose;

template <typename T>
CameraPose<T> poseOf(double x, double y, double height, double tiltDeg, double rollDeg, double headingDeg) {
    return CameraPose<T>::ofDegrees({T(x), T(y), T(height), T(tiltDeg), T(rollDeg), T(headingDeg)},
                                    [](T deg) { return mz::radians(deg); });
}

template <typename T>
class CameraPoseRoundTrip : public ::testing::Test {};
using Scalars = ::testing::Types<float, double>;
TYPED_TEST_SUITE(CameraPoseRoundTrip, Scalars);

// Floor point -> ray -> floor point, and a point -> lens frame -> ground, for cameras facing every
// way, looking down steeply or shallowly, rolled both ways.
TYPED_TEST(CameraPoseRoundTrip, FloorAndGround) {
    using T = TypeParam;
    const double tolerance = sizeof(T) == 4 ? 0.05 : 1e-8;
    for (const double heading : {0.0, 90.0, 180.0, -90.0, 33.0})
        for (const double tilt : {15.0, 40.0, 75.0})
            for (const double roll : {-8.0, 0.0, 5.0}) {
                const auto pose = poseOf<T>(120, -340, 950, tilt, roll, heading);
                const double h = mz::radians(heading), ahead = 1500;
                for (const double side : {-800.0, 0.0, 600.0}) {  // floor points in view
                    const T wx = T(120 + side * std::cos(h) - ahead * std::sin(h));
                    const T wy = T(-340 + side * std::sin(h) + ahead * std::cos(h));
                    T ray[3], fx, fy;
                    pose.floorToRay(wx, wy, ray);
                    pose.floorOfRay(ray, fx, fy);
                    EXPECT_NEAR(fx, wx, tolerance) << heading << " " << tilt << " " << roll;
                    EXPECT_NEAR(fy, wy, tolerance) << heading << " " << tilt << " " << roll;
                }
                const T p[3] = {T(-250), T(700), T(1800)};
                T c[3], back[3];
                pose.toCamera(p, c);
                pose.toGround(c, back);
                for (int i = 0; i < 3; ++i) EXPECT_NEAR(back[i], p[i], tolerance) << i;
            }
}

// The record's rotX is the tilt, rotZ the roll, rotY the heading (counter-clockwise from the
// front); calib's blocks, with their height, read the same way.
TEST(CameraPose, RecordsAreReadAsTiltRollHeading) {
    CameraParam cam{};
    cam.posX = 100, cam.posY = 200, cam.posZ = 1000;
    cam.rotX = 45;  // tilt: the optical axis meets the floor one height ahead
    cam.rotY = 90;  // heading: ahead is the vehicle's left, -x
    const auto pose =
        CameraPose<double>::ofDegrees(mz::poseValues<double>(cam), [](double d) { return mz::radians(d); });
    const double axis[3] = {0, 0, -1};
    double fx, fy;
    pose.floorOfRay(axis, fx, fy);
    EXPECT_NEAR(fx, 100 - 1000, 1e-9);
    EXPECT_NEAR(fy, 200, 1e-9);
    // A ray above the horizon gives the floor under the camera.
    const double sky[3] = {0, 1, -0.2};
    pose.floorOfRay(sky, fx, fy);
    EXPECT_TRUE(fx == 100 && fy == 200);

    struct Block {
        float posX, posY, height, rotX, rotZ, rotY;
    } block{1, 2, 3, 4, 5, 6};
    const mz::PoseValues<float> v = mz::poseValues<float>(block);
    EXPECT_EQ(v, (mz::PoseValues<float>{1, 2, 3, 4, 5, 6}));
    CameraParam written{};
    mz::setPoseValues(written, v);
    EXPECT_TRUE(written.posZ == 3 && written.rotX == 4 && written.rotZ == 5 && written.rotY == 6);
}

// The calibration reads tilt and roll off the floor's upward normal in the lens frame: the normal
// of a pose gives that pose's tilt and roll back.
TEST(CameraPose, TiltAndRollOfTheFloorNormal) {
    for (const double tilt : {-10.0, 20.0, 60.0})
        for (const double roll : {-12.0, 0.0, 7.0}) {
            double n[3], t, r;
            poseOf<double>(0, 0, 0, tilt, roll, 25).offsetToCamera(0, 0, 1, n);
            mz::tiltAndRollOfNormal(n[0], n[1], n[2], std::hypot(n[0], n[1]), t, r);
            EXPECT_NEAR(mz::degrees(t), tilt, 1e-9);
            EXPECT_NEAR(mz::degrees(r), roll, 1e-9);
        }
}

// The bowl's reading: the look direction's angles give the direction back, and its optical axis
// is the third row of its rotation when rotY is 0.
TEST(CameraPose, BowlEulerReading) {
    const double directions[][3] = {{0, 0, 1}, {0.3, -0.5, 0.8}, {-0.7, 0.1, 0.2}, {0.1, 0.9, -0.3}};
    for (const auto& e : directions) {
        const double length = std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2]);
        const double d[3] = {e[0] / length, e[1] / length, e[2] / length};
        double down, turn, axis[3], r[3][3];
        mz::eulerOfAxis(d, down, turn);
        mz::eulerAxis(down, turn, axis);
        mz::eulerRotation(-down, 0.0, -turn, r);
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(axis[i], d[i], 1e-12) << i;
            EXPECT_NEAR(r[2][i], d[i], 1e-12) << i;
        }
    }
}

// The refinement differentiates the pose: with Jets the derivative of the ray along the tilt is
// the one finite differences give.
TEST(CameraPose, JetDerivativeAlongTheTilt) {
    using Jet = ceres::Jet<double, 1>;
    const Jet tilt(0.5, 0);
    const CameraPose<Jet> pose{Jet(10), Jet(-20), Jet(900), tilt, Jet(0.05), Jet(0.3)};
    Jet ray[3];
    pose.floorToRay(Jet(-400), Jet(1200), ray);
    const double step = 1e-6;
    double plus[3], minus[3];
    CameraPose<double>{10, -20, 900, 0.5 + step, 0.05, 0.3}.floorToRay(-400, 1200, plus);
    CameraPose<double>{10, -20, 900, 0.5 - step, 0.05, 0.3}.floorToRay(-400, 1200, minus);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(ray[i].v[0], (plus[i] - minus[i]) / (2 * step), 1e-4) << i;
}

}  // namespace
