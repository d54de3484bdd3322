#include "app/core/output_writer.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <system_error>
#include <utility>

#include <sys/stat.h>

#include "mz/mzview.h"

namespace mz::core {

namespace {

constexpr const char* kCameraSuffix[kCameraCount] = {"Front.bin", "Rear.bin", "Left.bin", "Right.bin"};

std::string viewName(const MultiviewParam& mv) { return std::string(mv.name, strnlen(mv.name, sizeof mv.name)); }

// Names come from the configuration: one that could leave its folder is not written.
bool safeFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\\') == std::string::npos;
}

// The root of the file system or of a mounted drive (a folder on another device than its parent).
bool isDriveRoot(const std::filesystem::path& folder) {
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::weakly_canonical(folder, ec);
    if (ec || path.empty()) return false;
    if (path == path.root_path()) return true;
    struct stat own {
    }, parent{};
    return ::stat(path.c_str(), &own) == 0 && ::stat(path.parent_path().c_str(), &parent) == 0 &&
           own.st_dev != parent.st_dev;
}

}  // namespace

FileSink::~FileSink() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    posted_.notify_all();
    if (writer_.joinable()) writer_.join();
}

void FileSink::makeDirectory(const char* name) {
    finish();
    std::error_code ec;
    std::filesystem::create_directories(set_.root() / name, ec);
    if (ec) report_.failed.push_back(std::string(name) + " (" + ec.message() + ")");
}

void FileSink::write(const char* directory, const std::string& name, std::span<const uint8_t> payload,
                     int32_t identifier) {
    finish();
    writeNow(directory, name, payload, identifier);
}

void FileSink::writeNow(const char* directory, const std::string& name, std::span<const uint8_t> payload,
                        int32_t identifier) {
    const std::filesystem::path relative = std::filesystem::path(directory) / name;
    if (!safeFileName(name)) {
        report_.failed.push_back(relative.string() + " (not a plain file name)");
        return;
    }
    try {
        format::encodeFlashData(payload, identifier, date_, major_, minor_, file_);
        set_.stage(relative, file_);
        std::optional<station::FileDigest> checksum;
        if (checksums_) checksum = station::FileDigest{static_cast<int64_t>(file_.size()), station::sha256Hex(file_)};
        report_.written.push_back({relative, identifier, static_cast<int64_t>(payload.size()), std::move(checksum)});
    } catch (const std::exception& e) {
        report_.failed.push_back(e.what());
    } catch (...) {
        report_.failed.push_back(relative.string() + " (an unknown failure)");
    }
}

std::vector<uint8_t> FileSink::payload(int length) {
    std::vector<uint8_t> buffer;
    {
        std::lock_guard lock(mutex_);
        buffer.swap(spare_);
    }
    buffer.assign(static_cast<size_t>(std::max(length, 0)), 0);
    return buffer;
}

void FileSink::post(const char* directory, std::string name, std::vector<uint8_t> payload, int32_t identifier) {
    finish();
    if (!startWriter()) {
        writeNow(directory, name, payload, identifier);
        std::lock_guard lock(mutex_);
        spare_ = std::move(payload);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        next_ = Posted{directory, std::move(name), std::move(payload), identifier};
    }
    posted_.notify_all();
}

void FileSink::finish() {
    std::unique_lock lock(mutex_);
    staged_.wait(lock, [this] { return !next_; });
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

bool FileSink::startWriter() {
    if (writer_.joinable()) return true;
    if (noThread_) return false;
    try {
        writer_ = std::thread([this] { writerLoop(); });
    } catch (const std::system_error&) {
        noThread_ = true;  // no thread to be had: the caller's thread stages every file
    }
    return !noThread_;
}

void FileSink::writerLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        posted_.wait(lock, [this] { return next_ || stop_; });
        if (!next_) return;
        Posted& file = *next_;
        lock.unlock();
        std::exception_ptr failure;
        try {
            writeNow(file.directory, file.name, file.payload, file.identifier);
        } catch (...) {
            // writeNow notes every failure of the file itself; what escapes it (no memory left to
            // note one) would end the process on this thread. The caller's thread throws it on,
            // where a synchronous write's would have reached it.
            failure = std::current_exception();
        }
        lock.lock();
        if (failure && !failure_) failure_ = failure;
        spare_ = std::move(file.payload);
        next_.reset();
        staged_.notify_all();
    }
}

void writeViewFiles(format::OutputSet& set, CalibrationState& s, int maskFormat, const format::FlashDate& date,
                    int32_t major, int32_t minor, Ui& ui, SaveReport& report, bool checksums) {
    FileSink sink(set, date, major, minor, report, checksums);
    ui.setProgressStatus("Saving the view files....");
    ui.setProgressPosition(0);

    const int stitched = std::min(s.multiviewCount(), kMultiviewSlots);
    const int singles = s.singleviewCount();
    const int positions = 5 * stitched + 2 * singles;
    int done = 0;
    auto step = [&] {
        if (positions > 0) ui.setProgressPosition(90.0 * done / positions);
        ++done;
    };

    sink.makeDirectory("Lut");
    for (int slot = 0; slot < stitched; ++slot) {
        ViewHandle h = s.multiviewHandles[slot];
        if (!h) continue;
        MultiviewParam& mv = s.multiviews[slot];
        mzMultiviewInit(h, &mv);
        const std::string name = viewName(mv);
        for (int cam = 0; cam < kCameraCount; ++cam) {
            step();
            if (mv.lutId[cam] <= 0) continue;
            int length = 0;
            mzMultiviewGetLUTLen(h, &length, cam);
            std::vector<uint8_t> lut = sink.payload(length);
            mzMultiviewGetLUT(h, lut.data(), static_cast<int>(lut.size()), cam);
            sink.post("Lut", name + kCameraSuffix[cam], std::move(lut), mv.lutId[cam]);
        }
        step();
        int length = 0;
        mzMultiviewGetMaskLen(h, &length, maskFormat);
        std::vector<uint8_t> mask = sink.payload(length);
        mzMultiviewGetMask(h, mask.data(), static_cast<int>(mask.size()), maskFormat);
        sink.post("Lut", name + "Cmask.bin", std::move(mask), mv.maskId);
    }

    for (int slot = 0; slot < singles; ++slot) {
        ViewHandle h = s.singleviewHandles[slot];
        if (!h) continue;
        SingleviewParam& sv = s.singleviews[slot];
        mzSingleviewInit(h, &sv);
        step();
        if (sv.lutId <= 0) continue;
        int length = 0;
        mzSingleviewGetLUTLen(h, &length);
        std::vector<uint8_t> lut = sink.payload(length);
        mzSingleviewGetLUT(h, lut.data(), static_cast<int>(lut.size()));
        sink.post("Lut", singleviewFileName(s.singleviewRaw[slot]), std::move(lut), sv.lutId);
    }

    sink.makeDirectory("Osd");
    for (int slot = 0; slot < singles; ++slot) {
        ViewHandle h = s.singleviewHandles[slot];
        if (!h) continue;
        step();
        const SingleviewParam& sv = s.singleviews[slot];
        if (sv.lutId <= 0 || !(sv.flags & MZ_SV_OVERLAY)) continue;
        const std::string lutName = singleviewFileName(s.singleviewRaw[slot]);
        const std::string base = lutName.size() >= 4 ? lutName.substr(0, lutName.size() - 4) : std::string();
        int length = 0;
        mzSingleviewGetMaskLen(h, &length, kOsdReferenceWidth);
        std::vector<uint8_t> mask = sink.payload(length);
        mzSingleviewGetMask(h, mask.data(), static_cast<int>(mask.size()));
        const int32_t id = static_cast<int32_t>(static_cast<uint32_t>(sv.lutId) + 16u);
        sink.post("Osd", base.empty() ? std::string() : base + "OSD.bin", std::move(mask), id);
    }
    sink.finish();
}

int setOverlayPicture(CalibrationState& s, const format::Bitmap& picture) {
    int taken = 0;
    for (int slot = 0; slot < s.singleviewCount(); ++slot) {
        ViewHandle h = s.singleviewHandles[slot];
        SingleviewParam& sv = s.singleviews[slot];
        if (!h || sv.lutId <= 0 || !(sv.flags & MZ_SV_OVERLAY)) continue;
        mzSingleviewSetImage(h, picture.width, picture.height, picture.pixels.data(), 0);
        mzSingleviewInit(h, &sv);
        ++taken;
    }
    return taken;
}

void writeParamFile(format::OutputSet& set, CalibrationState& s, const format::FlashDate& date, int32_t major,
                    int32_t minor, Ui& ui, SaveReport& report, bool checksums) {
    ui.setProgressStatus("Saving the Param file....");
    ui.setProgressPosition(0);
    MultiviewParam& mv = s.multiviews[0];
    const bool full = s.modelCode == 165;
    const int32_t front = mv.lutId[0];
    const int32_t id = static_cast<int32_t>(static_cast<uint32_t>(front) + (full ? 15u : 5u));
    const bool wanted = full ? id != 0 : front != 0;
    if (wanted) {
        FileSink sink(set, date, major, minor, report, checksums);
        sink.makeDirectory("Param");
        std::vector<uint8_t> buffer(kParamBufferSize, 0);
        int length = 0;
        if (mv.flags & MZ_MV_ROTATED) mzMakeFullTopviewParam(&mv, buffer.data(), &length);
        else mzMakeTopviewParam(&mv, buffer.data(), &length);
        buffer.resize(static_cast<size_t>(std::clamp(length, 0, kParamBufferSize)));
        sink.write("Param", viewName(mv) + (full ? "TopParam.bin" : "Param.bin"), buffer, id);
    }
    ui.setProgressPosition(100);
}

SaveResult saveOutput(SaveInputs& in, Ui& ui) {
    SaveResult result;
    SaveReport& report = result.files;
    const auto stop = [&result](CommandStatus status) {
        result.status = status;
        return result;
    };
    CalibrationState& s = in.state;
    if (!in.viewApplied) {
        ui.showMessage("First click the \"Apply AVM\" button! ", kAppTitle, MessageIcon::kError);
        return stop(CommandStatus::kRefused);
    }
    if (s.modelCode == 200 && !in.preview.parkingLine().confirmed()) {
        ui.showMessage("Parking line data is incorrect.\n Please check the \"Parking Line Assistance\"", kAppTitle,
                       MessageIcon::kInformation);
        return stop(CommandStatus::kRefused);
    }
    const int32_t major = in.preview.settings().dataMajor();
    const int32_t minor = in.preview.settings().dataMinor();
    if (!writableDataVersion(major, minor)) {
        ui.showDetailedMessage("FlashData Version is incorrect. Please check this", kAppTitle,
                               MessageIcon::kInformation,
                               "LUT Version " + std::to_string(major) + "." + std::to_string(minor) +
                                   ": each number from 0 to 99, not both 0");
        return stop(CommandStatus::kRefused);
    }
    const bool supported = s.modelCode == 165 || s.modelCode == 167;
    if (supported) {
        // A table entry holds 64 x and 32 y in 16 bits: wider or taller pictures would wrap.
        static const char* const kNames[kCameraCount] = {"FRONT", "REAR", "LEFT", "RIGHT"};
        for (int c = 0; c < kCameraCount; ++c) {
            const CameraParam& cam = s.cameras[c];
            if (mzCheckLUTSourceSize(cam.width, cam.height) != 0) {
                ui.showMessage("The " + std::string(kNames[c]) + " camera picture (" + std::to_string(cam.width) +
                                   " x " + std::to_string(cam.height) +
                                   ") is too large for the look-up tables (at most 1024 x 2048). Nothing was saved.",
                               kAppTitle, MessageIcon::kError);
                return stop(CommandStatus::kRefused);
            }
        }
    }
    if (!in.applyFailure.empty()) {
        ui.showDetailedMessage(kFailedApplySave, kAppTitle, MessageIcon::kError, in.applyFailure);
        result.detail = in.applyFailure;
        return stop(CommandStatus::kRefused);
    }
    const std::optional<std::string> folder = ui.chooseFolder(kDataSaveChooser, in.dataFolder);
    if (!folder) return stop(CommandStatus::kCancelled);
    // One click on a drive in the chooser gives its root: the tables would land among the
    // drive's own folders, so the operator says it is meant.
    if (isDriveRoot(*folder) &&
        !ui.confirm("The output folder " + *folder +
                        " is the root of a drive. Save the output files (Lut, Osd, Param) there?",
                    kAppTitle)) {
        result.detail = *folder + " is the root of a drive";
        return stop(CommandStatus::kCancelled);
    }
    in.dataFolder = *folder;

    const format::FlashDate date = in.date ? *in.date : format::localDate();
    const Stopwatch writing;
    ui.showProgress();
    if (!supported) {
        ui.hideProgress();
        ui.showMessage("The model is not supported by Calibration Tool", kAppTitle, MessageIcon::kInformation);
        return stop(CommandStatus::kRefused);
    }
    const std::filesystem::path root(in.dataFolder);
    bool unresolved = false;
    if (root.empty()) {
        report.failed.push_back("the output folder (no folder chosen)");
    } else {
        try {
            format::OutputSet set(root, kCalibrationSet, in.tool);
            writeViewFiles(set, s, kStitchedMaskFormat, date, major, minor, ui, report, in.checksums);
            writeParamFile(set, s, date, major, minor, ui, report, in.checksums);
            if (report.failed.empty()) set.commit();
        } catch (const format::UnresolvedSave& e) {
            report.failed.push_back(e.what());
            unresolved = true;
        } catch (const std::exception& e) {
            report.failed.push_back(e.what());
        }
    }
    ui.setProgressPosition(100);
    ui.hideProgress();
    result.write = writing.elapsed();
    if (!report.failed.empty()) {
        std::string text = "These output files could not be saved:";
        for (const std::string& f : report.failed) text += "\n" + f;
        text += unresolved ? "\nThe save stopped part-way: the next save into this folder finishes or undoes it."
                           : "\nNo file of this save was put in place: the folder keeps the files it had.";
        report.written.clear();
        ui.showMessage(text, kAppTitle, MessageIcon::kError);
        return stop(CommandStatus::kFailed);
    }
    ui.showDetailedMessage("Output file saved successfully.", kAppTitle, MessageIcon::kInformation,
                           std::to_string(report.written.size()) + " files written below " + root.string());
    return result;
}

}  // namespace mz::core
