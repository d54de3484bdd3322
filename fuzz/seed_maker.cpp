// Writes the seed corpora of the fuzz targets from simulated bays and the project's own writers:
//   mz_fuzz_seeds OUTPUT_FOLDER
// makes OUTPUT_FOLDER/<target>/<seed> for every target. The pictures are scaled down and the views
// made small, so that the seeds stay small and every input runs quickly.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "calib/lens_table.h"
#include "format/bitmap.h"
#include "format/config_json.h"
#include "format/config_writer.h"
#include "format/flash_data.h"
#include "mz/mzview.h"
#include "sim/fixed_bay.h"
#include "sim/render.h"
#include "sim/rig.h"
#include "sim/scene.h"
#include "testing/encoded_pictures.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

fs::path gOut;

void put(const std::string& target, const std::string& name, const Bytes& bytes) {
    const fs::path dir = gOut / target;
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void put(const std::string& target, const std::string& name, const std::string& text) {
    put(target, name, Bytes(text.begin(), text.end()));
}

template <typename T>
void append(Bytes& out, const T& value) {
    const auto* p = reinterpret_cast<const uint8_t*>(&value);
    out.insert(out.end(), p, p + sizeof value);
}

// Packed B, G, R pixels of a picture scaled to width x height (nearest pixel).
Bytes scaled(const mz::sim::Picture& p, int width, int height) {
    Bytes out;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* px = p.row(y * p.height / height) + 3 * (x * p.width / width);
            out.insert(out.end(), px, px + 3);
        }
    return out;
}

// A bitmap file of packed pixels with bitsPerPixel 1, 4, 8 (grey palette), 16 (5-5-5), 24 or 32,
// rows bottom-up or (topDown) top-down.
Bytes bitmapFile(const Bytes& packed, int width, int height, int bits, bool topDown) {
    const int paletteEntries = bits <= 8 ? (1 << bits) : 0;
    const int stride = ((width * bits + 31) / 32) * 4;
    const uint32_t offset = 14 + 40 + 4 * paletteEntries;
    Bytes out;
    auto u16 = [&](uint16_t v) { append(out, v); };
    auto u32 = [&](uint32_t v) { append(out, v); };
    out.push_back('B');
    out.push_back('M');
    u32(offset + static_cast<uint32_t>(stride * height));
    u32(0);
    u32(offset);
    u32(40);
    u32(static_cast<uint32_t>(width));
    u32(static_cast<uint32_t>(topDown ? -height : height));
    u16(1);
    u16(static_cast<uint16_t>(bits));
    u32(0);
    u32(static_cast<uint32_t>(stride * height));
    u32(2835);
    u32(2835);
    u32(static_cast<uint32_t>(paletteEntries));
    u32(0);
    for (int i = 0; i < paletteEntries; ++i) {
        const uint8_t g = static_cast<uint8_t>(i * 255 / (paletteEntries - 1));
        out.insert(out.end(), {g, g, g, 0});
    }
    for (int r = 0; r < height; ++r) {
        const int y = topDown ? r : height - 1 - r;
        Bytes row(static_cast<size_t>(stride), 0);
        for (int x = 0; x < width; ++x) {
            const uint8_t* px = packed.data() + 3 * (static_cast<size_t>(y) * width + x);
            const int grey = (px[0] + px[1] + px[2]) / 3;
            switch (bits) {
            case 1: row[x / 8] |= static_cast<uint8_t>((grey >> 7) << (7 - x % 8)); break;
            case 4: row[x / 2] |= static_cast<uint8_t>((grey >> 4) << (x % 2 ? 0 : 4)); break;
            case 8: row[x] = static_cast<uint8_t>(grey); break;
            case 16: {
                const uint16_t v = static_cast<uint16_t>((px[2] >> 3) << 10 | (px[1] >> 3) << 5 | (px[0] >> 3));
                std::memcpy(&row[2 * x], &v, 2);
                break;
            }
            default: std::memcpy(&row[static_cast<size_t>(bits / 8) * x], px, 3); break;
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

// The configuration of a bay with every view made small (an eighth of each side), so that the
// whole road to the engines runs in milliseconds.
constexpr int kShrink = 8;

mz::format::ConfigFile smallConfig(mz::format::ConfigFile config) {
    for (auto& car : config.carImages) {
        // Every kShrink-th pixel of every kShrink-th row of the view's vehicle picture.
        const size_t view = car.type - mz::format::kRecordCarImage0;
        if (view >= config.multiviews.size()) continue;
        const auto& mv = config.multiviews[view];
        const int w = mv.width / kShrink, h = mv.height / kShrink;
        const size_t oldStride = MZ_ROW_STRIDE24(static_cast<size_t>(mv.width));
        std::vector<uint8_t> pixels(static_cast<size_t>(mz::format::paddedImageSize(w, h)));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                std::memcpy(&pixels[MZ_ROW_STRIDE24(static_cast<size_t>(w)) * y + 3 * x],
                            &car.pixels[oldStride * kShrink * y + 3 * kShrink * x], 3);
        car.pixels = std::move(pixels);
    }
    for (auto& mv : config.multiviews) {
        mv.width /= kShrink;
        mv.height /= kShrink;
        mv.centreX /= kShrink;
        mv.centreY /= kShrink;
        mv.mmPerPixel *= kShrink;
    }
    for (auto& sv : config.singleviews) {
        sv.width /= kShrink;
        sv.height /= kShrink;
        sv.centreX /= kShrink;
        sv.centreY /= kShrink;
    }
    return config;
}

void configSeeds(const mz::sim::Rig& rig, const std::string& tag) {
    const auto small = smallConfig(mz::sim::buildConfig(rig));
    auto noCars = small;
    noCars.carImages.clear();
    const Bytes bin = mz::format::encodeConfig(noCars);
    put("config_bin", tag + ".bin", bin);
    put("config_load", tag + ".bin", bin);
    if (tag == "drawn") {
        put("config_bin", tag + "-car.bin", mz::format::encodeConfig(small));
        put("config_load", tag + "-car.bin", mz::format::encodeConfig(small));
    }
    put("config_json", tag + ".json", mz::format::configToJson(noCars, {}));
    put("flash_data", tag + "-config.bin", mz::format::encodeFlashData(bin, 0x4001, {2026, 12, 8}, 1, 0));
}

// Surveyed points: the bay's four camera records, then the JSON of a grid of floor points ahead of
// each camera and the pixels it sees them at.
void surveySeed(const mz::sim::Rig& rig, const std::string& tag) {
    Bytes seed;
    std::string text = "{";
    for (int c = 0; c < 4; ++c) {
        const mz::sim::Camera& camera = rig.cameras[c];
        CameraParam record = mz::sim::cameraRecord(camera);
        record.width -= 1;  // the target adds one
        record.height -= 1;
        seed.insert(seed.end(), reinterpret_cast<const uint8_t*>(&record),
                    reinterpret_cast<const uint8_t*>(&record) + offsetof(CameraParam, imagePoints));
        text += std::string(c ? ", " : "") + "\"" + mz::sim::kCameraNames[c] + "\": [";
        bool first = true;
        for (const mz::sim::SurveyPoint& p : mz::sim::surveyGrid(camera)) {
            char pair[160];
            std::snprintf(pair, sizeof pair, "%s{\"image\": [%.3f, %.3f], \"floor\": [%.1f, %.1f]}", first ? "" : ", ",
                          p.pixel.x, p.pixel.y, p.floor.x, p.floor.y);
            text += pair;
            first = false;
        }
        text += "]";
    }
    text += "}";
    seed.insert(seed.end(), text.begin(), text.end());
    put("survey", tag + ".in", seed);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: mz_fuzz_seeds OUTPUT_FOLDER\n");
        return 2;
    }
    gOut = argv[1];
    try {
        mz::sim::RigOptions drawn;
        drawn.seed = 3;
        const mz::sim::Rig rig = mz::sim::drawRig(drawn);
        mz::sim::RigOptions fixedOptions;
        fixedOptions.fixedLayout = true;
        const mz::sim::Rig fixed = mz::sim::fixedRig(fixedOptions);
        configSeeds(rig, "drawn");
        configSeeds(fixed, "fixed");
        surveySeed(rig, "drawn");
        surveySeed(fixed, "fixed");

        // Pictures: the front camera of the drawn bay, small, in every bit depth and both row orders.
        const mz::sim::Picture front = mz::sim::renderCamera(rig, mz::sim::kFront);
        const Bytes tiny = scaled(front, 36, 24);
        for (int bits : {1, 4, 8, 16, 24, 32})
            put("bitmap", "front-" + std::to_string(bits) + ".bmp", bitmapFile(tiny, 36, 24, bits, bits % 3 == 0));
        put("bitmap", "front-written.bmp", mz::sim::encodeBmp([&] {
                mz::sim::Picture p(18, 12);
                const Bytes px = scaled(front, 18, 12);
                for (int y = 0; y < 12; ++y) std::memcpy(p.row(y), px.data() + 3 * 18 * y, 3 * 18);
                return p;
            }()));
        Bytes grey;
        for (size_t i = 0; i < tiny.size(); i += 3) grey.push_back(tiny[i + 1]);
        put("picture", "front.png", mztest::encodePng(36, 24, 3, tiny));
        put("picture", "front-grey.png", mztest::encodePng(36, 24, 1, grey));
        put("picture", "front.jpg", mztest::encodeJpeg(36, 24, 3, tiny, 80));
        put("picture", "front-grey.jpg", mztest::encodeJpeg(36, 24, 1, grey, 60));

        // Lens tables: the built-in one and one from a simulated camera, in the text format.
        auto lensText = [](const mz::calib::LensTable& t, int rows) {
            std::string s = std::to_string(t.width) + " " + std::to_string(t.height) + " " + std::to_string(t.pitchX) +
                            " " + std::to_string(t.pitchY) + " " + std::to_string(rows) + "\n";
            for (int i = 0; i < rows; ++i)
                s += std::to_string(t.rows[i].angle) + " " + std::to_string(t.rows[i].radius) + "\n";
            return s;
        };
        const auto& builtIn = mz::calib::builtInLens();
        put("lens_text", "builtin.txt", lensText(builtIn, std::min(builtIn.rowCount, mz::calib::kMaxFileRows)));
        {
            mz::calib::LensRow rows[mz::calib::kBuiltInRows];
            mz::calib::LensTable t{};
            t.rowCount = 91;
            t.rows = rows;
            mz::calib::lensFromCamera(t, mz::sim::cameraRecord(rig.cameras[0]));
            put("lens_text", "simulated.txt", lensText(t, 91));
        }

        // Detector inputs: camera records, rectangles and pictures of both bays.
        for (int c = 0; c < 4; c += 2) {
            const CameraParam record = mz::sim::cameraRecord(rig.cameras[c]);
            const mz::sim::Picture picture = mz::sim::renderCamera(rig, c);
            const auto points = mz::sim::cameraPoints(rig, c);
            // mzGetPatternIP on a 96 x 64 picture of the camera (its lens scaled with it).
            CameraParam small = record;
            const float s = 96.0f / static_cast<float>(record.width);
            small.fx *= s;
            small.fy *= s;
            small.cx *= s;
            small.cy *= s;
            small.width = 96 - 1;  // the target adds one
            small.height = 64 - 1;
            Bytes seed(reinterpret_cast<const uint8_t*>(&small),
                       reinterpret_cast<const uint8_t*>(&small) + offsetof(CameraParam, imagePoints));
            for (int32_t v : {0, 8, 48, 56, 48, 8, 48, 56}) append(seed, v);
            for (const auto& p : points.image)
                append(seed, Point2F{static_cast<float>(p.x * s), static_cast<float>(p.y * s)});
            const Bytes pixels = scaled(picture, 96, 64);
            seed.insert(seed.end(), pixels.begin(), pixels.end());
            put("pattern", std::string(mz::sim::kCameraNames[c]) + ".in", seed);

            // mzMultiCalibApply: the four cameras of the bay with their true points.
            if (c == 0) {
                Bytes calib;
                append(calib, int32_t{0});
                append(calib, static_cast<int32_t>(drawn.markerLength));
                calib.push_back(1);
                append(calib, CalibAdjust{10, -5, 0, 0, 1, 0});
                for (int k = 0; k < 4; ++k) {
                    CameraParam cam = mz::sim::cameraRecord(rig.cameras[k]);
                    cam.width -= 1;
                    cam.height -= 1;
                    cam.pointCount = 6;
                    calib.insert(calib.end(), reinterpret_cast<const uint8_t*>(&cam),
                                 reinterpret_cast<const uint8_t*>(&cam) + offsetof(CameraParam, imagePoints));
                    for (const auto& p : mz::sim::cameraPoints(rig, k).image)
                        append(calib, Point2F{static_cast<float>(p.x), static_cast<float>(p.y)});
                }
                put("multicalib", "drawn.in", calib);
                Bytes shifted = calib;
                shifted[0] = 1;  // right isosceles triangles
                put("multicalib", "drawn-isosceles.in", shifted);
            }
        }
        for (int c = 0; c < 4; ++c) {
            // The corner and marker detectors on the fixed bay's pictures scaled to 120 x 80 (the lens
            // scaled with them); the search rectangles stay those of the full picture.
            const CameraParam record = mz::sim::cameraRecord(fixed.cameras[c]);
            const mz::sim::Picture picture = mz::sim::renderCamera(fixed, c);
            for (int mode : {0, 1, 3}) {
                Bytes seed;
                seed.push_back(static_cast<uint8_t>(mode));
                CameraParam cam = record;
                const float s = 120.0f / static_cast<float>(cam.width);
                cam.fx *= s;
                cam.fy *= s;
                cam.cx *= s;
                cam.cy *= s;
                cam.width = 120 - 1;
                cam.height = 80 - 1;
                seed.insert(seed.end(), reinterpret_cast<const uint8_t*>(&cam),
                            reinterpret_cast<const uint8_t*>(&cam) + offsetof(CameraParam, imagePoints));
                seed.push_back(static_cast<uint8_t>(c + 1));
                for (int32_t v : {10, 40, 100, 100, 130, 40, 100, 100}) append(seed, v);
                if (mode < 2 && c % 2 == 0) {
                    const Bytes pixels = scaled(picture, 120, 80);
                    seed.insert(seed.end(), pixels.begin(), pixels.end());
                }
                put("detect", std::string(mz::sim::kCameraNames[c]) + "-" + std::to_string(mode) + ".in", seed);
            }
        }

        // View engines: the bay's stitched and single views, made small, with its cameras.
        const auto config = smallConfig(mz::sim::buildConfig(rig));
        for (unsigned kind = 0; kind < 4; ++kind) {
            Bytes seed;
            seed.push_back(static_cast<uint8_t>(kind));
            auto camera = [&](int k) {
                CameraParam cam = mz::sim::cameraRecord(rig.cameras[k % 4]);
                const float s = 96.0f / static_cast<float>(cam.width);
                cam.fx *= s;
                cam.fy *= s;
                cam.cx *= s;
                cam.cy *= s;
                cam.width = 96 - 1;
                cam.height = 64 - 1;
                cam.pointCount = 6;
                seed.insert(seed.end(), reinterpret_cast<const uint8_t*>(&cam),
                            reinterpret_cast<const uint8_t*>(&cam) + offsetof(CameraParam, imagePoints));
                const auto points = mz::sim::cameraPoints(rig, k % 4);
                for (const auto& p : points.image)
                    append(seed, Point2F{static_cast<float>(p.x * s), static_cast<float>(p.y * s)});
                for (const auto& p : points.floor)
                    append(seed, Point2F{static_cast<float>(p.x), static_cast<float>(-p.y)});
            };
            if (kind < 3) {
                for (int k = 0; k < 5; ++k) camera(k);
                const auto& v = config.multiviews[std::min<size_t>(kind, config.multiviews.size() - 1)];
                MultiviewParam mv{};
                mv.flags = v.flags;
                mv.vehicleWidth = v.vehicleWidth;
                mv.vehicleLength = v.vehicleLength;
                mv.frontFov = 150;
                mv.rearFov = 150;
                mv.blendWidth = 10;
                mv.vehicleColour = 0x010101;
                mv.lineWidth = 4;
                mv.blendMode = static_cast<int32_t>(kind == 0 ? 4 : 0);
                mv.bowlWallX = 3000;
                mv.bowlWallY = 4000;
                mv.bowlHeight = 1500;
                mv.bowlFloorY = 2000;
                mv.width = std::min(v.width, 128) - 1;
                mv.height = std::min(v.height, 96) - 1;
                mv.centreX = v.centreX;
                mv.centreY = v.centreY;
                mv.mmPerPixel = v.mmPerPixel;
                std::memcpy(mv.name, v.name.data(), std::min<size_t>(v.name.size(), sizeof mv.name));
                for (int k = 0; k < 4; ++k) mv.lutId[k] = v.lutIds[k];
                seed.insert(seed.end(), reinterpret_cast<const uint8_t*>(&mv),
                            reinterpret_cast<const uint8_t*>(&mv) + offsetof(MultiviewParam, cameras));
            } else {
                camera(0);
                const auto& v = config.singleviews.front();
                SingleviewParam sv{};
                sv.flags = v.flags;
                sv.wideAngle = v.wideAngle;
                sv.tiltX = v.tiltX;
                sv.tiltY = v.tiltY;
                sv.offsetX = v.offsetX;
                sv.offsetY = v.offsetY;
                sv.rotation = v.rotation;
                sv.scaleX = v.scaleX;
                sv.scaleY = v.scaleY;
                sv.width = std::min(v.width, 128) - 1;
                sv.height = std::min(v.height, 96) - 1;
                sv.centreX = static_cast<float>(v.centreX);
                sv.centreY = static_cast<float>(v.centreY);
                sv.overlayScale = static_cast<float>(v.overlayScale);
                sv.lutId = v.lutId;
                seed.insert(seed.end(), reinterpret_cast<const uint8_t*>(&sv),
                            reinterpret_cast<const uint8_t*>(&sv) + offsetof(SingleviewParam, camera));
                append(seed, static_cast<int32_t>(drawn.vehicleWidth));
                append(seed, static_cast<int32_t>(drawn.vehicleLength));
            }
            const Bytes pixels = scaled(front, 32, 16);
            seed.insert(seed.end(), pixels.begin(), pixels.end());
            put("views", "kind" + std::to_string(kind) + ".in", seed);
        }

        // Flash data: a view's table in the container, and one with a damaged block.
        {
            ViewHandle h = mzSingleviewCreate(0);
            CameraParam cam = mz::sim::cameraRecord(rig.cameras[0]);
            SingleviewParam sv{};
            sv.flags = MZ_SV_LENS;
            sv.scaleX = sv.scaleY = 1;
            sv.width = 40;
            sv.height = 30;
            sv.centreX = 20;
            sv.centreY = 15;
            sv.camera = &cam;
            mzSingleviewInit(h, &sv);
            int n = 0;
            mzSingleviewGetLUTLen(h, &n);
            Bytes lut(static_cast<size_t>(n));
            mzSingleviewGetLUT(h, lut.data(), n);
            mzSingleviewRelease(&h);
            Bytes file = mz::format::encodeFlashData(lut, 0x2101, {2026, 12, 8}, 1, 0);
            put("flash_data", "lut.bin", file);
            file[mz::format::kFlashHeaderSize + 5] ^= 0x40;
            put("flash_data", "lut-damaged.bin", file);
        }

        // The command line: argument lists (NUL between arguments) and texts.
        auto args = [](std::initializer_list<const char*> list) {
            std::string s(1, '\0');
            bool first = true;
            for (const char* a : list) {
                if (!first) s.push_back('\0');
                s += a;
                first = false;
            }
            return s;
        };
        put("cli", "run.args",
            args({"run", "--config", "Config.bin", "--data", ".", "--lut-version", "1.2", "--points", "p.json",
                  "--report", "r.json", "--literal"}));
        put("cli", "simulate.args",
            args({"simulate", "--out", "bay", "--seed", "7", "--image-size", "640x480", "--layout", "fixed", "--noise",
                  "1.5", "--quad"}));
        put("cli", "inspect.args", args({"inspect", "--json", "a.bin", "b.bin"}));
        put("cli", "guide.args", args({"parking-guide", "--help"}));
        put("cli", "config.args", args({"config", "--help"}));
        put("cli", "bowl.args", args({"bowl", "--help"}));
        put("cli", "detect.args", args({"detect", "--help"}));
        put("cli", "lens.args", args({"lens", "--help"}));
        put("cli", "points-full.json",
            std::string(1, '\1') + R"({"front": [[10, 20], [30, 40], [50, 60], [70, 80], [90, 100], [110, 120]]})");
        put("cli", "points-half.json",
            std::string(1, '\1') +
                R"({"left": {"right": [[1.5, 2], [3, 4], [5, 6e2]]}, "rear": {"left": [[0,0],[1,1],[2,2]]}})");
        put("cli", "version.txt", std::string(1, '\2') + "12.34");
        put("cli", "size.txt", std::string(1, '\2') + "720x480");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mz_fuzz_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
