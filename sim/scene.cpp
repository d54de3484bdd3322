#include "sim/scene.h"

#include <algorithm>
#include <cmath>

#include <cstdlib>
#include <memory>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "format/atomic_file.h"
#include "format/config_writer.h"
#include "format/picture.h"
#include "format/sample_views.h"
#include "format/stitching_map.h"
#include "geometry/angles.h"
#include "mz/mzgeometry.h"

namespace mz::sim {

namespace {

constexpr uint32_t kBilinear = 0x0001;
constexpr uint32_t kFullTopView = 0x8000;

struct ViewSpec {
    const char* name;
    int width, height;
    double centreX, centreY, mmPerPixel;
    uint32_t flags;
};

// A full-screen top view with the vehicle lying across the display, and two upright ones beside
// the front and the rear camera's view, leaving more floor ahead of or behind the vehicle.
constexpr ViewSpec kTopViews[3] = {
    {"AVM2D_FULL", 720, 480, 360, 240, 14, kBilinear | kFullTopView},
    {"AVM2D_FRONT", 400, 480, 200, 280, 20, kBilinear},
    {"AVM2D_REAR", 400, 480, 200, 200, 20, kBilinear},
};

nlohmann::json point(Vec2 p) { return nlohmann::json::array({p.x, p.y}); }

}  // namespace

format::ConfigFile buildConfig(const Rig& rig) {
    format::ConfigFile cfg;
    cfg.model = rig.options.model;
    cfg.parkingGuideLevel = 2;
    for (int i = 0; i < 4; ++i) cfg.cameras.push_back(format::cameraRecordOf(rig.cameras[i].lens, i));
    for (int slot = 0; slot < 3; ++slot) {
        const ViewSpec& s = kTopViews[slot];
        format::ConfigMultiview mv;
        mv.type = static_cast<uint8_t>(format::kRecordMultiview0 + slot);
        mv.name = s.name;
        mv.flags = s.flags;
        mv.width = s.width;
        mv.height = s.height;
        mv.centreX = static_cast<float>(s.centreX);
        mv.centreY = static_cast<float>(s.centreY);
        mv.mmPerPixel = static_cast<float>(s.mmPerPixel);
        mv.vehicleWidth = static_cast<int32_t>(std::lround(rig.options.vehicleWidth));
        mv.vehicleLength = static_cast<int32_t>(std::lround(rig.options.vehicleLength));
        mv.markerLength = static_cast<float>(rig.options.markerLength);
        cfg.multiviews.push_back(mv);

        format::ConfigCarImage car;
        car.type = static_cast<uint8_t>(format::kRecordCarImage0 + slot);
        car.pixels = format::drawStitchingMap(format::stitchingLayout(mv)).pixels;
        cfg.carImages.push_back(std::move(car));
    }
    cfg.singleviews = format::sampleSingleviews();
    format::numberTables(cfg);
    return cfg;
}

std::string truthJson(const Rig& rig) {
    using nlohmann::json;
    json j;
    j["conventions"] = {
        {"units", "millimetres on the floor, pixels in pictures, degrees for angles"},
        {"floor",
         "origin at the vehicle centre on the floor; +x to the vehicle's right, +y to "
         "its front, +z up; the floor is z = 0"},
        {"height", "camera height above the floor, positive (the position's z)"},
        {"camera", "+x right in the picture, +y down the picture, +z along the optical axis"},
        {"rotation",
         "floor to camera: p_camera = rotation * (p_floor - position); rows are the "
         "camera axes in the floor frame"},
        {"heading",
         "azimuth of the optical axis from +y turning toward +x (clockwise seen from "
         "above): front about 0, right 90, rear 180, left -90"},
        {"tilt", "optical axis below the horizontal, positive looking down"},
        {"roll",
         "turn about the optical axis; positive turns the camera's x axis toward its y "
         "axis, so the scene appears turned counter-clockwise in the picture"},
        {"imagePoints",
         "distorted pixels, pixel centres at whole numbers; left-half triangle then "
         "right-half triangle, each lowest corner first, then clockwise on screen"},
        {"triangles",
         "T1 front-left, T2 front-right, T3 rear-right, T4 rear-left; corner 0 points "
         "at the nearest vehicle corner"},
    };
    const RigOptions& o = rig.options;
    j["seed"] = o.seed;
    j["imageSize"] = {o.width, o.height};
    j["model"] = o.model;
    j["markerLength"] = o.markerLength;
    j["noiseSigma"] = o.noiseSigma;
    j["vehicle"] = {{"width", o.vehicleWidth}, {"length", o.vehicleLength}};
    const char* triNames[4] = {"T1", "T2", "T3", "T4"};
    for (int t = 0; t < 4; ++t) {
        json corners = json::array();
        for (const Vec2& c : rig.triangles[t].corners) corners.push_back(point(c));
        j["triangles"][triNames[t]] = {{"corners", corners}, {"band", rig.triangles[t].band}};
    }
    for (int c = 0; c < 4; ++c) {
        const Camera& cam = rig.cameras[c];
        const CameraPoints pts = cameraPoints(rig, c);
        json image = json::array(), floor = json::array();
        for (int i = 0; i < 6; ++i) {
            image.push_back(point(pts.image[i]));
            floor.push_back(point(pts.floor[i]));
        }
        json rotation = json::array();
        for (const auto& row : cam.rotation) rotation.push_back({row[0], row[1], row[2]});
        const Lens& l = cam.lens;
        j["cameras"][kCameraNames[c]] = {
            {"position", {cam.position.x, cam.position.y, cam.position.z}},
            {"height", cam.position.z},
            {"tilt", cam.tiltDeg},
            {"roll", cam.rollDeg},
            {"heading", cam.headingDeg},
            {"rotation", rotation},
            {"lens",
             {{"f", l.f},
              {"fx", l.fx},
              {"fy", l.fy},
              {"cx", l.cx},
              {"cy", l.cy},
              {"k", l.k},
              {"c", l.c},
              {"width", l.width},
              {"height", l.height},
              {"fieldOfView", degrees(2 * l.maxAngle)}}},
            {"triangles", {triNames[kCameraTriangles[c][0]], triNames[kCameraTriangles[c][1]]}},
            {"imagePoints", image},
            {"worldPoints", floor},
        };
        if (o.fixedLayout) {
            json inner = json::array();
            for (const Vec2& p : pts.inner) inner.push_back(point(p));
            j["cameras"][kCameraNames[c]]["innerImagePoints"] = inner;
            j["cameras"][kCameraNames[c]]["layoutCode"] = c;
        }
    }
    if (o.fixedLayout) j["layout"] = "fixed";
    // A clean bay's truth stays as it always was; any effect records the level and every value.
    const Realism& r = o.realism;
    if (r.any() || r.level != "clean") {
        j["realism"] = {
            {"level", r.level}, {"rimBlur", r.rimBlur}, {"noiseGain", r.noiseGain}, {"chroma", r.chroma},
            {"light", r.light}, {"shadow", r.shadow},   {"wear", r.wear},           {"jpegQuality", r.jpegQuality},
            {"glare", r.glare}, {"cable", r.cable},     {"blurSigma", o.blurSigma}, {"vignetting", o.vignetting}};
    }
    j["attempts"] = rig.attempts;
    return j.dump(2) + "\n";
}

std::vector<uint8_t> encodeBmp(const Picture& picture) {
    std::vector<uint8_t*> rows(picture.height);
    for (int y = 0; y < picture.height; ++y) rows[y] = const_cast<uint8_t*>(picture.row(y));
    ImageBuffer image{};
    image.headerSize = 32;
    image.channels = 3;
    image.width = picture.width;
    image.height = picture.height;
    image.stride = picture.stride;
    image.imageSize = picture.stride * picture.height;
    image.rows = rows.data();
    int size = 0;
    std::unique_ptr<uint8_t, decltype(&std::free)> bmp(mzImageToBmp(&image, &size), &std::free);
    if (!bmp) throw std::runtime_error("cannot encode a bitmap");
    return std::vector<uint8_t>(bmp.get(), bmp.get() + size);
}

std::vector<uint8_t> encodeJpeg(const Picture& picture, int quality) {
    return format::encodeJpeg(picture.width, picture.height, picture.stride, picture.bytes, quality);
}

void writeScene(const std::filesystem::path& dir, const Rig& rig, int threads) {
    const std::vector<std::string> problems = checkRig(rig);
    if (!problems.empty()) {
        std::string message = "the calibration bay is refused:";
        for (const std::string& p : problems) message += "\n  " + p;
        throw std::runtime_error(message);
    }
    const format::ConfigFile config = buildConfig(rig);
    const std::vector<uint8_t> configBytes = format::encodeConfig(config);
    std::array<Picture, 4> pictures;
    for (int c = 0; c < 4; ++c) pictures[c] = renderCamera(rig, c, threads);

    // With compression the pictures are what a camera's encoder sends: JPEG files.
    const int quality = rig.options.realism.jpegQuality;
    const char* ending = quality > 0 ? ".jpg" : ".bmp";
    auto encode = [&](const Picture& p) { return quality > 0 ? encodeJpeg(p, quality) : encodeBmp(p); };
    std::filesystem::create_directories(dir / "image");
    format::writeFileAtomically(dir / "Config.bin", configBytes);
    for (int c = 0; c < 4; ++c) {
        format::writeFileAtomically(dir / "image" / (std::string(kCameraNames[c]) + ending), encode(pictures[c]));
    }
    if (rig.options.quad) {
        format::writeFileAtomically(
            dir / "image" / (std::string("quad") + ending),
            encode(makeQuad(pictures[kFront], pictures[kRear], pictures[kLeft], pictures[kRight])));
    }
    format::writeFileAtomically(dir / "truth.json", truthJson(rig));
}

}  // namespace mz::sim
