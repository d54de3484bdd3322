// Triangle corner fitting: outline tracing, line search on the ideal plane, corner intersection,
// the triangle check and the order in which a half's corners are stored.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "mz/mztypes.h"
#include "pattern/grey_image.h"

namespace mz::pattern {

using Corners = std::array<Point2F, 3>;

// --- Pseudo-random generator: one state per thread, starting at 1, never reseeded here. ---
uint32_t generatorState();
void setGeneratorState(uint32_t state);  // for tests and tools; detection itself never calls it
int randomDraw();                        // 0 .. 0x7FFF

// --- Outline tracing ---
struct OutlinePoint {
    int32_t x;
    int32_t y;
};

// Outer boundary of the first blob (in scan order) of a 255/0 mask, clockwise on screen from its
// top-left pixel; points may repeat. At most width x height points.
std::vector<OutlinePoint> traceOutline(const GreyImage& mask);

// --- Lines on the ideal plane ---
struct FittedLine {
    double dx = 0.0;
    double dy = 0.0;
    double px = 0.0;
    double py = 0.0;
};

FittedLine fitLine(const Point2F* points, size_t count);
double distanceToLine(const FittedLine& line, const Point2F& p);

inline constexpr double kLineDistance = 2.5;  // ideal-plane units, so it scales with the record's f
inline constexpr int kMinSideSupport = 10;
// A side whose consensus search keeps finding fewer than kMinSideSupport points is given up after
// this many searches; the candidate then yields no corners.
inline constexpr int kMaxSideSearches = 64;

struct Consensus {
    int support = 0;
    FittedLine line;
};

int consensusTrials();
Consensus consensusSearch(const std::vector<Point2F>& points);

// Finds up to `most` sides one after the other, each removing its supporting points from the
// list; stops early when a side cannot be found within kMaxSideSearches searches.
std::vector<FittedLine> findSides(std::vector<Point2F> points, int most);

// The first three of findSides; nothing when there are fewer.
std::optional<std::array<FittedLine, 3>> findThreeSides(std::vector<Point2F> points);

// Intersection of two trimmed sides stretched 500 times their length both ways; (0, 0) when the
// stretched segments do not meet.
Point2F intersectSides(const FittedLine& a, const FittedLine& b);

// Corners, in picture pixels, of the candidate mask whose top-left pixel sits at (left, top) of
// the half that starts at picture column xo. Nothing when the three sides cannot be found.
std::optional<Corners> fitTriangleCorners(const GreyImage& mask, int left, int top, int xo, const CameraParam& camera);

// For a candidate whose three strongest sides are not its triangle's (a cable or a shadow's rim
// along it outshone one): the corners of every triangle that three of its `most` strongest sides
// make, in the order the sides were found (0 1 2, 0 1 3, ...), each as fitTriangleCorners gives it.
std::vector<Corners> triangleChoices(const GreyImage& mask, int left, int top, int xo, const CameraParam& camera,
                                     int most);

// True when every corner lies strictly inside the picture and the rounded side lengths satisfy
// the strict triangle inequality.
bool isTriangle(const Corners& corners, int width, int height);

// Lowest corner on screen first, then the other two clockwise on screen.
void orderCorners(Corners& corners);

}  // namespace mz::pattern
