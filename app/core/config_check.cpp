#include "app/core/config_check.h"

#include <cmath>
#include <cstring>
#include <map>

#include "app/core/config_loader.h"

namespace mz::core {

namespace {

constexpr const char* kCameraWords[kCameraCount] = {"FRONT", "REAR", "LEFT", "RIGHT"};
constexpr const char* kCameraSuffix[kCameraCount] = {"Front.bin", "Rear.bin", "Left.bin", "Right.bin"};

std::string number(float v) {
    if (std::isnan(v)) return "not a number";
    if (std::isinf(v)) return "infinite";
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(v));
    return text;
}

std::string cameraProblem(const CameraParam& cam, int index) {
    const std::string who = "camera record " + std::to_string(10 + index) + " (" + kCameraWords[index] + "): ";
    const std::pair<const char*, float> fields[] = {
        {"f", cam.f},   {"fx", cam.fx}, {"fy", cam.fy}, {"cx", cam.cx}, {"cy", cam.cy}, {"k1", cam.k1}, {"k2", cam.k2},
        {"k3", cam.k3}, {"k4", cam.k4}, {"k5", cam.k5}, {"c0", cam.c0}, {"c1", cam.c1}, {"c2", cam.c2}, {"c3", cam.c3},
        {"c4", cam.c4}, {"c5", cam.c5}, {"c6", cam.c6}, {"c7", cam.c7}, {"c8", cam.c8}};
    for (const auto& [name, value] : fields)
        if (!std::isfinite(value)) return who + name + " is " + number(value);
    for (const auto& [name, value] : {std::pair{"f", cam.f}, std::pair{"fx", cam.fx}, std::pair{"fy", cam.fy}})
        if (value == 0.0f) return who + name + " is 0";
    if (cam.k1 == 0 && cam.k2 == 0 && cam.k3 == 0 && cam.k4 == 0 && cam.k5 == 0)
        return who + "k1..k5 are all 0 (the lens maps every ray to the centre)";
    if (cam.c0 == 0 && cam.c1 == 0 && cam.c2 == 0 && cam.c3 == 0 && cam.c4 == 0 && cam.c5 == 0 && cam.c6 == 0 &&
        cam.c7 == 0 && cam.c8 == 0)
        return who + "c0..c8 are all 0 (the lens maps every pixel onto the axis)";
    return {};
}

std::string sizeProblem(const std::string& who, int32_t width, int32_t height) {
    for (const auto& [name, value] : {std::pair{"width", width}, std::pair{"height", height}}) {
        if (value < 1 || value > kMaxViewSide) {
            return who + name + " is " + std::to_string(value) + " (1.." + std::to_string(kMaxViewSide) + " pixels)";
        }
    }
    return {};
}

}  // namespace

std::string configurationProblem(const CalibrationState& s) {
    for (int c = 0; c < kCameraCount; ++c) {
        std::string p = cameraProblem(s.cameras[c], c);
        if (!p.empty()) return p;
    }
    // Every file a save would write, by the identifier its header holds (the low 16 bits).
    std::map<uint16_t, std::string> files;
    std::string clash;
    auto file = [&](int32_t id, const std::string& name) {
        const uint16_t key = static_cast<uint16_t>(static_cast<uint32_t>(id));
        const auto [it, added] = files.emplace(key, name);
        if (!added && clash.empty())
            clash = "identifier " + std::to_string(key) + " is given to both " + it->second + " and " + name;
    };
    const int stitched = std::min(s.multiviewCount(), kMultiviewSlots);
    for (int slot = 0; slot < stitched; ++slot) {
        const MultiviewParam& mv = s.multiviews[slot];
        const std::string name(mv.name, strnlen(mv.name, sizeof mv.name));
        const std::string who = "stitched view record " + std::to_string(20 + slot) + " (" + name + "): ";
        if (!std::isfinite(mv.mmPerPixel) || mv.mmPerPixel == 0.0f)
            return who + "the ground scale (mm per pixel) is " + number(mv.mmPerPixel);
        if (std::string p = sizeProblem(who, mv.width, mv.height); !p.empty()) return p;
        if (!s.multiviewHandles[slot]) continue;
        for (int c = 0; c < kCameraCount; ++c)
            if (mv.lutId[c] > 0) file(mv.lutId[c], "Lut/" + name + kCameraSuffix[c]);
        file(mv.maskId, "Lut/" + name + "Cmask.bin");
    }
    for (int slot = 0; slot < s.singleviewCount(); ++slot) {
        if (!s.singleviewHandles[slot]) continue;
        const SingleviewParam& sv = s.singleviews[slot];
        const std::string name = singleviewFileName(s.singleviewRaw[slot]);
        const std::string who = "single view record " + std::to_string(slot + 1) + " (" + name + "): ";
        if (std::string p = sizeProblem(who, sv.width, sv.height); !p.empty()) return p;
        if (sv.lutId <= 0) continue;
        file(sv.lutId, "Lut/" + name);
        if (sv.flags & MZ_SV_OVERLAY) file(static_cast<int32_t>(static_cast<uint32_t>(sv.lutId) + 16u), "Osd/" + name);
    }
    if (stitched > 0) {
        const MultiviewParam& mv = s.multiviews[0];
        const int32_t code = modelCodeOf(s.modelName);
        const int32_t front = mv.lutId[0];
        const std::string name(mv.name, strnlen(mv.name, sizeof mv.name));
        if (code == 165 && static_cast<uint32_t>(front) + 15u != 0)
            file(static_cast<int32_t>(static_cast<uint32_t>(front) + 15u), "Param/" + name + "TopParam.bin");
        if (code == 167 && front != 0)
            file(static_cast<int32_t>(static_cast<uint32_t>(front) + 5u), "Param/" + name + "Param.bin");
    }
    return clash;
}

}  // namespace mz::core
