// Config.bin bytes along the whole road to the view engines: the core's Config Load, then every
// configured view set up and its tables and masks taken as Save LUT takes them.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/core/calibration_state.h"
#include "app/core/config_loader.h"
#include "app/core/ui.h"
#include "mz/mzview.h"

namespace {

class QuietUi : public mz::core::Ui {
public:
    void showMessage(const std::string&, const std::string&, mz::core::MessageIcon) override {}
    std::optional<std::string> chooseConfiguration(const std::string&) override { return {}; }
    std::optional<std::string> chooseFolder(const mz::core::FolderChooserTexts&, const std::string&) override {
        return {};
    }
    std::optional<std::string> chooseFile(const mz::core::FileChooserRequest&) override { return {}; }
    void showProgress() override {}
    void setProgressStatus(const std::string&) override {}
    void setProgressPosition(double) override {}
    void hideProgress() override {}
    void setTitle(const std::string&) override {}
    void setButtonLook(mz::core::Button, mz::core::ButtonLook) override {}
};

std::vector<uint8_t> sized(int length) { return std::vector<uint8_t>(static_cast<size_t>(std::max(length, 1))); }

// Views and cameras bigger than this are left to the loader alone: setting them up takes longer
// than a fuzz input may.
bool smallEnough(int width, int height) { return width > 0 && height > 0 && width <= 400 && height <= 400; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QuietUi ui;
    mz::core::CalibrationState state;
    if (!mz::core::loadConfiguration(std::span<const uint8_t>(data, size), state, ui)) return 0;
    bool camerasSmall = true;
    for (const CameraParam& cam : state.cameras) camerasSmall = camerasSmall && smallEnough(cam.width, cam.height);
    if (!camerasSmall) return 0;
    const int stitched = std::min(state.multiviewCount(), mz::core::kMultiviewSlots);
    for (int slot = 0; slot < stitched; ++slot) {
        ViewHandle h = state.multiviewHandles[slot];
        MultiviewParam& mv = state.multiviews[slot];
        if (!h || !smallEnough(mv.width, mv.height)) continue;
        mzMultiviewInit(h, &mv);
        for (int cam = 0; cam < mz::core::kCameraCount; ++cam) {
            int length = 0;
            mzMultiviewGetLUTLen(h, &length, cam);
            auto lut = sized(length);
            mzMultiviewGetLUT(h, lut.data(), length, cam);
        }
        int length = 0;
        mzMultiviewGetMaskLen(h, &length, 2);
        auto mask = sized(length);
        mzMultiviewGetMask(h, mask.data(), length, 2);
    }
    for (int slot = 0; slot < state.singleviewCount(); ++slot) {
        ViewHandle h = state.singleviewHandles[slot];
        SingleviewParam& sv = state.singleviews[slot];
        if (!h || !smallEnough(sv.width, sv.height)) continue;
        mzSingleviewInit(h, &sv);
        int length = 0;
        mzSingleviewGetLUTLen(h, &length);
        auto lut = sized(length);
        mzSingleviewGetLUT(h, lut.data(), length);
        mzSingleviewGetMaskLen(h, &length, 800);
        auto mask = sized(length);
        mzSingleviewGetMask(h, mask.data(), length);
    }
    return 0;
}
