// The rig simulator: a calibration bay with four fisheye cameras and known truth.
//
// Frames and angles (also written into truth.json):
//  - Floor frame, millimetres: origin at the vehicle's centre on the floor; +x to the vehicle's
//    right, +y to its front, +z up. The floor is z = 0; a camera's height is its z (positive).
//  - Camera frame: +x to the right of the picture, +y down the picture, +z along the optical
//    axis (forward). A camera point (X, Y, Z) lies on the lens's ideal plane at
//    (f X / Z, f Y / Z), which the camera record's forward lens polynomial maps to the pixel.
//  - rotation: the 3x3 matrix R from floor to camera: p_camera = R (p_floor - position).
//    Its rows are the camera's x, y, z axes expressed in the floor frame.
//  - heading: azimuth of the optical axis in degrees, from +y (vehicle front) turning toward +x
//    (clockwise seen from above): front camera about 0, right 90, rear 180, left -90.
//  - tilt: angle of the optical axis below the horizontal, degrees (positive looks down).
//  - roll: turn of the camera about its optical axis, degrees; positive turns the camera's x
//    axis toward its y axis (clockwise as seen from behind the camera), so the scene appears
//    turned counter-clockwise in the picture.
//    R = Roll(roll) * Base(heading, tilt): with d = (sin h cos t, cos h cos t, -sin t) the
//    optical axis and r = (cos h, -sin h, 0) the level right vector, the unrolled rows are
//    x = r, y = d x r, z = d; roll then gives x' = cos(roll) x + sin(roll) y,
//    y' = -sin(roll) x + cos(roll) y.
//  - Triangles T1 front-left, T2 front-right, T3 rear-right, T4 rear-left (floor frame). Corner
//    0 of each is the one pointing at the nearest vehicle corner.
//  - Image points: pixels of the distorted picture (pixel centres at whole numbers), in the
//    system's point order: the camera's left-half triangle then its right-half triangle, each
//    the lowest corner on screen first, then the other two clockwise as seen on screen.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "mz/mztypes.h"
#include "sim/simulated_lens.h"

namespace mz::sim {

struct Vec2 {
    double x = 0, y = 0;
};

struct Vec3 {
    double x = 0, y = 0, z = 0;
};

using Mat3 = std::array<std::array<double, 3>, 3>;

// Bounding box of points on screen (or on a detector's canvas).
struct Box {
    double x0 = 1e30, y0 = 1e30, x1 = -1e30, y1 = -1e30;
    void add(Vec2 p) {
        x0 = std::min(x0, p.x);
        y0 = std::min(y0, p.y);
        x1 = std::max(x1, p.x);
        y1 = std::max(y1, p.y);
    }
    double width() const { return x1 - x0; }
    double height() const { return y1 - y0; }
    Box shrunk(double m) const { return {x0 + m, y0 + m, x1 - m, y1 - m}; }
    // Sum of the squared distances by which `inner` sticks out of this box.
    double excess(const Box& inner) const {
        auto out = [](double v) { return v > 0 ? v * v : 0.0; };
        return out(x0 - inner.x0) + out(inner.x1 - x1) + out(y0 - inner.y0) + out(inner.y1 - y1);
    }
    bool contains(const Box& inner) const { return excess(inner) == 0; }
};

enum CameraIndex { kFront = MZ_CAMERA_FRONT, kRear = MZ_CAMERA_REAR, kLeft = MZ_CAMERA_LEFT, kRight = MZ_CAMERA_RIGHT };
enum TriangleIndex { kT1FrontLeft = 0, kT2FrontRight = 1, kT3RearRight = 2, kT4RearLeft = 3 };

inline constexpr const char* kCameraNames[4] = {"front", "rear", "left", "right"};
// The triangle each camera sees in the left and the right half of its picture.
inline constexpr int kCameraTriangles[4][2] = {{kT1FrontLeft, kT2FrontRight},
                                               {kT3RearRight, kT4RearLeft},
                                               {kT4RearLeft, kT1FrontLeft},
                                               {kT2FrontRight, kT3RearRight}};

// What a plant's cameras and bay add to the clean picture. Every effect leaves the edges where
// they are on average, so the truth stays exact; each is off at 0.
struct Realism {
    std::string level = "clean";  // the preset the values came from (realismPreset)
    double rimBlur = 0;           // blur sigma at the image circle's edge, px, growing from the centre's
    double noiseGain = 0;         // shot noise: variance added per grey level of signal
    double chroma = 0;            // lateral colour: red out, blue in by this many px at the rim
    double light = 0;             // uneven hall light, the fraction it swings either way
    double shadow = 0;            // fraction of the light the vehicle's soft shadow takes
    double wear = 0;              // fraction of the band-to-floor contrast lost to wear and dust
    int jpegQuality = 0;          // the pictures as JPEG files of this quality; 0: bitmap files
    double glare = 0;             // grey levels a glare spot in one camera adds at its heart
    double cable = 0;             // width of a dark cable lying across one triangle's band, mm
    bool any() const {
        return rimBlur > 0 || noiseGain > 0 || chroma > 0 || light > 0 || shadow > 0 || wear > 0 || jpegQuality > 0 ||
               glare > 0 || cable > 0;
    }
};

struct RigOptions {
    uint64_t seed = 1;
    int width = 720;
    int height = 480;
    std::string model = "AVM 1.65";
    double markerLength = 800;    // outer side of the triangles, mm
    double noiseSigma = 2.0;      // grey levels
    double blurSigma = 0.6;       // pixels; 0 turns it off
    double vignetting = 0.25;     // brightness lost at the image circle's edge
    bool quad = false;            // also write the four-quadrant picture
    double vehicleWidth = 1850;   // mm
    double vehicleLength = 4600;  // mm
    // A plant's fixed bay (fixed_bay.h) instead of a drawn one: the triangles and camera poses
    // put every target inside the search rectangles of the corner and marker detectors.
    bool fixedLayout = false;
    Realism realism;
};

struct Camera {
    Vec3 position;  // floor frame, mm; z is the height
    double headingDeg = 0;
    double tiltDeg = 0;
    double rollDeg = 0;
    Mat3 rotation{};  // floor to camera
    Lens lens;
};

struct Triangle {
    std::array<Vec2, 3> corners;  // outer corners; 0 points at the vehicle corner
    double band = 0;              // width of the dark band, mm
};

struct Rig {
    RigOptions options;
    std::array<Triangle, 4> triangles;
    std::array<Camera, 4> cameras;
    int attempts = 0;  // draws it took to find a bay that passes checkRig
};

Mat3 cameraRotation(double headingDeg, double tiltDeg, double rollDeg);

// Unit normal of a triangle's side `side` (from corner side to the next), pointing inside.
Vec2 inwardNormal(const Triangle& tri, int side);

// Triangle `index` (TriangleIndex) of the options' side length with corner 0 `gap` mm out of its
// vehicle corner along an axis axisDeg from the vehicle's cross direction, pointing back at the
// corner; band left at 0.
Triangle cornerTriangle(const RigOptions& options, int index, double gap, double axisDeg);

// Pixel of a floor point in a camera, through the camera record's lens; false when the point is
// behind the camera or outside the image circle.
bool projectToPixel(const Camera& camera, const Vec3& floorPoint, Vec2& pixel);
// The other way: the floor point (z = 0) a pixel of the camera looks at, through the inverse of
// its lens; false above the horizon or outside the image circle.
bool pixelToFloor(const Camera& camera, const RadiusToAngle& inverse, Vec2 pixel, Vec2& floor);

// What a surveyor would measure for a camera: floor points on a grid 1.2 to 3 m ahead of it and up
// to 1.5 m to either side, each with the pixel the camera sees it at (points it cannot see left out).
struct SurveyPoint {
    Vec2 pixel;
    Vec2 floor;
};
std::vector<SurveyPoint> surveyGrid(const Camera& camera);

// The six corners of a camera's two triangles in the system's point order, and their floor
// positions in the same order.
struct CameraPoints {
    std::array<Vec2, 6> image;
    std::array<Vec2, 6> floor;
    std::array<Vec2, 6> inner;  // pixels of the hole's corners, each across from image[i]
};

// Thinnest on-screen width of a triangle's band, measured across each side at a few places.
double minBandOnScreen(const Camera& camera, const Triangle& triangle);

// Corners of a triangle's light hole, each across from the outer corner of the same index.
std::array<Vec2, 3> innerCorners(const Triangle& t);
CameraPoints cameraPoints(const Rig& rig, int camera);

// Every reason the bay would not serve the detector fairly; empty when it passes. A fixed bay is
// held to the fixed bay's own checks (checkFixedRig). The first
// kind of problem (a frame leaving the lower three quarters of its half) is what the program's
// search regions cannot tolerate; the others are the margins a careful operator keeps.
std::vector<std::string> checkRig(const Rig& rig);

// Draws the random parts (camera poses, triangle placement) from the seed until the bay passes
// checkRig. Throws std::runtime_error with the last problems when no draw passes.
Rig drawRig(const RigOptions& options);

// The camera record of a simulated camera's lens (no pose, no point arrays).
CameraParam cameraRecord(const Camera& camera);

// Builds the rig's derived parts (rotations, lenses) from explicit poses, for callers that lay out
// a bay by hand. The result is not checked.
void finishRig(Rig& rig);

}  // namespace mz::sim
