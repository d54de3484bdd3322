// The views the preview can show: the engines of the stitched and the single views, the list the
// operator picks from, the camera pictures they are built from, and the rebuilding of the current
// one into its output picture.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "app/core/calibration_state.h"
#include "app/core/preview_bowl.h"
#include "app/core/ui.h"
#include "format/bitmap.h"
#include "mz/mztypes.h"

namespace mz::core {

inline constexpr int kPreviewMaxWidth = 1280;
inline constexpr int kPreviewMaxHeight = 800;
inline constexpr size_t kPreviewBufferSize = size_t{kPreviewMaxWidth} * kPreviewMaxHeight * 3;
inline constexpr int kStitchedViewType = -1;
inline constexpr int kBowlViewType = -2;
// The last entry of the view list, after the configured views.
inline constexpr const char* kBowlViewName = "Bowl view";

// The fields of the preview's context that the calibration and the rebuild work on.
struct PreviewContext {
    std::mutex lock;  // guards exit
    bool exit = false;
    std::array<std::vector<uint8_t>, 4> cameraImages;  // front, left, right, rear
    std::vector<uint8_t> stitchedOutput;
    int stitchedWidth = kPreviewMaxWidth;
    int stitchedHeight = kPreviewMaxHeight;
    ViewHandle stitchedHandle = nullptr;
    MultiviewParam* stitchedParam = nullptr;
    int stitchedSlot = -1;
    ViewHandle singleHandle = nullptr;
    SingleviewParam* singleParam = nullptr;
    int singleSlot = -1;
    std::vector<uint8_t> singleOutput;
    int singleWidth = 0;
    int singleHeight = 0;
    bool imagesPresent = false;
    bool initialised = false;
    bool busy = false;
};

class PreviewViews {
public:
    PreviewViews(Ui& ui, CalibrationState& state);
    ~PreviewViews();
    PreviewViews(const PreviewViews&) = delete;
    PreviewViews& operator=(const PreviewViews&) = delete;

    // Called before the views read or write the camera records, which a detection pass may be
    // filling on its own thread: the session waits for it there.
    void setCameraGuard(std::function<void()> guard) { cameraGuard_ = std::move(guard); }
    void settleCameras() {
        if (cameraGuard_) cameraGuard_();
    }

    // A configuration load is about to release the engines these views use.
    void forget();
    void setHeader(const std::array<uint8_t, format::kConfigHeaderSize>& header) { header_ = header; }
    // The configuration has parking guides: the overall height and the parking line mean something.
    bool guides() const { return header_[23] >= 2; }
    int stitchedCount() const;

    // The engine of stitched view `slot`; false when the view does not fit the preview or no
    // engine took it.
    bool initStitched(int slot);
    bool initSingle(int slot);
    // The list lists the single views too from now on; the first of them gets its engine.
    void initSingleViews();
    // The list of the configuration's views: the stitched ones, then the single ones known so far.
    void refillViewList();
    // Makes `entry` of the list current, with the view type it shows.
    void setCurrent(int entry, int viewType);

    // Copies of the camera pictures (padded 24-bit rows of the front camera's size), in the
    // order front, left, right, rear.
    void setImages(std::span<const uint8_t> front, std::span<const uint8_t> left, std::span<const uint8_t> right,
                   std::span<const uint8_t> rear);
    // The pictures by camera; empty when none were given.
    std::array<std::span<const uint8_t>, kCameraCount> pictures() const;
    // False: a rebuild of the stitched view initialises its engine but stitches no picture.
    void setStitchedPicture(bool made) { stitchedPicture_ = made; }
    bool rebuild(int viewType);
    bool rebuildCurrent() { return rebuild(viewType_); }

    bool hasEngine() const { return context_.stitchedHandle != nullptr; }
    int viewType() const { return viewType_; }
    bool stitchedShown() const { return viewType_ == kStitchedViewType; }
    bool bowlShown() const { return viewType_ == kBowlViewType; }
    // The bowl view's entry in the list; -1 while no stitched view is listed.
    int bowlEntry() const { return stitchedCount() > 0 ? static_cast<int>(viewList_.size()) - 1 : -1; }
    PreviewBowl& bowl() { return bowl_; }
    const PreviewBowl& bowl() const { return bowl_; }
    int currentEntry() const { return currentEntry_; }
    const std::vector<std::string>& viewList() const { return viewList_; }
    PreviewContext& context() { return context_; }
    const PreviewContext& context() const { return context_; }
    // The output of the current view: rows padded to 4 bytes, top row first.
    std::span<const uint8_t> output(int& width, int& height) const;

    // The seam check: in every overlap the two cameras' pictures alternate in tiles, so a line that
    // does not continue across a tile border shows where a seam breaks. Elsewhere the picture is
    // the stitched view's own. Only a stitched view has seams; nothing saved changes.
    void setSeamCheck(bool on) { seamCheck_ = on; }
    bool seamCheck() const { return seamCheck_; }

private:
    Ui& ui_;
    CalibrationState& state_;
    PreviewContext context_;
    std::array<uint8_t, format::kConfigHeaderSize> header_{};
    std::vector<std::string> viewList_;
    int singleEntries_ = 0;
    int currentEntry_ = -1;
    int viewType_ = kStitchedViewType;
    std::function<void()> cameraGuard_;
    bool seamCheck_ = false;
    bool stitchedPicture_ = true;
    PreviewBowl bowl_;
    std::vector<uint8_t> seamOutput_;  // the stitched view with the seam check, while it is on
    ViewHandle seamHandle_ = nullptr;  // the seam check's own engine
    void renderSeamCheck();
};

// Side of the seam check's tiles, in view pixels.
inline constexpr int kSeamTile = 12;

}  // namespace mz::core
