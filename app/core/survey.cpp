#include "app/core/survey.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "geometry/camera_pose.h"
#include "geometry/lens_fit.h"
#include "mz/mzgeometry.h"

namespace mz::core {

namespace {

constexpr const char* kKeys[kCameraCount] = {"front", "rear", "left", "right"};
constexpr const char* kNames[kCameraCount] = {"FRONT", "REAR", "LEFT", "RIGHT"};
// Surveyed rays farther off the axis than this are too close to the horizon of the ideal plane
// for a homography (the inverse lens polynomial is only fitted up to 90 degrees).
constexpr double kMaxIncidenceDeg = 89.0;

Point2F pointOf(const nlohmann::json& j, const std::string& where) {
    if (!j.is_array() || j.size() != 2 || !j[0].is_number() || !j[1].is_number()) {
        throw std::runtime_error(where + " is not [x, y]");
    }
    const double x = j[0].get<double>(), y = j[1].get<double>();
    if (!(std::fabs(x) < 1e7 && std::fabs(y) < 1e7)) throw std::runtime_error(where + " is not a finite point");
    return {static_cast<float>(x), static_cast<float>(y)};
}

struct Vec3 {
    double x, y, z;
};
Vec3 cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 scaled(Vec3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
Vec3 minus(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 unit(Vec3 a) { return scaled(a, 1 / std::sqrt(dot(a, a))); }

double degrees(double r) { return r * 180.0 / M_PI; }

// Ray direction (x, y, 1) of a picture point through the camera's inverse lens mapping.
Vec3 rayOf(const CameraParam& cam, Point2F pixel) {
    Point2F ideal{};
    mzFeatureUndistortion(&pixel, &ideal, &cam);
    return {ideal.x / cam.f, ideal.y / cam.f, 1.0};
}

// Mean and spread of points, for a well-conditioned fit.
struct Normaliser {
    double mx = 0, my = 0, s = 1;
    template <typename Get>
    Normaliser(size_t n, Get get) {
        for (size_t i = 0; i < n; ++i) {
            mx += get(i).first;
            my += get(i).second;
        }
        mx /= n;
        my /= n;
        double d = 0;
        for (size_t i = 0; i < n; ++i) d += std::hypot(get(i).first - mx, get(i).second - my);
        s = d > 0 ? std::sqrt(2.0) * n / d : 1;
    }
};

}  // namespace

Survey parseSurvey(const std::string& text) {
    nlohmann::json root;
    try {
        root = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& e) {  // a syntax fault, or a number beyond a double
        throw std::runtime_error(std::string("not JSON: ") + e.what());
    }
    if (!root.is_object())
        throw std::runtime_error("must be an object of cameras (\"front\", \"rear\", \"left\", \"right\")");
    Survey survey;
    for (const auto& [key, pairs] : root.items()) {
        const int c = static_cast<int>(std::find(kKeys, kKeys + kCameraCount, key) - kKeys);
        if (c == kCameraCount) throw std::runtime_error("\"" + key + "\" is not a camera (front, rear, left, right)");
        if (!pairs.is_array())
            throw std::runtime_error(key + " must be a list of {\"image\": [x, y], \"floor\": [x, y]}");
        for (size_t i = 0; i < pairs.size(); ++i) {
            const std::string where = key + " pair " + std::to_string(i + 1);
            const nlohmann::json& p = pairs[i];
            if (!p.is_object() || !p.contains("image") || !p.contains("floor")) {
                throw std::runtime_error(where + " must be {\"image\": [x, y], \"floor\": [x, y]}");
            }
            survey[c].push_back({pointOf(p["image"], where + ": image"), pointOf(p["floor"], where + ": floor")});
        }
    }
    return survey;
}

std::vector<std::string> checkSurvey(const Survey& survey, const std::array<CameraParam, kCameraCount>& cameras) {
    std::vector<std::string> problems;
    for (int c = 0; c < kCameraCount; ++c) {
        const std::vector<SurveyPair>& pairs = survey[c];
        const std::string name = kNames[c];
        const size_t n = pairs.size();
        if (n < static_cast<size_t>(kSurveyMinPairs) || n > static_cast<size_t>(kSurveyMaxPairs)) {
            problems.push_back(name + ": " + std::to_string(n) + " surveyed pairs; 4 to 50 are needed.");
            continue;
        }
        const CameraParam& cam = cameras[c];
        const size_t earlier = problems.size();
        for (size_t i = 0; i < n; ++i) {
            const Point2F p = pairs[i].image;
            const std::string which = name + " pair " + std::to_string(i + 1);
            if (!(p.x >= 0 && p.y >= 0 && p.x <= cam.width - 1 && p.y <= cam.height - 1)) {
                problems.push_back(which + ": picture point (" + std::to_string(p.x) + ", " + std::to_string(p.y) +
                                   ") lies outside the " + std::to_string(cam.width) + " x " +
                                   std::to_string(cam.height) + " picture.");
                continue;
            }
            const double u = (p.x - cam.cx) / cam.fx, v = (p.y - cam.cy) / cam.fy;
            const std::array<float, 9> c9{cam.c0, cam.c1, cam.c2, cam.c3, cam.c4, cam.c5, cam.c6, cam.c7, cam.c8};
            const double theta = degrees(lens::angleOfRadius(c9.data(), std::hypot(u, v)));
            if (!(theta < kMaxIncidenceDeg)) {
                // A lens polynomial can overflow, or give no number at all, far out in the picture.
                if (std::isfinite(theta)) {
                    problems.push_back(
                        which + ": the picture point looks " + std::to_string(static_cast<int>(std::min(theta, 1e6))) +
                        " degrees off the lens axis, beyond the 89 degrees a floor point can be seen at.");
                } else {
                    problems.push_back(which +
                                       ": the camera's lens record gives no angle for the picture point; a "
                                       "floor point must lie within 89 degrees of the lens axis.");
                }
            }
            for (size_t j = 0; j < i; ++j) {
                const Point2F q = pairs[j].image;
                if (std::hypot(p.x - q.x, p.y - q.y) < 0.5) {
                    problems.push_back(which + ": same picture point as pair " + std::to_string(j + 1) + ".");
                }
                const Point2F a = pairs[i].floor, b = pairs[j].floor;
                if (std::hypot(a.x - b.x, a.y - b.y) < 1.0) {
                    problems.push_back(which + ": same floor point as pair " + std::to_string(j + 1) + ".");
                }
            }
        }
        // Floor points on one line leave the floor mapping undetermined; with four pairs, so
        // does any three of them on one line.
        const Normaliser norm(n,
                              [&](size_t i) { return std::pair<double, double>(pairs[i].floor.x, pairs[i].floor.y); });
        double sxx = 0, syy = 0, sxy = 0;
        for (const SurveyPair& p : pairs) {
            const double dx = p.floor.x - norm.mx, dy = p.floor.y - norm.my;
            sxx += dx * dx, syy += dy * dy, sxy += dx * dy;
        }
        const double mean = (sxx + syy) / 2, diff = std::sqrt((sxx - syy) * (sxx - syy) / 4 + sxy * sxy);
        const double minor = std::sqrt(std::max(0.0, (mean - diff) / n)), major = std::sqrt((mean + diff) / n);
        bool collinear = minor < 0.02 * major || minor < 10.0;
        if (n == 4 && !collinear) {
            for (int skip = 0; skip < 4; ++skip) {
                Point2F t[3];
                for (int i = 0, k = 0; i < 4; ++i) {
                    if (i != skip) t[k++] = pairs[i].floor;
                }
                const double area2 =
                    std::fabs((t[1].x - t[0].x) * (t[2].y - t[0].y) - (t[2].x - t[0].x) * (t[1].y - t[0].y));
                if (area2 < 0.02 * major * major * 4) collinear = true;
            }
        }
        if (collinear) {
            problems.push_back(name + ": the surveyed floor points lie on one line" +
                               std::string(n == 4 ? " (or three of the four do)" : "") +
                               "; spread them over the floor the camera sees.");
        }
        // Pairs that pass every check above can still leave no pose when the lens record turns
        // the picture points into rays that do not spread (a lens polynomial that is flat or
        // overflows): say so here rather than fail while the rig is built.
        if (problems.size() == earlier) {
            bool posed = false;
            try {
                const PoseValues<double> v = poseValues<double>(surveyPose(cam, pairs));
                posed = std::all_of(v.begin(), v.end(), [](double x) { return std::isfinite(x); });
            } catch (const std::runtime_error&) {
            }
            if (!posed) {
                problems.push_back(name +
                                   ": the camera's lens record turns the surveyed picture points into "
                                   "directions from which no pose can be found; check its lens fields.");
            }
        }
    }
    return problems;
}

SurveyPose surveyPose(const CameraParam& cam, const std::vector<SurveyPair>& pairs) {
    SurveyPose pose;
    const size_t n = pairs.size();
    std::vector<Vec3> rays;
    for (const SurveyPair& p : pairs) rays.push_back(rayOf(cam, p.image));
    // Homography from the floor (mm) to the ray's (x, y), both normalised, last entry 1.
    const Normaliser f(n, [&](size_t i) { return std::pair<double, double>(pairs[i].floor.x, pairs[i].floor.y); });
    const Normaliser r(n, [&](size_t i) { return std::pair<double, double>(rays[i].x, rays[i].y); });
    std::vector<std::vector<double>> a;
    std::vector<double> b;
    for (size_t i = 0; i < n; ++i) {
        const double x = (pairs[i].floor.x - f.mx) * f.s, y = (pairs[i].floor.y - f.my) * f.s;
        const double u = (rays[i].x - r.mx) * r.s, v = (rays[i].y - r.my) * r.s;
        a.push_back({x, y, 1, 0, 0, 0, -u * x, -u * y});
        b.push_back(u);
        a.push_back({0, 0, 0, x, y, 1, -v * x, -v * y});
        b.push_back(v);
    }
    const std::vector<double> h = lens::solveLeastSquares(a, b);
    // Undo the normalisations: H = R^-1 Hn F, column by column.
    double hn[3][3] = {{h[0], h[1], h[2]}, {h[3], h[4], h[5]}, {h[6], h[7], 1}};
    const double fm[3][3] = {{f.s, 0, -f.s * f.mx}, {0, f.s, -f.s * f.my}, {0, 0, 1}};
    const double rInv[3][3] = {{1 / r.s, 0, r.mx}, {0, 1 / r.s, r.my}, {0, 0, 1}};
    double t1[3][3] = {}, H[3][3] = {};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) t1[i][j] += hn[i][k] * fm[k][j];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) H[i][j] += rInv[i][k] * t1[k][j];
    Vec3 h1{H[0][0], H[1][0], H[2][0]}, h2{H[0][1], H[1][1], H[2][1]}, h3{H[0][2], H[1][2], H[2][2]};
    // Scale to unit rotation columns, with the floor in front of the camera.
    double lambda = 2 / (std::sqrt(dot(h1, h1)) + std::sqrt(dot(h2, h2)));
    if (H[2][0] * f.mx + H[2][1] * f.my + H[2][2] < 0) lambda = -lambda;
    const Vec3 r1 = unit(scaled(h1, lambda));
    const Vec3 r2 = unit(minus(scaled(h2, lambda), scaled(r1, dot(r1, scaled(h2, lambda)))));
    const Vec3 r3 = cross(r1, r2);
    const Vec3 t = scaled(h3, lambda);
    // Camera centre C = -R^T t, R with the columns r1, r2, r3 (floor to camera).
    const Vec3 centre{-dot(r1, t), -dot(r2, t), -dot(r3, t)};
    pose.posX = centre.x;
    pose.posY = centre.y;
    pose.posZ = centre.z;
    // Tilt and roll as the calibration reads them off the floor's normal: the downward normal in
    // the pinhole frame is the lens frame's upward one with x negated, hence the roll's sign.
    // Heading from the optical axis on the floor.
    const Vec3 down = scaled(r3, -1);
    double tilt = 0, roll = 0;
    tiltAndRollOfNormal(down.x, down.y, down.z, std::hypot(down.x, down.y), tilt, roll);
    const Vec3 axis{r1.z, r2.z, r3.z};
    pose.rotX = degrees(tilt);
    pose.rotZ = -degrees(roll);
    pose.rotY = degrees(std::atan2(-axis.x, axis.y));
    // The pairs' floor points seen through that pose.
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const Vec3 p{pairs[i].floor.x * r1.x + pairs[i].floor.y * r2.x + t.x,
                     pairs[i].floor.x * r1.y + pairs[i].floor.y * r2.y + t.y,
                     pairs[i].floor.x * r1.z + pairs[i].floor.y * r2.z + t.z};
        const Point2F ideal{static_cast<float>(p.x / p.z * cam.f), static_cast<float>(p.y / p.z * cam.f)};
        Point2F pixel{};
        mzFeatureDistortion(&ideal, &pixel, &cam);
        const double e = std::hypot(pixel.x - pairs[i].image.x, pixel.y - pairs[i].image.y);
        sum += e * e;
        pose.worstPx = std::max(pose.worstPx, e);
    }
    pose.rmsPx = std::sqrt(sum / n);
    return pose;
}

void applySurveyToCameras(CalibrationState& state, const Survey& survey, std::array<SurveyPose, kCameraCount>& poses) {
    for (int c = 0; c < kCameraCount; ++c) {
        CameraParam& cam = state.cameras[c];
        const std::vector<SurveyPair>& pairs = survey[c];
        for (size_t i = 0; i < pairs.size(); ++i) {
            state.surveyImagePoints[c][i] = pairs[i].image;
            // The calibration's world points: y grows toward the rear, as in a top view.
            state.surveyWorldPoints[c][i] = {pairs[i].floor.x, -pairs[i].floor.y};
        }
        cam.imagePoints = state.surveyImagePoints[c].data();
        cam.worldPoints = state.surveyWorldPoints[c].data();
        cam.pointCount = static_cast<int32_t>(pairs.size());
        poses[c] = surveyPose(cam, pairs);
        setPoseValues(cam, poseValues<double>(poses[c]));
    }
}

void usePatternPoints(CalibrationState& state) {
    for (int c = 0; c < kCameraCount; ++c) {
        state.cameras[c].imagePoints = state.imagePoints[c].data();
        state.cameras[c].worldPoints = state.worldPoints[c].data();
        state.cameras[c].pointCount = kPatternPointCount;
    }
}

}  // namespace mz::core
