#include "app/core/detector_run.h"

#include <stdexcept>
#include <system_error>

#include "app/core/camera_pictures.h"
#include "app/core/command_result.h"
#include "app/core/config_check.h"
#include "app/core/config_loader.h"
#include "app/core/detection_thread.h"
#include "format/bitmap.h"
#include "format/picture.h"
#include "mz/mzpattern.h"
#include "mz/mzview.h"

namespace mz::core {

namespace {

constexpr const char* kCameraWords[kCameraCount] = {"FRONT", "REAR", "LEFT", "RIGHT"};
constexpr Point2F kMissing = {-1.0f, -1.0f};

std::string sizeText(int width, int height) { return std::to_string(width) + "x" + std::to_string(height); }

// The camera's picture "image/<name>": the bitmap, or else a PNG or JPEG picture of that name.
format::Bitmap readCameraPicture(const std::filesystem::path& dataFolder, int camera, const CameraParam& cam,
                                 std::filesystem::path& path) {
    const std::filesystem::path bitmap = dataFolder / kDefaultImageNames[camera];
    path = bitmap;
    const std::string whose = std::string(kCameraWords[camera]) + " camera picture ";
    const std::optional<std::filesystem::path> found =
        format::findPicture(bitmap.parent_path(), bitmap.stem().string());
    if (!found) throw std::runtime_error(whose + bitmap.string() + ": no such file (nor a .png or .jpg of that name)");
    path = *found;
    format::PictureRead read = format::readPicture(path);
    const std::string needed =
        "24-bit pictures of the camera's size, " + sizeText(cam.width, cam.height) + ", are needed";
    if (!read.picture) {
        throw std::runtime_error(whose + path.string() + ": " +
                                 (read.problem.empty() ? "cannot be read" : read.problem) + "; " + needed);
    }
    const format::Bitmap& p = *read.picture;
    if (p.bitsPerPixel != 24 || p.width != cam.width || p.height != cam.height) {
        throw std::runtime_error(whose + path.string() + " is a " + std::to_string(p.bitsPerPixel) +
                                 "-bit picture of " + sizeText(p.width, p.height) + "; " + needed);
    }
    return std::move(*read.picture);
}

bool holdsPoints(const Point2F* p) {
    for (int i = 0; i < 3; ++i)
        if (p[i].x == kMissing.x && p[i].y == kMissing.y) return false;
    return true;
}

CameraDetection detectOne(DetectorMethod method, const CameraParam& record, const format::Bitmap& picture,
                          int layoutCode, const CameraParam& front) {
    CameraDetection out;
    out.layoutCode = layoutCode;
    const std::vector<uint8_t> pixels = format::unpaddedPixels(picture);
    // Room for the 50 points the corner and marker detectors clear. A half that no detector
    // found keeps (or gets) the missing point (-1, -1).
    std::vector<Point2F> image(MZ_DETECT_POINT_CAPACITY, kMissing), world(MZ_DETECT_POINT_CAPACITY, kMissing);
    CameraParam cam = record;
    cam.imagePoints = image.data();
    cam.worldPoints = world.data();
    cam.pointCount = 0;
    int count = 6;
    const Stopwatch watch;
    // The workflow's search regions, taken from the front camera's size as "Image Load" does.
    const std::array<int32_t, 8> regions = searchRegions(front.width, front.height);
    switch (method) {
    case DetectorMethod::kPattern: out.result = mzGetPatternIP(pixels.data(), &cam, regions.data()); break;
    case DetectorMethod::kCorner:
        out.result = mzDetectCorner(pixels.data(), &cam, layoutCode);
        count = 12;
        break;
    case DetectorMethod::kMarker:
        out.result = mzDetectMarker(pixels.data(), &cam, layoutCode, nullptr);
        out.worldPoints.assign(world.begin(), world.begin() + 6);
        break;
    }
    out.milliseconds = watch.elapsed().count();
    out.imagePoints.assign(image.begin(), image.begin() + count);
    for (int side = 0; side < 2; ++side) {
        const bool outer = holdsPoints(&image[static_cast<size_t>(3 * side)]);
        const bool hole = method != DetectorMethod::kCorner || holdsPoints(&image[static_cast<size_t>(6 + 3 * side)]);
        out.found[side] = outer && hole;
        if (method == DetectorMethod::kPattern && !out.found[side]) {
            out.lost[side] = diagnoseLostHalf(pixels, record, regions, side);
        }
    }
    return out;
}

}  // namespace

const char* detectorMethodName(DetectorMethod method) {
    switch (method) {
    case DetectorMethod::kPattern: return "pattern";
    case DetectorMethod::kCorner: return "corner";
    case DetectorMethod::kMarker: return "marker";
    }
    return "pattern";
}

std::optional<DetectorMethod> parseDetectorMethod(const std::string& name) {
    for (const DetectorMethod m : {DetectorMethod::kPattern, DetectorMethod::kCorner, DetectorMethod::kMarker})
        if (name == detectorMethodName(m)) return m;
    return std::nullopt;
}

void loadConfigurationOrThrow(const std::filesystem::path& config, CalibrationState& state, Ui& ui) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(config, ec)) {
        throw std::runtime_error("the configuration " + config.string() + " is not a file");
    }
    if (!loadConfiguration(config, state, ui)) {
        throw std::runtime_error("the configuration " + config.string() + " cannot be used: Config File error! (it " +
                                 unreadableConfiguration(config) + ")");
    }
    if (const std::string problem = configurationProblem(state); !problem.empty()) {
        throw std::runtime_error("the configuration " + config.string() + " cannot be used: " + problem);
    }
}

DetectorRun runDetector(const std::filesystem::path& config, const std::filesystem::path& dataFolder,
                        DetectorMethod method, const std::array<int, kCameraCount>& layoutCodes, Ui& ui) {
    for (int c = 0; c < kCameraCount; ++c) {
        if (layoutCodes[c] < 0 || layoutCodes[c] > 3) {
            throw std::runtime_error("layout code " + std::to_string(layoutCodes[c]) + " of the " + kCameraWords[c] +
                                     " camera is outside 0..3");
        }
    }
    CalibrationState state;
    loadConfigurationOrThrow(config, state, ui);
    DetectorRun run;
    run.method = method;
    run.model = state.modelName;
    // Every picture is read before any detector runs, so a bad file fails fast.
    std::array<format::Bitmap, kCameraCount> pictures;
    for (int c = 0; c < kCameraCount; ++c) {
        pictures[c] = readCameraPicture(dataFolder, c, state.cameras[c], run.pictures[c]);
    }
    for (int c = 0; c < kCameraCount; ++c) {
        run.cameras[c] = detectOne(method, state.cameras[c], pictures[c], layoutCodes[c], state.cameras[kFront]);
    }
    return run;
}

}  // namespace mz::core
