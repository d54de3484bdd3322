#include "app/core/session.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "app/core/config_check.h"
#include "app/core/config_loader.h"
#include "app/core/output_writer.h"
#include "format/picture.h"
#include "mz/mzpattern.h"
#include "mz/mzview.h"

namespace mz::core {

namespace {

constexpr float kHitRadius = 10.0f;
constexpr const char* kMissingImage[kCameraCount] = {
    "Could not read FRONT image file.", "Could not read REAR image file.",
    "Could not read LEFT image file.", "Could not read RIGHT image file."};

void error(Ui& ui, const char* text) { ui.showMessage(text, kAppTitle, MessageIcon::kError); }

constexpr const char* kCameraWords[kCameraCount] = {"FRONT", "REAR", "LEFT", "RIGHT"};

// Why a picture file gave no picture (or a configuration no records), as far as can be told
// without reading it again.
std::string unreadablePicture(const std::filesystem::path& path) {
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(path, ec);
    if (!ec && status.type() == std::filesystem::file_type::directory) return "is a folder";
    if (!ec && status.type() != std::filesystem::file_type::regular) return "is not a regular file (a device or a pipe)";
    return "is not a picture this program reads (uncompressed BMP, PNG or JPEG)";
}

std::string pictureDetail(int camera, const std::filesystem::path& file, const std::string& problem,
                          const CameraParam& front) {
    return std::string(kCameraWords[camera]) + " camera: " + file.string() + " " + problem +
           "; 24-bit colour pictures of the front camera's size, " + std::to_string(front.width) + "x" +
           std::to_string(front.height) + ", are needed";
}

// The detector reads rows of exactly 3 x width bytes: the padded rows of a view are handed over
// without their padding, at the size of the camera record (zeros where the picture is smaller).
std::vector<uint8_t> detectorPixels(const format::Bitmap& image, int width, int height) {
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    std::vector<uint8_t> out(rowBytes * height, 0);
    const size_t copy = std::min(rowBytes, static_cast<size_t>(image.width) * 3);
    for (int y = 0; y < std::min(height, image.height); ++y) {
        std::memcpy(out.data() + rowBytes * y, image.row(y), copy);
    }
    return out;
}

// A w x h quadrant at (x0, y0) of a picture.
format::Bitmap quadrant(const format::Bitmap& whole, int x0, int y0, int w, int h) {
    format::Bitmap part;
    part.width = w;
    part.height = h;
    part.bitsPerPixel = whole.bitsPerPixel;
    part.pixels.assign(static_cast<size_t>(part.stride()) * h, 0);
    for (int y = 0; y < h; ++y) {
        std::memcpy(part.pixels.data() + static_cast<size_t>(part.stride()) * y,
                    whole.row(y0 + y) + static_cast<size_t>(x0) * 3, static_cast<size_t>(w) * 3);
    }
    return part;
}

}  // namespace

Session::Session(Ui& ui, SessionOptions options) : ui_(ui), options_(options), preview_(ui_, state_) {
    preview_.setCameraGuard([this] { joinDetection(); });
    for (int i = 0; i < kCameraCount; ++i) views_[i].caption = kImageCaptions[i];
    char title[128];
    std::snprintf(title, sizeof title, "%s - Calibration Tool v%hu.%hu.%hu", "Untitled",
                  options_.programVersion[0], options_.programVersion[1], options_.programVersion[2]);
    ui_.setTitle(title);
}

Session::~Session() { joinDetection(); }

void Session::joinDetection() {
    if (detection_.joinable()) detection_.join();
}

DetectionResult Session::waitForDetection() {
    joinDetection();
    std::lock_guard lock(mutex_);
    return lastDetection_;
}

std::array<int32_t, 8> Session::searchRegions(int w, int h) {
    return {0, h / 4, w / 2, h - h / 4, w / 2, h / 4, w - w / 2, h - h / 4};
}

std::array<Point2F, kPatternPointCount> Session::defaultPatternPoints(int camera, int width, int height) {
    const float cx = static_cast<float>(width / 2);
    const float cy = static_cast<float>(height / 2);
    if (camera == kFront || camera == kRear) {
        return {{{cx - 100, cy + 30}, {cx - 200, cy + 30}, {cx - 150, cy - 30},
                 {cx + 100, cy + 30}, {cx + 150, cy - 30}, {cx + 200, cy + 30}}};
    }
    return {{{cx - 200, cy}, {cx - 250, cy - 50}, {cx - 200, cy - 100},
             {cx + 200, cy}, {cx + 200, cy - 100}, {cx + 250, cy - 50}}};
}

// ---- Config Load ----

ConfigLoadResult Session::configLoad() {
    ConfigLoadResult result;
    const MessageRecorder::Recording recording(ui_, result.messages);
    // Closing the chooser without "Load" cancels: the last configuration stays as it is.
    const std::optional<std::string> path = ui_.chooseConfiguration(configPath_);
    if (!path) {
        result.status = CommandStatus::kCancelled;
        return result;
    }
    configPath_ = *path;
    // Detection reads the camera records the reader is about to overwrite.
    joinDetection();
    // No lock here: detection has ended, and the reader shows messages, during which a window
    // may draw the image views. The preview lets go of the engines the reader releases.
    const Stopwatch reading;
    const bool read = loadConfiguration(configPath_, state_, ui_, [this] { preview_.forgetViews(); });
    result.read = reading.elapsed();
    if (!read) {
        error(ui_, "Config File error!");
        const std::string problem = unreadablePicture(configPath_);
        result.detail = configPath_ + " " +
                        (problem.rfind("is not a picture", 0) == 0 ? "does not follow the Config.bin layout" : problem);
        result.status = CommandStatus::kFailed;
        return result;
    }
    // The layout held, but the engines could not make sense of every value.
    result.detail = configurationProblem(state_);
    if (!result.detail.empty()) {
        error(ui_, "Config File error!");
        result.status = CommandStatus::kFailed;
        return result;
    }
    const Stopwatch setup;
    result.status = afterConfigLoad();
    result.viewSetup = setup.elapsed();
    return result;
}

CommandStatus Session::afterConfigLoad() {
    ui_.setButtonLook(Button::kConfigLoad, ButtonLook::kDone);
    state_.modelCode = modelCodeOf(state_.modelName);
    if (state_.modelCode != 165 && state_.modelCode != 167) {
        ui_.showMessage("The model is not supported by Calibration Tool", kAppTitle, MessageIcon::kInformation);
        return CommandStatus::kRefused;
    }
    {
        std::lock_guard lock(mutex_);
        const CameraParam& front = state_.cameras[kFront];
        for (int c = 0; c < kCameraCount; ++c) {
            const auto points = defaultPatternPoints(c, front.width, front.height);
            std::copy(points.begin(), points.end(), state_.imagePoints[c].begin());
        }
    }
    preview_.setDataVersion(1, 0);
    CommandStatus status = CommandStatus::kDone;
    for (int slot = std::min(state_.multiviewCount(), kMultiviewSlots) - 1; slot >= 0; --slot) {
        preview_.setHeader(state_.header);
        if (preview_.initStitchedView(slot)) {
            preview_.giveCarImage(slot);
            ui_.previewViewUpdated();
        } else {
            // The other views go on; the configuration is loaded, but not all of it can be shown.
            error(ui_, "AVM size has been exceeded.");
            status = CommandStatus::kFailed;
        }
    }
    if (state_.singleviewCount() >= 1) preview_.initSingleViews();
    return status;
}

// ---- Image Load ----

ImageLoadResult Session::imageLoad() {
    ImageLoadResult result;
    const MessageRecorder::Recording recording(ui_, result.messages);
    if (configPath_.empty()) {
        error(ui_, "First select a configure file.");
        result.status = CommandStatus::kRefused;
        return result;
    }
    // The views are about to get new pictures; a detection still reading the old ones ends first.
    joinDetection();
    const bool quad = state_.modelCode > 200;
    const std::optional<std::string> source =
        quad ? ui_.chooseFile({"", "4VGA Image File(*.bmp)| All Files(*.*)|", "BMP"})
             : ui_.chooseFolder(kImageLoadChooser, dataFolder_);
    if (!source) {
        result.status = CommandStatus::kCancelled;
        return result;
    }
    const Stopwatch reading;
    std::array<format::Bitmap, kCameraCount> pictures;
    if (!quad) dataFolder_ = *source;
    result.status = quad ? readQuad(*source, pictures, result.detail) : readFourFiles(pictures, result.detail);
    if (!result.done()) return result;

    {
        std::lock_guard lock(mutex_);
        for (int c = 0; c < kCameraCount; ++c) views_[c].image = std::move(pictures[c]);
    }
    markImagesLoaded();
    for (int c = 0; c < kCameraCount; ++c) {
        {
            std::lock_guard lock(mutex_);
            putPointsIntoView(c);
        }
        ui_.redrawImageView(c);
    }
    result.read = reading.elapsed();

    {
        // The pass about to start is the one waitForDetection reports from now on.
        std::lock_guard lock(mutex_);
        lastDetection_ = DetectionResult{};
    }
    if (!options_.detectOnLoad) {
        ui_.showImageViews();
        if (preview_.hasEngine()) {
            std::lock_guard lock(mutex_);
            preview_.setImages(views_[kFront].image.pixels, views_[kLeft].image.pixels,
                               views_[kRight].image.pixels, views_[kRear].image.pixels);
        }
        return result;
    }
    try {
        detectionBusy_ = true;
        detection_ = std::thread(&Session::detect, this);
        result.detectionStarted = true;
    } catch (const std::system_error&) {
        detectionBusy_ = false;
        error(ui_, "Thread creation failed.\n\nWait till threads are complete before main continues.");
        result.status = CommandStatus::kFailed;
    }
    ui_.showImageViews();

    if (preview_.hasEngine()) {
        std::lock_guard lock(mutex_);
        preview_.setImages(views_[kFront].image.pixels, views_[kLeft].image.pixels,
                           views_[kRight].image.pixels, views_[kRear].image.pixels);
    }
    return result;
}

CommandStatus Session::readFourFiles(std::array<format::Bitmap, kCameraCount>& pictures, std::string& detail) {
    const std::filesystem::path root(dataFolder_);
    // "image/front.bmp" when it is there, else the PNG or JPEG picture of the same name.
    std::array<std::filesystem::path, kCameraCount> files;
    for (int c = 0; c < kCameraCount; ++c) {
        const std::filesystem::path bitmap = root / kDefaultImageNames[c];
        std::optional<std::filesystem::path> found =
            format::findPicture(bitmap.parent_path(), bitmap.stem().string());
        if (!found) {
            error(ui_, kMissingImage[c]);
            detail = std::string(kCameraWords[c]) + " camera: no " + bitmap.string() + " (nor a .png or .jpg of that name)";
            return CommandStatus::kFailed;
        }
        files[c] = std::move(*found);
    }
    // The libraries take 24-bit pictures of the front camera's size; anything else is refused
    // before a view changes.
    const CameraParam& front = state_.cameras[kFront];
    for (int c = 0; c < kCameraCount; ++c) {
        std::optional<format::Bitmap> picture;
        if (format::hasBitmapExtension(files[c])) {
            picture = format::readBitmap(files[c]);
        } else {
            // Pictures from other sources say what is wrong with them; a bitmap keeps its short message.
            format::PictureRead read = format::readPicture(files[c]);
            if (!read.picture) {
                error(ui_, ("Wrong Image Format !\n\n" + files[c].filename().string() + ": " + read.problem).c_str());
                detail = pictureDetail(c, files[c], read.problem, front);
                return CommandStatus::kFailed;
            }
            if (read.picture->bitsPerPixel != 24) {
                error(ui_, ("Wrong Image Format !\n\n" + files[c].filename().string() +
                            ": the picture is not in colour (24 bits a pixel)").c_str());
                detail = pictureDetail(c, files[c], "is not in colour", front);
                return CommandStatus::kFailed;
            }
            picture = std::move(read.picture);
        }
        if (!picture || picture->bitsPerPixel != 24) {
            error(ui_, "Wrong Image Format !");
            detail = pictureDetail(c, files[c],
                                   picture ? "is a " + std::to_string(picture->bitsPerPixel) + "-bit picture"
                                           : unreadablePicture(files[c]),
                                   front);
            return CommandStatus::kFailed;
        }
        if (picture->width != front.width || picture->height != front.height) {
            error(ui_, "Wrong Image Size !");
            detail = pictureDetail(c, files[c],
                                   "is " + std::to_string(picture->width) + "x" + std::to_string(picture->height),
                                   front);
            return CommandStatus::kFailed;
        }
        pictures[c] = std::move(*picture);
    }
    return CommandStatus::kDone;
}

CommandStatus Session::readQuad(const std::string& path, std::array<format::Bitmap, kCameraCount>& pictures,
                                std::string& detail) {
    const std::optional<format::Bitmap> whole = format::readBitmap(path);
    const int w = state_.cameras[kFront].width;
    const int h = state_.cameras[kFront].height;
    const std::string needed = "; a 24-bit bitmap of twice the camera size, " + std::to_string(2 * w) + "x" +
                               std::to_string(2 * h) + ", is needed";
    if (!whole) {
        error(ui_, "Wrong Image Format !");
        detail = "the four-quadrant picture " + path + " " + unreadablePicture(path) + needed;
        return CommandStatus::kFailed;
    }
    if (w <= 0 || h <= 0 || whole->width != 2 * w || whole->height != 2 * h) {
        error(ui_, "Wrong Image Size !");
        detail = "the four-quadrant picture " + path + " is " + std::to_string(whole->width) + "x" +
                 std::to_string(whole->height) + needed;
        return CommandStatus::kFailed;
    }
    // On screen: front top left, rear top right, left bottom left, right bottom right.
    pictures[kFront] = quadrant(*whole, 0, 0, w, h);
    pictures[kRear] = quadrant(*whole, w, 0, w, h);
    pictures[kLeft] = quadrant(*whole, 0, h, w, h);
    pictures[kRight] = quadrant(*whole, w, h, w, h);
    return CommandStatus::kDone;
}

void Session::markImagesLoaded() {
    ui_.setButtonLook(Button::kImageLoad, ButtonLook::kDone);
    ui_.setButtonLook(Button::kApplyAvm, ButtonLook::kReady);
    imagesLoaded_ = true;
}

void Session::putPointsIntoView(int camera) {
    const auto& p = state_.imagePoints[camera];
    ImageView& view = views_[camera];
    view.triangles[0] = {p[0], p[1], p[2]};
    view.triangles[1] = {p[3], p[4], p[5]};
}

void Session::detect() {
    const Stopwatch pass;
    const CameraParam& front = state_.cameras[kFront];
    const std::array<int32_t, 8> regions = searchRegions(front.width, front.height);
    for (int c = 0; c < kCameraCount; ++c) {
        // The detector works on a copy: the operator may edit markers meanwhile.
        CameraParam camera;
        std::array<Point2F, kPatternPointCount> image;
        std::array<Point2F, kPatternPointCount> world;
        std::vector<uint8_t> pixels;
        {
            std::lock_guard lock(mutex_);
            camera = state_.cameras[c];
            image = state_.imagePoints[c];
            world = state_.worldPoints[c];
            if (camera.width > 0 && camera.height > 0) {
                pixels = detectorPixels(views_[c].image, camera.width, camera.height);
            }
        }
        camera.imagePoints = image.data();
        camera.worldPoints = world.data();
        const int32_t result = pixels.empty() ? -1 : mzGetPatternIP(pixels.data(), &camera, regions.data());
        {
            std::lock_guard lock(mutex_);
            lastDetection_.cameras[c] = result;
            state_.imagePoints[c] = image;
            state_.cameras[c].pointCount = kPatternPointCount;
            putPointsIntoView(c);
            ImageView& view = views_[c];
            view.currentTriangle = view.selectedVertex = -1;
            view.highlightedTriangle = view.highlightedVertex = -1;
            view.dragging = false;
        }
        ui_.redrawImageView(c);
    }
    {
        std::lock_guard lock(mutex_);
        lastDetection_.finished = true;
        lastDetection_.time = pass.elapsed();
    }
    detectionBusy_ = false;
}

// ---- Apply AVM ----

ApplyAvmResult Session::applyAvm() {
    ApplyAvmResult result;
    const MessageRecorder::Recording recording(ui_, result.messages);
    if (!readyToApply()) {
        result.status = CommandStatus::kRefused;
        return result;
    }
    // The points of a running detection would otherwise change under the calibration.
    joinDetection();
    if (surveyApplied_) {
        usePatternPoints(state_);
        surveyApplied_ = false;
    }
    ui_.focusButton(Button::kSaveLut);
    ui_.setButtonLook(Button::kApplyAvm, ButtonLook::kDone);
    {
        std::lock_guard lock(mutex_);
        for (int c = 0; c < kCameraCount; ++c) {
            const ImageView& view = views_[c];
            for (int t = 0; t < 2; ++t) {
                for (int v = 0; v < 3; ++v) state_.imagePoints[c][3 * t + v] = view.triangles[t][v];
            }
        }
    }
    if (!openPreview()) {
        result.status = CommandStatus::kFailed;
        return result;
    }
    const Stopwatch calibrating;
    const bool calibrated = preview_.calibrate(true);
    result.calibrate = calibrating.elapsed();
    result.calibration = preview_.lastCalibrationResult();
    result.refinement = preview_.refinementReport();
    // The view is rebuilt whatever the calibration found: the operator judges it in the preview.
    rebuildAfterApply(result, calibrated);
    return result;
}

ApplyAvmResult Session::applySurvey(const Survey& survey) {
    ApplyAvmResult result;
    const MessageRecorder::Recording recording(ui_, result.messages);
    if (!readyToApply()) {
        result.status = CommandStatus::kRefused;
        return result;
    }
    joinDetection();
    const std::vector<std::string> problems = checkSurvey(survey, state_.cameras);
    if (!problems.empty()) {
        std::string text = "The surveyed points cannot be used:";
        for (const std::string& p : problems) text += "\n" + p;
        error(ui_, text.c_str());
        result.status = CommandStatus::kRefused;
        return result;
    }
    ui_.focusButton(Button::kSaveLut);
    ui_.setButtonLook(Button::kApplyAvm, ButtonLook::kDone);
    if (!openPreview()) {
        result.status = CommandStatus::kFailed;
        return result;
    }
    const Stopwatch calibrating;
    applySurveyToCameras(state_, survey, surveyPoses_);
    surveyApplied_ = true;
    result.calibrate = calibrating.elapsed();
    rebuildAfterApply(result, true);
    return result;
}

bool Session::readyToApply() {
    if (configPath_.empty()) {
        error(ui_, "First select a configure file.");
        return false;
    }
    if (!imagesLoaded_) {
        error(ui_, "There are no images to stitch!");
        return false;
    }
    return true;
}

bool Session::openPreview() {
    ui_.showPreview();
    if (!preview_.hasEngine()) {
        viewApplied_ = false;
        return false;
    }
    // Pictures loaded while no view could take them (an unsupported model before this one).
    if (!preview_.context().imagesPresent) {
        std::lock_guard lock(mutex_);
        preview_.setImages(views_[kFront].image.pixels, views_[kLeft].image.pixels,
                           views_[kRight].image.pixels, views_[kRear].image.pixels);
    }
    return true;
}

void Session::rebuildAfterApply(ApplyAvmResult& result, bool calibrated) {
    preview_.clearParkingLineConfirmation();
    const Stopwatch building;
    viewApplied_ = preview_.rebuild(preview_.viewType());
    result.build = building.elapsed();
    result.viewBuilt = viewApplied_;
    result.status = calibrated && viewApplied_ ? CommandStatus::kDone : CommandStatus::kFailed;
}

// ---- Save LUT ----

SaveResult Session::saveLut() {
    joinDetection();
    SaveInputs inputs{state_, preview_, viewApplied_, dataFolder_, options_.saveDate};
    std::vector<ShownMessage> shown;
    SaveResult result;
    {
        const MessageRecorder::Recording recording(ui_, shown);
        result = saveOutput(inputs, ui_);
    }
    result.messages = std::move(shown);
    return result;
}

// ---- Marker editing ----

int Session::hitTest(const Triangle& t, Point2F p) {
    for (int v = 0; v < 3; ++v) {
        if (p.x >= t[v].x - kHitRadius && p.x < t[v].x + kHitRadius && p.y > t[v].y - kHitRadius &&
            p.y <= t[v].y + kHitRadius) {
            return v;
        }
    }
    return -1;
}

void Session::pointerDown(int camera, Point2F p) {
    if (camera < 0 || camera >= kCameraCount) return;
    {
        std::lock_guard lock(mutex_);
        ImageView& view = views_[camera];
        for (int t = 0; t < 2; ++t) {
            const int v = hitTest(view.triangles[t], p);
            if (v < 0) continue;
            view.currentTriangle = t;
            view.selectedVertex = v;
            view.dragging = true;
            view.grabOffset = {p.x - view.triangles[t][v].x, p.y - view.triangles[t][v].y};
            break;
        }
    }
    ui_.redrawImageView(camera);
}

void Session::pointerMove(int camera, Point2F p) {
    if (camera < 0 || camera >= kCameraCount) return;
    {
        std::lock_guard lock(mutex_);
        ImageView& view = views_[camera];
        if (view.dragging && view.currentTriangle >= 0 && view.selectedVertex >= 0) {
            view.triangles[view.currentTriangle][view.selectedVertex] = {p.x - view.grabOffset.x,
                                                                         p.y - view.grabOffset.y};
        } else {
            view.highlightedTriangle = view.highlightedVertex = -1;
            for (int t = 0; t < 2; ++t) {
                const int v = hitTest(view.triangles[t], p);
                if (v < 0) continue;
                view.highlightedTriangle = t;
                view.highlightedVertex = v;
                break;
            }
        }
    }
    ui_.redrawImageView(camera);
}

void Session::pointerUp(int camera) {
    if (camera < 0 || camera >= kCameraCount) return;
    {
        std::lock_guard lock(mutex_);
        views_[camera].dragging = false;
    }
    ui_.redrawImageView(camera);
}

void Session::arrowKey(int camera, ArrowKey key) {
    if (camera < 0 || camera >= kCameraCount) return;
    {
        std::lock_guard lock(mutex_);
        ImageView& view = views_[camera];
        if (view.currentTriangle < 0 || view.selectedVertex < 0) return;
        Triangle moved = view.triangles[view.currentTriangle];
        Point2F& p = moved[view.selectedVertex];
        switch (key) {
        case ArrowKey::kUp: p.y -= 1; break;
        case ArrowKey::kDown: p.y += 1; break;
        case ArrowKey::kLeft: p.x -= 1; break;
        case ArrowKey::kRight: p.x += 1; break;
        }
        const float w = static_cast<float>(view.image.width);
        const float h = static_cast<float>(view.image.height);
        for (const Point2F& q : moved) {
            if (q.x < 0 || q.x > w || q.y < 0 || q.y > h) return;
        }
        view.triangles[view.currentTriangle] = moved;
    }
    ui_.redrawImageView(camera);
}

ImageView Session::imageView(int camera) const {
    std::lock_guard lock(mutex_);
    return views_.at(camera);
}

int32_t Session::detectionResult(int camera) const {
    std::lock_guard lock(mutex_);
    return lastDetection_.cameras.at(camera);
}

std::array<Point2F, kPatternPointCount> Session::patternPoints(int camera) const {
    std::lock_guard lock(mutex_);
    return state_.imagePoints.at(camera);
}

void Session::setMarkers(int camera, const std::array<Point2F, kPatternPointCount>& points) {
    if (camera < 0 || camera >= kCameraCount) return;
    {
        std::lock_guard lock(mutex_);
        views_[camera].triangles[0] = {points[0], points[1], points[2]};
        views_[camera].triangles[1] = {points[3], points[4], points[5]};
    }
    ui_.redrawImageView(camera);
}

}  // namespace mz::core
