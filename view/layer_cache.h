// The camera layers behind a stitching engine (the top view, the bowl views): each camera's last
// picture, what its layer is made of, the stitching plan and the layers sampled at the plan's
// pixels. The engine owns the maps and the stitching codes and hands them in as a LayerFrame.
//
// A camera left out of an Apply keeps its layer: it is sampled again from its last picture through
// the map (and with the interpolation) that was current when that picture came, or read from a copy
// computed over the whole view before that picture or map went. So the result stays bit-identical to
// remapping every picture over the whole view and stitching pixel by pixel.
#ifndef MZ_VIEW_LAYER_CACHE_H
#define MZ_VIEW_LAYER_CACHE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "view/big_buffer.h"
#include "view/stitch_plan.h"

namespace mz {

// What a camera's layer holds: nothing yet (zero), its last picture through the current map or
// through a map the engine has since replaced (kept aside here), or a stored copy.
enum class Layer { kZero, kCurrentMap, kOldMap, kStored };

// The engine's state the layers are read through right now.
struct LayerFrame {
    StitchView view;
    SourceSize source;
    std::array<const float*, kCameraCount> maps;  // 2 floats per working pixel
    Interp mode;
};

class LayerCache {
public:
    // New view size: every layer is zero and the plan empty; the pictures stay.
    void clear();
    // Everything freed, as before the engine's first Init.
    void release();
    // New picture size: the kept pictures are dropped (store the layers first).
    void resetPictures(SourceSize source);

    // The engine is about to overwrite `map`, camera c's current map: a layer made with it takes
    // the map aside first (and leaves its old storage to the engine).
    void retireMap(int c, BigVector<float>& map);
    // Every layer that depends on a picture (and a map) is computed over the whole view and kept.
    void storeLayers(const LayerFrame& frame);

    // The plan is to be made again from the engine's state before it is next used.
    void planChanged();
    void ensurePlan(const LayerFrame& frame, const uint8_t* blend, bool tint);
    bool planComplete(int outHeight) const { return plan_.complete(outHeight); }

    // Takes the pictures given (null: the camera keeps its layer) and, with an output, stitches
    // them into it. The plan must be made.
    void apply(const std::array<const uint8_t*, kCameraCount>& pictures, const LayerFrame& frame, uint8_t* output);

private:
    void take(int c, const uint8_t* picture, Interp mode);
    void sampleInto(int c, const LayerFrame& frame);
    void refreshCompact(int c, const LayerFrame& frame);
    const float* layerMap(int c, const LayerFrame& frame) const;

    std::array<BigVector<uint8_t>, kCameraCount> sources_;  // each camera's last picture
    std::array<Layer, kCameraCount> layer_{};
    std::array<Interp, kCameraCount> layerInterp_{};
    std::array<BigVector<float>, kCameraCount> oldMaps_;     // the map a kOldMap layer was made with
    std::array<std::vector<uint8_t>, kCameraCount> stored_;  // working orientation, kStored only
    StitchPlan plan_;
    bool planStale_ = false;                                  // plan_ is to be made again before it is used
    std::array<std::vector<uint8_t>, kCameraCount> compact_;  // the layer at the plan's pixels
    std::array<bool, kCameraCount> compactValid_{};
};

}  // namespace mz

#endif
