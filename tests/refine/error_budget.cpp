// Where the seams' millimetres come from: every bay is simulated, detected, its corners refined and
// its rig solved and refined in process as the workflow does; against the truth it prints each
// camera's pose errors, which of them the worst seam zone's error comes from (each zone measured
// again with one camera's one pose value set to the truth), the corners' errors along each tip's
// bisector grouped by what could bias them, and the seams the same geometry gives when every corner
// sits at its true pixel with unbiased noise of a given size. A tool for tuning on some seeds and
// checking on others, not a test: it asserts nothing.
//   refine_error_budget [--level real] [--sizes 720x480,640x480] [--seeds 1,2,3] [--noise 0.1,0.2]
//                       [--draws 3] [--step 2] [--marker 800] [--quiet] [--holes] [--probe]
// It also gives the goals' pose figures (heights, tilt, roll, heading, distances) of the rigs fitted
// on true corners with noise. --marker draws bays with triangles of that side (mm).
// --holes measures instead what the holes' corners would add to the rig (true pixels with noise, the
// holes' noise 0.5 to 2 times the outer corners'), and what a surveyed layout would (every triangle's
// floor place known exactly or to 2 or 5 mm); --probe also fits every side's two edges on the
// pictures with a two-step profile and prints their errors against the truth (and the outer edge
// again with the band's true width given).
// The seams are measured as the stitched top view (720 x 480 entries, 14 mm each) would show them:
// for every floor point two cameras' pictures both cover, the distance between the floor points the
// TRUE cameras see at the pixels the solved poses take it to, per corner zone.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <ceres/ceres.h>

#include "format/picture.h"
#include "mz/mzcalib.h"
#include "mz/mzpattern.h"
#include "refine/fisheye.h"
#include "refine/refinement.h"
#include "sim/render.h"
#include "sim/rig.h"

namespace {

using namespace mz;
using Pose = std::array<double, kPoseSize>;
using Poses = std::array<Pose, 4>;

constexpr const char* kValueNames[kPoseSize] = {"x", "y", "height", "tilt", "roll", "heading"};
constexpr const char* kZoneNames[4] = {"FL", "FR", "RL", "RR"};
// The two cameras of each corner zone and the triangle in it.
constexpr int kZoneCameras[4][2] = {{0, 2}, {0, 3}, {1, 2}, {1, 3}};
constexpr int kZoneTriangle[4] = {0, 1, 3, 2};

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = text.find(',', start);
        out.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return out;
}

double quantile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(q * static_cast<double>(v.size() - 1) + 0.5)];
}

// The sweep's bays: every seed at every picture size.
struct Bay {
    std::string size;
    sim::Rig rig;
};

std::vector<Bay> sweepBays(const std::string& level, const std::vector<std::string>& sizes,
                           const std::vector<uint64_t>& seeds, double markerLength) {
    std::vector<Bay> bays;
    for (const std::string& size : sizes) {
        int width = 720, height = 480;
        std::sscanf(size.c_str(), "%dx%d", &width, &height);
        for (uint64_t seed : seeds) {
            sim::RigOptions options;
            options.seed = seed;
            options.width = width;
            options.height = height;
            options.realism = sim::realismPreset(level);
            options.markerLength = markerLength;
            bays.push_back({size, sim::drawRig(options)});
        }
    }
    return bays;
}

// A camera's picture as the workflow reads it (24-bit rows padded to 4 bytes), compressed as the
// level says.
std::vector<uint8_t> cameraRows(const sim::Rig& rig, int k) {
    const sim::Picture picture = sim::renderCamera(rig, k, 2);
    const int quality = rig.options.realism.jpegQuality;
    if (quality <= 0) return picture.bytes;
    return format::decodeJpeg(format::encodeJpeg(picture.width, picture.height, picture.stride, picture.bytes, quality))
        .picture->pixels;
}

// A bay's records as the workflow holds them.
struct Records {
    std::array<CameraParam, 4> cams{};
    std::array<std::array<Point2F, 64>, 4> image{};
    std::array<std::array<Point2F, 64>, 4> world{};

    explicit Records(const sim::Rig& rig) {
        for (int k = 0; k < 4; ++k) {
            cams[k] = sim::cameraRecord(rig.cameras[k]);
            cams[k].markerLength = static_cast<int32_t>(rig.options.markerLength);
            cams[k].pointCount = 6;
            image[k].fill({-1, -1});
            cams[k].imagePoints = image[k].data();
            cams[k].worldPoints = world[k].data();
        }
    }
    Records(const Records&) = delete;
    Records& operator=(const Records&) = delete;
    Poses poses() const {
        Poses p;
        for (int k = 0; k < 4; ++k) p[k] = poseValues<double>(cams[k]);
        return p;
    }
};

// The calibration library's rig, then the refined one; false when either fails.
bool solveRig(const sim::Rig& rig, Records& r, const refine::CornerCovariances& covariances, Poses& library,
              Poses& refined, refine::RigRefinementResult* result = nullptr) {
    CalibHandle* h = mzMultiCalibCreate(0);
    mzMultiCalibInit(h, 0, static_cast<int32_t>(rig.options.markerLength), 0);
    const int32_t status = mzMultiCalibApply(h, r.cams.data(), nullptr);
    mzMultiCalibRelease(&h);
    if (status < 0) return false;
    library = r.poses();
    const refine::RigRefinementResult out =
        refine::refineRig(r.cams.data(), 0, static_cast<float>(rig.options.markerLength), nullptr, &covariances);
    refined = r.poses();
    if (result) *result = out;
    return true;
}

struct SeamMeter {
    const sim::Rig& rig;
    const Records& records;
    std::vector<sim::RadiusToAngle> inverse;
    int step = 2;

    SeamMeter(const sim::Rig& r, const Records& rec, int s) : rig(r), records(rec), step(s) {
        for (const sim::Camera& c : rig.cameras) inverse.emplace_back(c.lens);
    }

    // Each zone's 95th percentile of the seam's misalignment, millimetres.
    std::array<double, 4> zones(const Poses& poses) const {
        const int w = rig.options.width, h = rig.options.height;
        std::array<std::vector<double>, 4> gaps;
        for (int row = 0; row < 480; row += step) {
            for (int col = 0; col < 720; col += step) {
                const double x = (col - 360) * 14.0, y = (240 - row) * 14.0;
                std::array<bool, 4> seen{};
                std::array<std::array<double, 2>, 4> floor{};
                for (int k = 0; k < 4; ++k) {
                    double px, py;
                    if (!refine::floorToPixel(records.cams[k], poses[k].data(), x, y, &px, &py)) continue;
                    if (!(px >= 0 && py >= 0 && px <= w - 1 && py <= h - 1)) continue;
                    sim::Vec2 f;
                    seen[k] = sim::pixelToFloor(rig.cameras[k], inverse[k], {px, py}, f);
                    floor[k] = {f.x, f.y};
                }
                for (int z = 0; z < 4; ++z) {
                    const int a = kZoneCameras[z][0], b = kZoneCameras[z][1];
                    if (seen[a] && seen[b])
                        gaps[z].push_back(std::hypot(floor[a][0] - floor[b][0], floor[a][1] - floor[b][1]));
                }
            }
        }
        std::array<double, 4> p95{};
        for (int z = 0; z < 4; ++z) p95[z] = quantile(gaps[z], 0.95);
        return p95;
    }
};

// A camera's true pose in the records' terms (roll and heading counted the other way round).
Pose truePose(const sim::Camera& t) {
    return {t.position.x, t.position.y, t.position.z, t.tiltDeg, -t.rollDeg, -t.headingDeg};
}

// A rig's worst errors as the sweep states its goals: height (share of it), tilt, roll (degrees),
// heading relative to the front camera's (degrees), distance between two cameras (mm).
std::array<double, 5> goalErrors(const sim::Rig& rig, const Poses& solved) {
    std::array<double, 5> e{};
    const Pose f = truePose(rig.cameras[0]);
    for (int k = 0; k < 4; ++k) {
        const Pose t = truePose(rig.cameras[k]);
        e[0] = std::max(e[0], std::abs(solved[k][2] - t[2]) / t[2]);
        e[1] = std::max(e[1], std::abs(solved[k][3] - t[3]));
        e[2] = std::max(e[2], std::abs(solved[k][4] - t[4]));
        e[3] = std::max(e[3], std::abs(std::remainder((solved[k][5] - solved[0][5]) - (t[5] - f[5]), 360.0)));
        for (int j = 0; j < k; ++j) {
            const sim::Vec3 a = rig.cameras[k].position, b = rig.cameras[j].position;
            const double found =
                std::hypot(solved[k][0] - solved[j][0], solved[k][1] - solved[j][1], solved[k][2] - solved[j][2]);
            e[4] = std::max(e[4], std::abs(found - std::hypot(a.x - b.x, a.y - b.y, a.z - b.z)));
        }
    }
    return e;
}

// The true poses in the solved rig's floor frame: turned and shifted so the four camera centres
// fit the solved ones best (the floor's own origin and turn are the calibration's choice).
Poses truthInFrame(const sim::Rig& rig, const Poses& solved) {
    Poses truth;
    for (int k = 0; k < 4; ++k) truth[k] = truePose(rig.cameras[k]);
    double mt[2] = {}, ms[2] = {};
    for (int k = 0; k < 4; ++k) {
        for (int i = 0; i < 2; ++i) {
            mt[i] += truth[k][i] / 4;
            ms[i] += solved[k][i] / 4;
        }
    }
    double sn = 0, cs = 0;
    for (int k = 0; k < 4; ++k) {
        const double ax = truth[k][0] - mt[0], ay = truth[k][1] - mt[1];
        const double bx = solved[k][0] - ms[0], by = solved[k][1] - ms[1];
        sn += ax * by - ay * bx;
        cs += ax * bx + ay * by;
    }
    const double angle = std::atan2(sn, cs), c = std::cos(angle), s = std::sin(angle);
    for (Pose& p : truth) {
        const double ax = p[0] - mt[0], ay = p[1] - mt[1];
        p[0] = ms[0] + c * ax - s * ay;
        p[1] = ms[1] + s * ax + c * ay;
        p[kHeading] = std::remainder(p[kHeading] + angle * 180 / M_PI, 360.0);
    }
    return truth;
}

// One corner's error in its triangle's frame on screen.
struct CornerError {
    int camera, index;
    double along;   // along the tip's inward bisector, pixels (positive: into the triangle)
    double across;  // across it, toward the next corner on screen
    double angle;   // the tip's angle on screen, degrees
    double radius;  // distance from the picture's centre over the half width
    double length;
};

std::vector<CornerError> cornerErrors(const sim::Rig& rig, const Records& r) {
    std::vector<CornerError> out;
    for (int k = 0; k < 4; ++k) {
        const sim::CameraPoints truth = sim::cameraPoints(rig, k);
        for (int i = 0; i < 6; ++i) {
            const int base = i / 3 * 3, v = i % 3;
            const sim::Vec2 p = truth.image[i], a = truth.image[base + (v + 1) % 3],
                            b = truth.image[base + (v + 2) % 3];
            double ua[2] = {a.x - p.x, a.y - p.y}, ub[2] = {b.x - p.x, b.y - p.y};
            const double la = std::hypot(ua[0], ua[1]), lb = std::hypot(ub[0], ub[1]);
            for (int j = 0; j < 2; ++j) {
                ua[j] /= la;
                ub[j] /= lb;
            }
            double bis[2] = {ua[0] + ub[0], ua[1] + ub[1]};
            const double lbis = std::hypot(bis[0], bis[1]);
            bis[0] /= lbis;
            bis[1] /= lbis;
            double n[2] = {-bis[1], bis[0]};
            if (n[0] * ua[0] + n[1] * ua[1] < 0) {
                n[0] = -n[0];
                n[1] = -n[1];
            }
            const double ex = r.image[k][i].x - p.x, ey = r.image[k][i].y - p.y;
            const sim::Lens& lens = rig.cameras[k].lens;
            out.push_back({k, i, ex * bis[0] + ey * bis[1], ex * n[0] + ey * n[1],
                           std::acos(std::clamp(ua[0] * ub[0] + ua[1] * ub[1], -1.0, 1.0)) * 180 / M_PI,
                           std::hypot(p.x - lens.cx, p.y - lens.cy) / (lens.width / 2.0), std::hypot(ex, ey)});
        }
    }
    return out;
}

struct Stat {
    double sum = 0, squares = 0;
    int n = 0;
    void add(double v) {
        sum += v;
        squares += v * v;
        ++n;
    }
    double mean() const { return n ? sum / n : 0; }
    double sd() const { return n > 1 ? std::sqrt(std::max(0.0, (squares - sum * sum / n) / (n - 1))) : 0; }
};

void printStats(const char* title, const std::map<std::string, std::pair<Stat, Stat>>& groups) {
    std::printf("%s\n", title);
    for (const auto& [name, s] : groups) {
        const double t = s.first.n > 1 ? s.first.mean() / (s.first.sd() / std::sqrt(s.first.n)) : 0;
        std::printf("  %-22s n %4d  along %+.3f sd %.3f (t %+5.1f)  across %+.3f sd %.3f\n", name.c_str(), s.first.n,
                    s.first.mean(), s.first.sd(), t, s.second.mean(), s.second.sd());
    }
}

// Every corner at its true pixel plus round noise of `sigma` per coordinate.
refine::CornerCovariances noisyTruth(const sim::Rig& rig, Records& r, double sigma, std::mt19937_64& random) {
    std::normal_distribution<double> noise(0, 1);
    refine::CornerCovariances cov{};
    const double v = std::max(sigma * sigma, 1e-6);
    for (int k = 0; k < 4; ++k) {
        const sim::CameraPoints truth = sim::cameraPoints(rig, k);
        for (int i = 0; i < 6; ++i) {
            r.image[k][i] = {static_cast<float>(truth.image[i].x + sigma * noise(random)),
                             static_cast<float>(truth.image[i].y + sigma * noise(random))};
            cov[k][i] = {v, 0, v};
        }
    }
    return cov;
}

// ---- Would the holes' corners help? Each triangle's dark band surrounds a light hole whose three
// corners are the outer ones shrunk about the centre by (inradius - band) / inradius. The rig is
// fitted here on true pixels plus unbiased noise, in the true floor frame (triangle 0 held), with
// and without those corners; the band width is one unknown per triangle (markers are cut and worn
// one by one), per bay (one print for all), or known.

enum class BandUnknown { kTriangle, kBay, kKnown };

struct OuterCost {
    CameraParam camera;
    double observed[2], centre[2], offset[2], weight;
    template <typename T>
    bool operator()(const T* pose, const T* place, T* residual) const {
        using std::cos;
        using std::sin;
        const T c = cos(place[2]), s = sin(place[2]);
        const T wx = T(centre[0]) + place[0] + c * T(offset[0]) - s * T(offset[1]);
        const T wy = T(centre[1]) + place[1] + s * T(offset[0]) + c * T(offset[1]);
        T px, py;
        if (!refine::floorToPixel(camera, pose, wx, wy, &px, &py)) return false;
        residual[0] = T(weight) * (px - T(observed[0]));
        residual[1] = T(weight) * (py - T(observed[1]));
        return true;
    }
};

struct HoleCost {
    CameraParam camera;
    double observed[2], centre[2], offset[2], inradius, weight;
    template <typename T>
    bool operator()(const T* pose, const T* place, const T* band, T* residual) const {
        using std::cos;
        using std::sin;
        const T shrink = (T(inradius) - band[0]) / T(inradius);
        const T ox = shrink * T(offset[0]), oy = shrink * T(offset[1]);
        const T c = cos(place[2]), s = sin(place[2]);
        const T wx = T(centre[0]) + place[0] + c * ox - s * oy;
        const T wy = T(centre[1]) + place[1] + s * ox + c * oy;
        T px, py;
        if (!refine::floorToPixel(camera, pose, wx, wy, &px, &py)) return false;
        residual[0] = T(weight) * (px - T(observed[0]));
        residual[1] = T(weight) * (py - T(observed[1]));
        return true;
    }
};

sim::Vec2 centreOf(const sim::Triangle& t) {
    return {(t.corners[0].x + t.corners[1].x + t.corners[2].x) / 3,
            (t.corners[0].y + t.corners[1].y + t.corners[2].y) / 3};
}

// Observed pixels of one draw: every camera's six outer corners and the six hole corners across
// from them, with the triangle and vertex each belongs to.
struct Sightings {
    std::array<std::array<std::array<double, 2>, 6>, 4> outer{}, hole{};
    std::array<std::array<int, 6>, 4> triangle{}, vertex{};
};

// `holeBias` moves each hole's sides that many pixels out on screen (a hole found too large), which
// moves its corners about twice that (60 degree tips) out along their bisectors.
Sightings sightings(const sim::Rig& rig, double sigma, double holeFactor, double holeBias, std::mt19937_64& random) {
    std::normal_distribution<double> noise(0, 1);
    Sightings out;
    for (int k = 0; k < 4; ++k) {
        const sim::CameraPoints truth = sim::cameraPoints(rig, k);
        for (int i = 0; i < 6; ++i) {
            const int t = sim::kCameraTriangles[k][i / 3];
            out.triangle[k][i] = t;
            out.vertex[k][i] = -1;
            for (int v = 0; v < 3; ++v) {
                const sim::Vec2 c = rig.triangles[t].corners[v];
                if (std::hypot(c.x - truth.floor[i].x, c.y - truth.floor[i].y) < 1e-6) out.vertex[k][i] = v;
            }
            // Both drawn always, so the outer corners' noise is the same whatever the hole's factor.
            const double n[4] = {noise(random), noise(random), noise(random), noise(random)};
            out.outer[k][i] = {truth.image[i].x + sigma * n[0], truth.image[i].y + sigma * n[1]};
            const double ox = truth.image[i].x - truth.inner[i].x, oy = truth.image[i].y - truth.inner[i].y;
            const double out2 = 2 * holeBias / std::max(std::hypot(ox, oy), 1e-9);
            out.hole[k][i] = {truth.inner[i].x + out2 * ox + sigma * holeFactor * n[2],
                              truth.inner[i].y + out2 * oy + sigma * holeFactor * n[3]};
        }
    }
    return out;
}

Poses fitStudyRig(const sim::Rig& rig, const Records& records, const Sightings& seen, double sigma, double holeFactor,
                  bool holes, BandUnknown unknown, double* bandError, double surveyedMm = -1,
                  std::mt19937_64* surveyRandom = nullptr) {
    Poses poses;
    for (int k = 0; k < 4; ++k) poses[k] = truePose(rig.cameras[k]);
    std::array<std::array<double, 3>, 4> places{};
    std::array<double, 4> bands;
    bands.fill(rig.options.markerLength / 8);  // the calibration does not know it: a first guess
    const double inradius = rig.options.markerLength / (2 * std::sqrt(3.0));
    ceres::Problem problem;
    for (int k = 0; k < 4; ++k) {
        for (int i = 0; i < 6; ++i) {
            const int t = seen.triangle[k][i], v = seen.vertex[k][i];
            const sim::Vec2 c = centreOf(rig.triangles[t]), corner = rig.triangles[t].corners[v];
            const double offset[2] = {corner.x - c.x, corner.y - c.y};
            auto* outer = new OuterCost{records.cams[k],
                                        {seen.outer[k][i][0], seen.outer[k][i][1]},
                                        {c.x, c.y},
                                        {offset[0], offset[1]},
                                        1 / sigma};
            problem.AddResidualBlock(new ceres::AutoDiffCostFunction<OuterCost, 2, kPoseSize, 3>(outer), nullptr,
                                     poses[k].data(), places[t].data());
            if (!holes) continue;
            auto* hole = new HoleCost{records.cams[k], {seen.hole[k][i][0], seen.hole[k][i][1]},
                                      {c.x, c.y},      {offset[0], offset[1]},
                                      inradius,        1 / (sigma * holeFactor)};
            double* band = unknown == BandUnknown::kBay ? &bands[0] : &bands[t];
            problem.AddResidualBlock(new ceres::AutoDiffCostFunction<HoleCost, 2, kPoseSize, 3, 1>(hole), nullptr,
                                     poses[k].data(), places[t].data(), band);
        }
    }
    problem.SetParameterBlockConstant(places[0].data());
    if (surveyedMm >= 0) {
        // Every triangle's floor place known to `surveyedMm` per coordinate (and its turn to what
        // that error at its corners gives).
        std::normal_distribution<double> err(0, 1);
        for (int t = 0; t < 4; ++t) {
            places[t] = {surveyedMm * err(*surveyRandom), surveyedMm * err(*surveyRandom),
                         surveyedMm / (rig.options.markerLength / std::sqrt(3.0)) * err(*surveyRandom)};
            problem.SetParameterBlockConstant(places[t].data());
        }
    }
    if (holes && unknown == BandUnknown::kKnown) {
        for (int t = 0; t < 4; ++t) {
            bands[t] = rig.triangles[t].band;
            problem.SetParameterBlockConstant(&bands[t]);
        }
    }
    ceres::Solver::Options options;
    options.linear_solver_type = ceres::DENSE_QR;
    options.max_num_iterations = 50;
    ceres::Solver::Summary summary;
    ceres::Solve(options, &problem, &summary);
    if (bandError && holes) {
        *bandError = 0;
        const int n = unknown == BandUnknown::kBay ? 1 : 4;
        for (int t = 0; t < n; ++t) *bandError = std::max(*bandError, std::abs(bands[t] - rig.triangles[t].band));
    }
    return poses;
}

// One profile across a side's band, from the floor outside into the hole: the grey level along
// it modelled as two blurred steps (floor to band at `a`, band to hole at `b`).
struct ProfileCost {
    std::vector<double> s, grey;
    double width = -1;  // the band's width when known: the hole's edge is then that far in, not p[1]
    bool operator()(const double* p, double* residual) const {
        // p: a, b, blur, floor, band, hole
        const double blur = std::max(std::abs(p[2]), 0.2);
        const double b = width >= 0 ? p[0] + width : p[1];
        for (size_t j = 0; j < s.size(); ++j) {
            const double into = 0.5 * (1 + std::erf((s[j] - p[0]) / (blur * M_SQRT2)));
            const double hole = 0.5 * (1 + std::erf((s[j] - b) / (blur * M_SQRT2)));
            residual[j] = p[3] + (p[4] - p[3]) * into + (p[5] - p[4]) * hole - grey[j];
        }
        return true;
    }
};

double greyAt(const std::vector<uint8_t>& rows, int width, int height, double x, double y) {
    const size_t stride = MZ_ROW_STRIDE24(static_cast<size_t>(width));
    const int x0 = std::clamp(static_cast<int>(std::floor(x)), 0, width - 2);
    const int y0 = std::clamp(static_cast<int>(std::floor(y)), 0, height - 2);
    const double fx = std::clamp(x - x0, 0.0, 1.0), fy = std::clamp(y - y0, 0.0, 1.0);
    auto at = [&](int xx, int yy) {
        const uint8_t* p = rows.data() + stride * yy + 3 * static_cast<size_t>(xx);
        return (p[0] + p[1] + p[2]) / 3.0;
    };
    return (1 - fy) * ((1 - fx) * at(x0, y0) + fx * at(x0 + 1, y0)) +
           fy * ((1 - fx) * at(x0, y0 + 1) + fx * at(x0 + 1, y0 + 1));
}

struct EdgeErrors {
    Stat outer, hole;                 // each side's mean error over its profiles, pixels along the normal
    Stat outerPoint, holePoint;       // single profiles
    Stat thinOuter, thinHole;         // sides whose band is under 4 px on screen
    Stat outerKnown, thinOuterKnown;  // the outer edge again, fitted with the band's true width
};

// Each side's two edges probed in the middle part of the side (the tips left out): profiles along
// the screen normal, fitted with the two-step model, against the true edges.
void probeEdges(const sim::Rig& rig, int k, const std::vector<uint8_t>& rows, EdgeErrors& errors) {
    const sim::Camera& cam = rig.cameras[k];
    const int w = rig.options.width, h = rig.options.height;
    for (int side = 0; side < 2; ++side) {
        const sim::Triangle& tri = rig.triangles[sim::kCameraTriangles[k][side]];
        for (int e = 0; e < 3; ++e) {
            const sim::Vec2 a = tri.corners[e], b = tri.corners[(e + 1) % 3];
            const sim::Vec2 in = sim::inwardNormal(tri, e);
            Stat outerSide, holeSide, knownSide;
            double bandPx = 0;
            for (double t = 0.25; t <= 0.751; t += 0.05) {
                const sim::Vec2 o{a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t};
                const sim::Vec2 o2{a.x + (b.x - a.x) * (t + 0.005), a.y + (b.y - a.y) * (t + 0.005)};
                const sim::Vec2 i{o.x + in.x * tri.band, o.y + in.y * tri.band};
                sim::Vec2 po, po2, pi;
                if (!sim::projectToPixel(cam, {o.x, o.y, 0}, po) || !sim::projectToPixel(cam, {o2.x, o2.y, 0}, po2) ||
                    !sim::projectToPixel(cam, {i.x, i.y, 0}, pi))
                    continue;
                double dx = po2.x - po.x, dy = po2.y - po.y;
                const double len = std::hypot(dx, dy);
                dx /= len;
                dy /= len;
                double nx = -dy, ny = dx;
                if (nx * (pi.x - po.x) + ny * (pi.y - po.y) < 0) {
                    nx = -nx;
                    ny = -ny;
                }
                // Where the profile crosses the hole's edge: on screen that edge is not quite parallel
                // to the outer one, nor is `pi` straight across from `po`.
                const sim::Vec2 i2{i.x + (b.x - a.x) * 0.005, i.y + (b.y - a.y) * 0.005};
                sim::Vec2 pi2;
                if (!sim::projectToPixel(cam, {i2.x, i2.y, 0}, pi2)) continue;
                const double ix = pi2.x - pi.x, iy = pi2.y - pi.y;
                const double across = nx * iy - ny * ix;
                if (std::abs(across) < 1e-9) continue;
                const double trueHole = ((pi.x - po.x) * iy - (pi.y - po.y) * ix) / across;
                bandPx = trueHole;
                ProfileCost profile;
                bool inside = true;
                for (double s = -5; s <= trueHole + 5; s += 0.25) {
                    const double x = po.x + s * nx, y = po.y + s * ny;
                    inside &= x >= 1 && y >= 1 && x <= w - 2 && y <= h - 2;
                    profile.s.push_back(s);
                    profile.grey.push_back(greyAt(rows, w, h, x, y));
                }
                if (!inside) continue;
                // Starting guess as a detector would have it: edges a little off, levels from the ends.
                double p[6] = {0.5,
                               trueHole - 0.5,
                               1.0,
                               profile.grey.front(),
                               *std::min_element(profile.grey.begin(), profile.grey.end()),
                               profile.grey.back()};
                const auto fit = [&](double* q, double width) {
                    ProfileCost* cost = new ProfileCost(profile);
                    cost->width = width;
                    ceres::Problem problem;
                    problem.AddResidualBlock(
                        new ceres::NumericDiffCostFunction<ProfileCost, ceres::CENTRAL, ceres::DYNAMIC, 6>(
                            cost, ceres::TAKE_OWNERSHIP, static_cast<int>(profile.s.size())),
                        nullptr, q);
                    if (width >= 0) problem.SetManifold(q, new ceres::SubsetManifold(6, {1}));
                    ceres::Solver::Options options;
                    options.max_num_iterations = 50;
                    ceres::Solver::Summary summary;
                    ceres::Solve(options, &problem, &summary);
                };
                double known[6];
                std::copy(p, p + 6, known);
                fit(p, -1);
                fit(known, trueHole);
                if (!(std::abs(p[0]) < 3 && std::abs(p[1] - trueHole) < 3)) continue;
                if (std::abs(known[0]) < 3) {
                    knownSide.add(known[0]);
                }
                outerSide.add(p[0]);
                holeSide.add(p[1] - trueHole);
                errors.outerPoint.add(p[0]);
                errors.holePoint.add(p[1] - trueHole);
            }
            if (outerSide.n < 4) continue;
            errors.outer.add(outerSide.mean());
            errors.hole.add(holeSide.mean());
            errors.outerKnown.add(knownSide.mean());
            if (bandPx < 4) {
                errors.thinOuter.add(outerSide.mean());
                errors.thinHole.add(holeSide.mean());
                errors.thinOuterKnown.add(knownSide.mean());
            }
        }
    }
}

double rmsOf(const Stat& s) { return s.n ? std::sqrt(s.squares / s.n) : 0; }

int innerStudy(const std::string& level, const std::vector<std::string>& sizes, const std::vector<uint64_t>& seeds,
               double markerLength, const std::vector<double>& noises, int draws, int step, bool probe) {
    const std::vector<double> holeFactors = {1.0, 1.5, 2.0};
    struct Row {
        std::string name;
        bool holes;
        double factor;
        BandUnknown unknown;
        double bias = 0;
        double surveyedMm = -1;  // every triangle's floor place known to this, per coordinate
    };
    std::vector<Row> rows = {{"outer corners only", false, 1, BandUnknown::kTriangle}};
    for (double f : holeFactors)
        rows.push_back(
            {"+ holes x" + std::to_string(f).substr(0, 3) + ", band per triangle", true, f, BandUnknown::kTriangle});
    rows.push_back({"+ holes x1.0, band per bay", true, 1, BandUnknown::kBay});
    rows.push_back({"+ holes x1.0, band known", true, 1, BandUnknown::kKnown});
    rows.push_back({"+ holes x2.0, band per bay", true, 2, BandUnknown::kBay});
    // What the geometry would give were the holes' corners found twice as well as the outer ones.
    rows.push_back({"+ holes x0.5, band per triangle", true, 0.5, BandUnknown::kTriangle});
    // The holes as the pictures' edges give them (the edge probe's figures at the real level).
    rows.push_back({"+ holes x2.0 found 0.15 px large", true, 2, BandUnknown::kTriangle, 0.15});
    // A surveyed layout: the triangles' floor places known, exactly or to a few millimetres.
    for (double mm : {0.0, 2.0, 5.0})
        rows.push_back({"outer, layout surveyed to " + std::to_string(static_cast<int>(mm)) + " mm", false, 1,
                        BandUnknown::kTriangle, 0, mm});
    // Per noise, per row: each bay's worst zone (mean over draws) and its mean zone.
    std::vector<std::vector<Stat>> worst(noises.size(), std::vector<Stat>(rows.size()));
    std::vector<std::vector<Stat>> mean(noises.size(), std::vector<Stat>(rows.size()));
    std::vector<std::vector<double>> worstOfBays(noises.size(), std::vector<double>(rows.size(), 0));
    std::vector<Stat> workflow(noises.size());
    std::vector<Stat> bandError(noises.size());
    EdgeErrors edges;
    double checked = 0;
    for (const Bay& bay : sweepBays(level, sizes, seeds, markerLength)) {
        const sim::Rig& rig = bay.rig;
        const std::string& size = bay.size;
        const int width = rig.options.width;
        const uint64_t seed = rig.options.seed;
        Records records(rig);
        for (int k = 0; k < 4; ++k) {
            const sim::CameraPoints truth = sim::cameraPoints(rig, k);
            const Pose pose = truePose(rig.cameras[k]);
            for (int i = 0; i < 6; ++i) {
                double px, py;
                refine::floorToPixel(records.cams[k], pose.data(), truth.floor[i].x, truth.floor[i].y, &px, &py);
                checked = std::max(checked, std::hypot(px - truth.image[i].x, py - truth.image[i].y));
            }
        }
        const SeamMeter meter(rig, records, step);
        std::printf("%s seed %llu:", size.c_str(), static_cast<unsigned long long>(seed));
        for (size_t n = 0; n < noises.size(); ++n) {
            std::vector<Stat> w(rows.size()), m(rows.size());
            Stat wf;
            for (int d = 0; d < draws; ++d) {
                for (size_t r = 0; r < rows.size(); ++r) {
                    // The same outer noise for every row of a draw: only the holes differ.
                    std::mt19937_64 drawRandom(seed * 1000003 + static_cast<uint64_t>(width) * 7 + n * 101 +
                                               static_cast<uint64_t>(d));
                    const Sightings seen = sightings(rig, noises[n], rows[r].factor, rows[r].bias, drawRandom);
                    double be = 0;
                    std::mt19937_64 surveyRandom(seed * 7919 + static_cast<uint64_t>(d));
                    const Poses poses = fitStudyRig(rig, records, seen, noises[n], rows[r].factor, rows[r].holes,
                                                    rows[r].unknown, &be, rows[r].surveyedMm, &surveyRandom);
                    if (r == 1) bandError[n].add(be);
                    const std::array<double, 4> z = meter.zones(poses);
                    w[r].add(*std::max_element(z.begin(), z.end()));
                    for (double v : z) m[r].add(v);
                    if (r == 0) {
                        // The workflow's own rig on the same corners, as the budget measures it.
                        Records noisy(rig);
                        refine::CornerCovariances cov{};
                        const double var = noises[n] * noises[n];
                        for (int k = 0; k < 4; ++k)
                            for (int i = 0; i < 6; ++i) {
                                noisy.image[k][i] = {static_cast<float>(seen.outer[k][i][0]),
                                                     static_cast<float>(seen.outer[k][i][1])};
                                cov[k][i] = {var, 0, var};
                            }
                        Poses lib, ref;
                        if (solveRig(rig, noisy, cov, lib, ref)) {
                            const std::array<double, 4> zw = SeamMeter(rig, noisy, step).zones(ref);
                            wf.add(*std::max_element(zw.begin(), zw.end()));
                        }
                    }
                }
            }
            workflow[n].add(wf.mean());
            std::printf("  %.2f px:", noises[n]);
            for (size_t r = 0; r < rows.size(); ++r) {
                worst[n][r].add(w[r].mean());
                mean[n][r].add(m[r].mean());
                worstOfBays[n][r] = std::max(worstOfBays[n][r], w[r].mean());
                std::printf(" %.1f", w[r].mean());
            }
            std::printf(" (workflow %.1f)", wf.mean());
        }
        std::printf("\n");
        if (probe) {
            for (int k = 0; k < 4; ++k) probeEdges(rig, k, cameraRows(rig, k), edges);
        }
        std::fflush(stdout);
    }
    std::printf("\n== holes' corners, %s, %d bays, %d draws; true poses reproduce the true corners to %.4f px\n",
                level.c_str(), worst.empty() ? 0 : worst[0][0].n, draws, checked);
    std::printf("worst-zone seam 95th, mm: mean over bays / worst bay\n");
    for (size_t n = 0; n < noises.size(); ++n) {
        std::printf(
            " noise %.2f px (workflow's rig on the outer corners: mean %.1f); band error, per triangle, worst of a bay, mean %.1f mm\n",
            noises[n], workflow[n].mean(), bandError[n].mean());
        for (size_t r = 0; r < rows.size(); ++r)
            std::printf("   %-36s %6.1f / %6.1f   mean zone %6.1f\n", rows[r].name.c_str(), worst[n][r].mean(),
                        worstOfBays[n][r], mean[n][r].mean());
    }
    if (probe) {
        std::printf("edges probed with a two-step profile model (px along the screen normal, + into the band/hole):\n");
        std::printf("  side means (n %d): outer bias %+.3f rms %.3f | hole bias %+.3f rms %.3f\n", edges.outer.n,
                    edges.outer.mean(), rmsOf(edges.outer), edges.hole.mean(), rmsOf(edges.hole));
        std::printf("  band under 4 px (n %d): outer bias %+.3f rms %.3f | hole bias %+.3f rms %.3f\n",
                    edges.thinOuter.n, edges.thinOuter.mean(), rmsOf(edges.thinOuter), edges.thinHole.mean(),
                    rmsOf(edges.thinHole));
        std::printf(
            "  outer edge fitted with the band's true width: bias %+.3f rms %.3f; band under 4 px %+.3f rms %.3f\n",
            edges.outerKnown.mean(), rmsOf(edges.outerKnown), edges.thinOuterKnown.mean(), rmsOf(edges.thinOuterKnown));
        std::printf("  single profiles (n %d): outer sd %.3f | hole sd %.3f\n", edges.outerPoint.n,
                    edges.outerPoint.sd(), edges.holePoint.sd());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string level = "real";
    std::vector<std::string> sizes = {"720x480", "640x480"};
    std::vector<uint64_t> seeds = {1, 2, 3, 4, 5, 6};
    std::vector<double> noises = {0.1, 0.2};
    int draws = 3, step = 2;
    double markerLength = 800;
    bool quiet = false, holes = false, probe = false;
    for (int i = 1; i < argc; ++i) {
        const std::string key = argv[i];
        if (key == "--quiet" || key == "--holes" || key == "--probe") {
            quiet |= key == "--quiet";
            holes |= key == "--holes";
            probe |= key == "--probe";
            continue;
        }
        if (i + 1 >= argc) break;
        const std::string value = argv[++i];
        if (key == "--level") level = value;
        if (key == "--sizes") sizes = split(value);
        if (key == "--marker") markerLength = std::atof(value.c_str());
        if (key == "--draws") draws = std::atoi(value.c_str());
        if (key == "--step") step = std::max(1, std::atoi(value.c_str()));
        if (key == "--seeds") {
            seeds.clear();
            for (const std::string& s : split(value)) seeds.push_back(std::strtoull(s.c_str(), nullptr, 10));
        }
        if (key == "--noise") {
            noises.clear();
            for (const std::string& s : split(value)) noises.push_back(std::atof(s.c_str()));
        }
    }

    if (holes || probe) return innerStudy(level, sizes, seeds, markerLength, noises, draws, step, probe);

    std::map<std::string, std::pair<Stat, Stat>> byRole, byAngle, byRadius, byCamera, bySize, byVerdict;
    // Per pose value: the worst zone's 95th percentile with that value of both its cameras true,
    // over the worst zone as solved.
    std::array<Stat, kPoseSize> valueShare;
    Stat cameraShare, worstSolved, worstLibrary, worstCornersRms;
    std::vector<Stat> worstNoise(noises.size() + 1);
    std::array<Stat, kPoseSize> poseError;  // absolute errors, over every camera
    Stat meanZoneSolved;
    std::vector<Stat> meanZoneNoise(noises.size() + 1);
    std::vector<Stat> truthOverPrediction(noises.size() + 1);  // log(true zone / predicted), per noise
    std::array<std::vector<double>, 4> zRaw, zShown;           // |error| / sigma: height, tilt, roll, heading
    // Per noise (and the workflow's rig last): each goal's bay worst, mean over bays and worst bay.
    std::vector<std::array<Stat, 5>> goalNoise(noises.size() + 2);
    std::vector<std::array<double, 5>> goalNoiseWorst(noises.size() + 2, std::array<double, 5>{});
    const auto addGoals = [&](size_t n, const std::array<double, 5>& e) {
        for (int g = 0; g < 5; ++g) {
            goalNoise[n][g].add(e[g]);
            goalNoiseWorst[n][g] = std::max(goalNoiseWorst[n][g], e[g]);
        }
    };

    for (const Bay& bay : sweepBays(level, sizes, seeds, markerLength)) {
        const sim::Rig& rig = bay.rig;
        const std::string& size = bay.size;
        const int width = rig.options.width, height = rig.options.height;
        const uint64_t seed = rig.options.seed;
        Records records(rig);
        std::array<std::vector<uint8_t>, 4> rows;
        for (int k = 0; k < 4; ++k) {
            rows[k] = cameraRows(rig, k);
            std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
            const size_t stride = MZ_ROW_STRIDE24(static_cast<size_t>(width));
            for (int y = 0; y < height; ++y)
                std::memcpy(pixels.data() + static_cast<size_t>(y) * width * 3, rows[k].data() + stride * y,
                            static_cast<size_t>(width) * 3);
            const int32_t regions[8] = {0,         height / 4, width / 2,         height - height / 4,
                                        width / 2, height / 4, width - width / 2, height - height / 4};
            mzGetPatternIP(pixels.data(), &records.cams[k], regions);
        }
        bool lost = false;
        for (int k = 0; k < 4; ++k) {
            for (int i = 0; i < 6; ++i) lost |= records.image[k][i].x == -1 && records.image[k][i].y == -1;
        }
        if (lost) {
            std::printf("%s seed %llu: a triangle was not found\n", size.c_str(),
                        static_cast<unsigned long long>(seed));
            continue;
        }
        refine::RefinementReport report;
        report.enabled = true;
        const std::array<std::span<const uint8_t>, 4> spans = {rows[0], rows[1], rows[2], rows[3]};
        refine::refineCorners(records.cams.data(), spans, report);
        Poses library, solved;
        refine::RigRefinementResult result;
        if (!solveRig(rig, records, refine::cornerCovariances(report), library, solved, &result)) {
            std::printf("%s seed %llu: the calibration failed\n", size.c_str(), static_cast<unsigned long long>(seed));
            continue;
        }
        const SeamMeter meter(rig, records, step);
        const Poses truth = truthInFrame(rig, solved);
        {
            // Each pose value's error in units of the sigma the report gives (widened for the
            // picture's quality) and of the rig's own before that widening.
            refine::RefinementReport judged = report;
            judged.rig = result;
            refine::allowForPictureQuality(judged);
            for (int k = 0; k < 4; ++k) {
                const refine::CameraFigures& raw = result.after.cameras[k];
                const refine::CameraFigures& shown = judged.rig.after.cameras[k];
                const double rawSigma[4] = {raw.heightSigmaMm, raw.tiltSigmaDeg, raw.rollSigmaDeg, raw.headingSigmaDeg};
                const double shownSigma[4] = {shown.heightSigmaMm, shown.tiltSigmaDeg, shown.rollSigmaDeg,
                                              shown.headingSigmaDeg};
                for (int v = 0; v < 4; ++v) {
                    const int p = kHeight + v;
                    const double e = std::abs(p == kHeading ? std::remainder(solved[k][p] - truth[k][p], 360.0)
                                                            : solved[k][p] - truth[k][p]);
                    if (rawSigma[v] > 0) zRaw[v].push_back(e / rawSigma[v]);
                    if (shownSigma[v] > 0) zShown[v].push_back(e / shownSigma[v]);
                }
            }
        }
        const std::array<double, 4> zones = meter.zones(solved);
        const std::array<double, 4> libraryZones = meter.zones(library);
        const int worst = static_cast<int>(std::max_element(zones.begin(), zones.end()) - zones.begin());
        worstSolved.add(zones[worst]);
        addGoals(noises.size() + 1, goalErrors(rig, solved));
        worstLibrary.add(*std::max_element(libraryZones.begin(), libraryZones.end()));
        for (double z : zones) meanZoneSolved.add(z);

        const std::vector<CornerError> errors = cornerErrors(rig, records);
        Stat rms;
        for (const CornerError& e : errors) {
            rms.add(e.along);
            rms.add(e.across);
            const auto add = [&](std::map<std::string, std::pair<Stat, Stat>>& m, const std::string& key) {
                m[key].first.add(e.along);
                m[key].second.add(e.across);
            };
            add(byRole, std::string("vertex ") + std::to_string(e.index % 3) + (e.index < 3 ? " left" : " right"));
            add(byAngle, e.angle < 55 ? "tip < 55 deg" : e.angle < 65 ? "tip 55-65 deg" : "tip >= 65 deg");
            add(byRadius, e.radius < 0.6 ? "radius < 0.6" : e.radius < 0.8 ? "radius 0.6-0.8" : "radius >= 0.8");
            add(byCamera, sim::kCameraNames[e.camera]);
            const refine::CornerRefinement& how = report.corners[e.camera][e.index];
            add(byVerdict, std::string(refine::verdictName(how.verdict)) + (how.ownTip ? ", own tip" : ""));
            if (!quiet && e.length > 0.4) {
                std::printf("   corner %s %d off %.2f px: %s%s, moved %.2f, side rms %.3f\n",
                            sim::kCameraNames[e.camera], e.index, e.length, refine::verdictName(how.verdict),
                            how.ownTip ? " (own tip)" : "", how.moved, how.sideRms);
            }
            add(bySize, size);
        }
        const double cornerSigma = std::sqrt(rms.squares / std::max(1, rms.n));
        worstCornersRms.add(cornerSigma);

        if (!quiet) {
            std::printf("== %s seed %llu %s: corners rms %.3f px per coordinate, worst %.2f px; dropped %zu\n",
                        size.c_str(), static_cast<unsigned long long>(seed), level.c_str(), cornerSigma,
                        std::max_element(errors.begin(), errors.end(),
                                         [](const CornerError& a, const CornerError& b) { return a.length < b.length; })
                            ->length,
                        result.dropped.size());
            std::printf("   scatter ratio %.2f, pixel sigma %.3f; predicted zones:", result.after.scatterRatio,
                        result.after.pixelSigma);
            for (int z = 0; z < 4; ++z)
                std::printf(" %s %.1f", kZoneNames[z], result.after.seams[kZoneTriangle[z]].predictedP95Mm);
            std::printf("\n   zones p95 mm (refined | library):");
            for (int z = 0; z < 4; ++z) std::printf(" %s %.1f", kZoneNames[z], zones[z]);
            std::printf(" |");
            for (int z = 0; z < 4; ++z) std::printf(" %.1f", libraryZones[z]);
            std::printf(
                "\n   pose errors (x y mm, height mm, tilt roll heading deg; x, y, heading in the "
                "frame the cameras fit best):\n");
        }
        for (int k = 0; k < 4; ++k) {
            for (int p = 0; p < kPoseSize; ++p)
                poseError[p].add(std::abs(p == kHeading ? std::remainder(solved[k][p] - truth[k][p], 360.0)
                                                        : solved[k][p] - truth[k][p]));
            if (quiet) continue;
            std::printf("     %-5s %+6.1f %+6.1f | %+6.1f (%+.2f %%) | %+.3f %+.3f %+.3f\n", sim::kCameraNames[k],
                        solved[k][0] - truth[k][0], solved[k][1] - truth[k][1], solved[k][2] - truth[k][2],
                        100 * (solved[k][2] - truth[k][2]) / truth[k][2], solved[k][3] - truth[k][3],
                        solved[k][4] - truth[k][4], std::remainder(solved[k][5] - truth[k][5], 360.0));
        }
        // The worst zone with one pose value of one of its cameras true, then of both.
        const int za = kZoneCameras[worst][0], zb = kZoneCameras[worst][1];
        if (!quiet)
            std::printf("   worst zone %s (T%d) %.1f mm with one value true:\n", kZoneNames[worst],
                        kZoneTriangle[worst] + 1, zones[worst]);
        for (int p = 0; p < kPoseSize; ++p) {
            double with[3];
            for (int which = 0; which < 3; ++which) {
                Poses fixed = solved;
                if (which != 1) fixed[za][p] = truth[za][p];
                if (which != 0) fixed[zb][p] = truth[zb][p];
                with[which] = meter.zones(fixed)[worst];
            }
            valueShare[p].add(with[2] / zones[worst]);
            if (!quiet)
                std::printf("     %-8s %s %5.1f  %s %5.1f  both %5.1f\n", kValueNames[p], sim::kCameraNames[za],
                            with[0], sim::kCameraNames[zb], with[1], with[2]);
        }
        {
            double with[2];
            for (int which = 0; which < 2; ++which) {
                Poses fixed = solved;
                fixed[which ? zb : za] = truth[which ? zb : za];
                with[which] = meter.zones(fixed)[worst];
            }
            cameraShare.add(std::min(with[0], with[1]) / zones[worst]);
            if (!quiet)
                std::printf("     whole pose %s %5.1f  %s %5.1f\n", sim::kCameraNames[za], with[0],
                            sim::kCameraNames[zb], with[1]);
        }

        // The same geometry with unbiased corners: true pixels plus round noise.
        std::mt19937_64 random(seed * 7919 + static_cast<uint64_t>(width));
        std::vector<double> sigmas = noises;
        sigmas.push_back(cornerSigma);
        for (size_t n = 0; n < sigmas.size(); ++n) {
            Stat worstZone, meanZone;
            for (int d = 0; d < draws; ++d) {
                Records noisy(rig);
                const refine::CornerCovariances cov = noisyTruth(rig, noisy, sigmas[n], random);
                Poses lib, ref;
                refine::RigRefinementResult fitted;
                if (!solveRig(rig, noisy, cov, lib, ref, &fitted)) continue;
                const SeamMeter m(rig, noisy, step);
                const std::array<double, 4> z = m.zones(ref);
                // Truth over prediction where the corners' covariance is exactly their noise's.
                for (int zone = 0; zone < 4; ++zone) {
                    const double predicted = fitted.after.seams[kZoneTriangle[zone]].predictedP95Mm;
                    if (fitted.after.predicted && predicted > 0 && z[zone] > 0)
                        truthOverPrediction[n].add(std::log(z[zone] / predicted));
                }
                worstZone.add(*std::max_element(z.begin(), z.end()));
                for (double v : z) meanZone.add(v);
                addGoals(n, goalErrors(rig, ref));
            }
            worstNoise[n].add(worstZone.mean());
            meanZoneNoise[n].add(meanZone.mean());
            if (!quiet)
                std::printf("   true corners + %.3f px noise: worst zone %.1f mm, mean zone %.1f mm (%d draws)\n",
                            sigmas[n], worstZone.mean(), meanZone.mean(), worstZone.n);
        }
        std::fflush(stdout);
    }

    std::printf("\n== summary, %s, %d bays\n", level.c_str(), worstSolved.n);
    std::printf("worst zone p95: refined %.1f mm (library %.1f); mean zone %.1f mm; corners rms %.3f px\n",
                worstSolved.mean(), worstLibrary.mean(), meanZoneSolved.mean(), worstCornersRms.mean());
    for (size_t n = 0; n < worstNoise.size(); ++n) {
        std::printf(
            "true corners + %s noise: worst zone %.1f mm, mean zone %.1f mm; log(true/predicted) mean %.2f sd %.2f\n",
            n < noises.size() ? (std::to_string(noises[n]) + " px").c_str() : "the bay's own rms", worstNoise[n].mean(),
            meanZoneNoise[n].mean(), truthOverPrediction[n].mean(), truthOverPrediction[n].sd());
    }
    std::printf(
        "goals' figures, each bay's worst (mean over bays and draws / worst): height %%, tilt, roll, heading deg, "
        "distance mm\n");
    for (size_t n = 0; n < goalNoise.size(); ++n) {
        const std::string name = n < noises.size()    ? "true corners + " + std::to_string(noises[n]) + " px"
                                 : n == noises.size() ? "true corners + the bay's own rms"
                                                      : "the workflow's rig";
        std::printf("  %-40s", name.c_str());
        for (int g = 0; g < 5; ++g)
            std::printf(" %6.3f/%6.3f", goalNoise[n][g].mean() * (g ? 1 : 100), goalNoiseWorst[n][g] * (g ? 1 : 100));
        std::printf("\n");
    }
    std::printf(
        "pose errors over the sigmas the report gives (a normal error: median 0.67, 95th 1.96), median / 95th;"
        " before the picture's widening in brackets:");
    for (int v = 0; v < 4; ++v)
        std::printf(" %s %.2f/%.2f (%.2f/%.2f)", kValueNames[kHeight + v], quantile(zShown[v], 0.5),
                    quantile(zShown[v], 0.95), quantile(zRaw[v], 0.5), quantile(zRaw[v], 0.95));
    std::printf("\n");
    std::printf("pose errors, mean |e| over cameras:");
    for (int p = 0; p < kPoseSize; ++p) std::printf(" %s %.3f", kValueNames[p], poseError[p].mean());
    std::printf("\nworst zone left with one value of both its cameras true (fraction of it):");
    for (int p = 0; p < kPoseSize; ++p) std::printf(" %s %.2f", kValueNames[p], valueShare[p].mean());
    std::printf("\nworst zone left with the better of its cameras' whole pose true: %.2f\n", cameraShare.mean());
    printStats("corner errors along the tip's inward bisector and across it, px, by vertex:", byRole);
    printStats("by the tip's angle on screen:", byAngle);
    printStats("by distance from the picture's centre:", byRadius);
    printStats("by camera:", byCamera);
    printStats("by picture size:", bySize);
    printStats("by the refinement's verdict:", byVerdict);
}
