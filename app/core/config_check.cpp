#include "app/core/config_check.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <stdexcept>
#include <tuple>

#include "app/core/config_loader.h"
#include "format/config_reader.h"
#include "format/file_read.h"

namespace mz::core {

namespace {

constexpr const char* kCameraWords[kCameraCount] = {"FRONT", "REAR", "LEFT", "RIGHT"};
constexpr const char* kCameraSuffix[kCameraCount] = {"Front.bin", "Rear.bin", "Left.bin", "Right.bin"};
// Beyond any bay: the triangles are some hundred millimetres, vehicles some metres.
constexpr int32_t kMaxMillimetres = 100000;

std::string number(float v) {
    if (std::isnan(v)) return "not a number";
    if (std::isinf(v)) return "infinite";
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(v));
    return text;
}

// The problems of one record, each with its field; `who` opens every sentence.
class Record {
public:
    Record(ConfigRecord record, int index, std::string who) : record_(record), index_(index), who_(std::move(who)) {}

    ConfigProblem problem(const std::string& field, const std::string& what) const {
        return {record_, index_, field, who_ + what};
    }
    std::optional<ConfigProblem> finite(const char* field, float v) const {
        if (std::isfinite(v)) return std::nullopt;
        return problem(field, std::string(field) + " is " + number(v));
    }
    std::optional<ConfigProblem> size(int32_t width, int32_t height, int32_t most) const {
        for (const auto& [name, value] : {std::pair{"width", width}, std::pair{"height", height}}) {
            if (value < 1 || value > most)
                return problem(name, std::string(name) + " is " + std::to_string(value) + " (1.." +
                                         std::to_string(most) + " pixels)");
        }
        return std::nullopt;
    }
    // A name that becomes part of a file's name: nothing that leaves the output folder.
    std::optional<ConfigProblem> plainName(const char* field, const std::string& name) const {
        const bool separator = name.find_first_of("/\\") != std::string::npos;
        if (name.empty() || separator || name == "." || name == "..")
            return problem(field, std::string(field) + " \"" + name +
                                      "\" is not a plain file name (no folder, no separator, not . or ..)");
        return std::nullopt;
    }

private:
    ConfigRecord record_;
    int index_;
    std::string who_;
};

std::optional<ConfigProblem> cameraProblem(const CalibrationState& s, int index) {
    const CameraParam& cam = s.cameras[index];
    const Record r(ConfigRecord::kCamera, index,
                   "camera record " + std::to_string(10 + index) + " (" + kCameraWords[index] + "): ");
    const std::pair<const char*, float> fields[] = {
        {"f", cam.f},   {"fx", cam.fx}, {"fy", cam.fy}, {"cx", cam.cx}, {"cy", cam.cy}, {"k1", cam.k1}, {"k2", cam.k2},
        {"k3", cam.k3}, {"k4", cam.k4}, {"k5", cam.k5}, {"c0", cam.c0}, {"c1", cam.c1}, {"c2", cam.c2}, {"c3", cam.c3},
        {"c4", cam.c4}, {"c5", cam.c5}, {"c6", cam.c6}, {"c7", cam.c7}, {"c8", cam.c8}};
    for (const auto& [name, value] : fields)
        if (auto p = r.finite(name, value)) return p;
    for (const auto& [name, value] : {std::pair{"f", cam.f}, std::pair{"fx", cam.fx}, std::pair{"fy", cam.fy}})
        if (value == 0.0f) return r.problem(name, std::string(name) + " is 0 (the lens would divide by it)");
    if (cam.k1 == 0 && cam.k2 == 0 && cam.k3 == 0 && cam.k4 == 0 && cam.k5 == 0)
        return r.problem("k1", "k1..k5 are all 0 (the lens maps every ray to the centre)");
    if (cam.c0 == 0 && cam.c1 == 0 && cam.c2 == 0 && cam.c3 == 0 && cam.c4 == 0 && cam.c5 == 0 && cam.c6 == 0 &&
        cam.c7 == 0 && cam.c8 == 0)
        return r.problem("c0", "c0..c8 are all 0 (the lens maps every pixel onto the axis)");
    // Image Load takes four pictures of one size and the engines read each with its own record's
    // size: a record of another size would be read with the wrong row length.
    const CameraParam& front = s.cameras[kFront];
    for (const auto& [name, own, first] :
         {std::tuple{"width", cam.width, front.width}, std::tuple{"height", cam.height, front.height}}) {
        if (own != first)
            return r.problem(name, std::string(name) + " is " + std::to_string(own) + ", the FRONT camera's " +
                                       std::to_string(first) + " (the four pictures share one size)");
    }
    return std::nullopt;
}

std::optional<ConfigProblem> stitchedProblem(const CalibrationState& s, int slot) {
    const MultiviewParam& mv = s.multiviews[slot];
    const std::string name(mv.name, strnlen(mv.name, sizeof mv.name));
    const Record r(ConfigRecord::kStitchedView, slot,
                   "stitched view record " + std::to_string(20 + slot) + " (" + name + "): ");
    if (!std::isfinite(mv.mmPerPixel) || !(mv.mmPerPixel > 0.0f))
        return r.problem("mmPerPixel", "the ground scale (mm per pixel) is " + number(mv.mmPerPixel) + " (above 0)");
    if (auto p = r.size(mv.width, mv.height, kMaxViewSide)) return p;
    // Farther than a view's size from it, the vehicle centre leaves the bay out of the view.
    for (const auto& [field, centre, side] :
         {std::tuple{"centreX", mv.centreX, mv.width}, std::tuple{"centreY", mv.centreY, mv.height}}) {
        if (!std::isfinite(centre) || centre < -side || centre > 2.0f * side)
            return r.problem(field, std::string(field) + " is " + number(centre) +
                                        " (the vehicle centre must lie within " + std::to_string(-side) + ".." +
                                        std::to_string(2 * side) + " pixels)");
    }
    for (const auto& [field, value] :
         {std::pair{"vehicleWidth", mv.vehicleWidth}, std::pair{"vehicleLength", mv.vehicleLength}}) {
        if (value < 0 || value > kMaxMillimetres)
            return r.problem(field, std::string(field) + " is " + std::to_string(value) + " mm (0.." +
                                        std::to_string(kMaxMillimetres) + ")");
    }
    if (auto p = r.plainName("name", name)) return p;
    return std::nullopt;
}

std::optional<ConfigProblem> singleProblem(const CalibrationState& s, int slot) {
    const SingleviewParam& sv = s.singleviews[slot];
    const std::string name = singleviewFileName(s.singleviewRaw[slot]);
    const Record r(ConfigRecord::kSingleView, slot,
                   "single view record " + std::to_string(slot + 1) + " (" + name + "): ");
    if (auto p = r.size(sv.width, sv.height, kMaxViewSide)) return p;
    const std::pair<const char*, float> fields[] = {
        {"wideAngle", sv.wideAngle}, {"tiltX", sv.tiltX},     {"tiltY", sv.tiltY},   {"rotation", sv.rotation},
        {"offsetX", sv.offsetX},     {"offsetY", sv.offsetY}, {"scaleX", sv.scaleX}, {"scaleY", sv.scaleY}};
    for (const auto& [field, value] : fields)
        if (auto p = r.finite(field, value)) return p;
    if (sv.lutId > 0)
        if (auto p = r.plainName("fileName", name)) return p;
    return std::nullopt;
}

// Every file a save would write, by the identifier its header holds; a clash or an identifier
// beyond 16 bits is named with the record and field that gave it.
class FileIds {
public:
    void add(int64_t id, const std::string& file, const Record& record, const std::string& field) {
        if (problem_) return;
        if (id < 0 || id > kMaxFileId) {
            problem_ = record.problem(field, "the identifier of " + file + " is " + std::to_string(id) + " (0.." +
                                                 std::to_string(kMaxFileId) + ", the 16 bits of a file header)");
            return;
        }
        const auto [it, added] = files_.emplace(static_cast<uint16_t>(id), file);
        if (!added)
            problem_ = record.problem(field, "identifier " + std::to_string(id) + " is given to both " + it->second +
                                                 " and " + file);
    }
    const std::optional<ConfigProblem>& problem() const { return problem_; }

private:
    std::map<uint16_t, std::string> files_;
    std::optional<ConfigProblem> problem_;
};

std::optional<ConfigProblem> fileIdProblem(const CalibrationState& s) {
    FileIds ids;
    const int stitched = std::min(s.multiviewCount(), kMultiviewSlots);
    for (int slot = 0; slot < stitched; ++slot) {
        if (!s.multiviewHandles[slot]) continue;
        const MultiviewParam& mv = s.multiviews[slot];
        const std::string name(mv.name, strnlen(mv.name, sizeof mv.name));
        const Record r(ConfigRecord::kStitchedView, slot,
                       "stitched view record " + std::to_string(20 + slot) + " (" + name + "): ");
        for (int c = 0; c < kCameraCount; ++c)
            if (mv.lutId[c] > 0)
                ids.add(mv.lutId[c], "Lut/" + name + kCameraSuffix[c], r, "lutIds/" + std::to_string(c));
        ids.add(int64_t{mv.lutId[3]} + 1, "Lut/" + name + "Cmask.bin", r, "lutIds/3");
    }
    for (int slot = 0; slot < s.singleviewCount(); ++slot) {
        if (!s.singleviewHandles[slot]) continue;
        const SingleviewParam& sv = s.singleviews[slot];
        if (sv.lutId <= 0) continue;
        const std::string name = singleviewFileName(s.singleviewRaw[slot]);
        const Record r(ConfigRecord::kSingleView, slot,
                       "single view record " + std::to_string(slot + 1) + " (" + name + "): ");
        ids.add(sv.lutId, "Lut/" + name, r, "lutId");
        if (sv.flags & MZ_SV_OVERLAY) ids.add(int64_t{sv.lutId} + 16, "Osd/" + name, r, "lutId");
    }
    if (stitched > 0 && s.multiviewHandles[0]) {
        const MultiviewParam& mv = s.multiviews[0];
        const int32_t code = modelCodeOf(s.modelName);
        const int32_t front = mv.lutId[0];
        const std::string name(mv.name, strnlen(mv.name, sizeof mv.name));
        const Record r(ConfigRecord::kStitchedView, 0, "stitched view record 20 (" + name + "): ");
        if (code == 165 && int64_t{front} + 15 != 0)
            ids.add(int64_t{front} + 15, "Param/" + name + "TopParam.bin", r, "lutIds/0");
        if (code == 167 && front != 0) ids.add(int64_t{front} + 5, "Param/" + name + "Param.bin", r, "lutIds/0");
    }
    return ids.problem();
}

// Config Load's messages have nowhere to go while bytes are only checked.
class SilentUi : public Ui {
public:
    void showMessage(const std::string&, const std::string&, MessageIcon) override {}
    std::optional<std::string> chooseConfiguration(const std::string&) override { return std::nullopt; }
    std::optional<std::string> chooseFolder(const FolderChooserTexts&, const std::string&) override {
        return std::nullopt;
    }
    std::optional<std::string> chooseFile(const FileChooserRequest&) override { return std::nullopt; }
    void showProgress() override {}
    void setProgressStatus(const std::string&) override {}
    void setProgressPosition(double) override {}
    void hideProgress() override {}
    void setTitle(const std::string&) override {}
    void setButtonLook(Button, ButtonLook) override {}
};

}  // namespace

std::optional<ConfigProblem> findConfigurationProblem(const CalibrationState& s) {
    for (int c = 0; c < kCameraCount; ++c)
        if (auto p = cameraProblem(s, c)) return p;
    const int stitched = std::min(s.multiviewCount(), kMultiviewSlots);
    for (int slot = 0; slot < stitched; ++slot)
        if (auto p = stitchedProblem(s, slot)) return p;
    const CameraParam& front = s.cameras[kFront];
    if (front.markerLength <= 0 || front.markerLength > kMaxMillimetres) {
        // Every stitched record writes its marker length into the cameras; the last one's stays.
        const Record r(ConfigRecord::kStitchedView, stitched - 1,
                       "stitched view record " + std::to_string(20 + stitched - 1) + ": ");
        return r.problem("markerLength", "the marker length is " + std::to_string(front.markerLength) + " mm (1.." +
                                             std::to_string(kMaxMillimetres) + ")");
    }
    const int32_t singles = s.singleviewHeader[1];
    if (singles < 0 || singles > kSingleviewSlots)
        return ConfigProblem{ConfigRecord::kWhole, -1, "singleviews",
                             "single views: the record count is " + std::to_string(singles) + " (0.." +
                                 std::to_string(kSingleviewSlots) + ")"};
    for (int slot = 0; slot < s.singleviewCount(); ++slot)
        if (s.singleviewHandles[slot])
            if (auto p = singleProblem(s, slot)) return p;
    return fileIdProblem(s);
}

std::string configurationProblem(const CalibrationState& state) {
    const std::optional<ConfigProblem> p = findConfigurationProblem(state);
    return p ? p->text : std::string();
}

std::optional<ConfigProblem> checkConfigurationBytes(std::span<const uint8_t> bytes) {
    CalibrationState state;
    SilentUi ui;
    if (!loadConfiguration(bytes, state, ui)) return ConfigProblem{ConfigRecord::kWhole, -1, "", layoutFault(bytes)};
    return findConfigurationProblem(state);
}

std::string layoutFault(std::span<const uint8_t> bytes) {
    const std::string fault = "does not follow the Config.bin layout";
    try {
        format::decodeConfig(bytes);
    } catch (const std::invalid_argument& e) {
        return fault + ": " + e.what();
    }
    return fault;
}

std::string unreadableConfiguration(const std::filesystem::path& path) {
    std::vector<uint8_t> bytes;
    const std::string problem = format::readWholeFile(path, format::kMaxConfigFileBytes, bytes);
    return problem.empty() ? layoutFault(bytes) : problem;
}

}  // namespace mz::core
