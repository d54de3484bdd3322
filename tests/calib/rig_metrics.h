// How far a solved rig is from its truth, in the terms a reviewer checks.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "mz/mztypes.h"

namespace mz::calib::test {

struct RigErrors {
    double height = 0;   // largest |posZ - truth| / truth
    double tilt = 0;     // degrees
    double roll = 0;     // degrees
    double spacing = 0;  // largest relative error of the six camera-to-camera distances
    double heading = 0;  // degrees, headings relative to the front camera's
    double shared = 0;   // mm, largest gap between the two cameras' world points of one corner
};

// Pose of one camera in the solver's conventions, whatever produced the truth.
struct PoseTruth {
    double x, y, height, tilt, roll, heading;
};

inline double wrapDegrees(double a) {
    while (a > 180) a -= 360;
    while (a <= -180) a += 360;
    return a;
}

inline RigErrors rigErrors(const CameraParam* cams, const std::array<PoseTruth, 4>& truth) {
    RigErrors e;
    for (int k = 0; k < 4; ++k) {
        const PoseTruth& t = truth[k];
        e.height = std::max(e.height, std::abs(cams[k].posZ - t.height) / t.height);
        e.tilt = std::max(e.tilt, std::abs(cams[k].rotX - t.tilt));
        e.roll = std::max(e.roll, std::abs(cams[k].rotZ - t.roll));
        const double relSolved = cams[k].rotY - cams[0].rotY;
        const double relTrue = t.heading - truth[0].heading;
        e.heading = std::max(e.heading, std::abs(wrapDegrees(relSolved - relTrue)));
        for (int j = 0; j < k; ++j) {
            const double solved = std::hypot(cams[k].posX - cams[j].posX, cams[k].posY - cams[j].posY);
            const double real = std::hypot(t.x - truth[j].x, t.y - truth[j].y);
            e.spacing = std::max(e.spacing, std::abs(solved - real) / real);
        }
    }
    // T1: front 0-2 / left 3-5; T2: right 0-2 / front 3-5; T3: rear 0-2 / right 3-5;
    // T4: left 0-2 / rear 3-5.
    const int pairs[4][2] = {{0, 2}, {3, 0}, {1, 3}, {2, 1}};
    for (const auto& p : pairs) {
        for (int i = 0; i < 3; ++i) {
            const Point2F a = cams[p[0]].worldPoints[i];
            const Point2F b = cams[p[1]].worldPoints[i + 3];
            e.shared = std::max(e.shared, static_cast<double>(std::hypot(a.x - b.x, a.y - b.y)));
        }
    }
    return e;
}

// Collects the errors of many rigs and prints their distribution.
struct ErrorLog {
    std::vector<RigErrors> all;

    void add(const RigErrors& e) { all.push_back(e); }

    void print(const char* title) const {
        auto column = [&](double RigErrors::*field) {
            std::vector<double> v;
            for (const RigErrors& e : all) v.push_back(e.*field);
            std::sort(v.begin(), v.end());
            return std::array<double, 3>{v[v.size() / 2], v[v.size() * 9 / 10], v.back()};
        };
        std::printf("%s (%zu rigs; median / 90th percentile / worst)\n", title, all.size());
        const std::pair<const char*, double RigErrors::*> fields[] = {
            {"height %", &RigErrors::height},     {"tilt deg", &RigErrors::tilt},
            {"roll deg", &RigErrors::roll},       {"spacing %", &RigErrors::spacing},
            {"heading deg", &RigErrors::heading}, {"shared mm", &RigErrors::shared}};
        for (const auto& [name, field] : fields) {
            const auto c = column(field);
            const double scale = std::string(name).find('%') != std::string::npos ? 100.0 : 1.0;
            std::printf("  %-12s %8.3f %8.3f %8.3f\n", name, c[0] * scale, c[1] * scale, c[2] * scale);
        }
    }
};

}  // namespace mz::calib::test
