// The stitched top-view engine (multi-view kind 0): one coordinate map per camera, the stitching
// map (BlendMap) that says which camera or pair of cameras supplies every top-view pixel, and the
// stitching of four camera pictures through a plan (view/stitch_plan.h).
//
// Init (and every change of the stitching map) turns the maps and the BlendMap into the plan. The
// cameras' layers are kept in a LayerCache (view/layer_cache.h); a map that Init replaces while a
// layer still depends on it is handed to the cache first.
//
// The members are defined by section: topview.cpp (life cycle, Apply, the operations table),
// topview_maps.cpp (coordinate maps and pose adjustment), topview_blend.cpp (stitching map and
// vehicle picture), topview_export.cpp (tables, masks and file dumps).
#ifndef MZ_VIEW_TOPVIEW_ENGINE_H
#define MZ_VIEW_TOPVIEW_ENGINE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "geometry/image.h"
#include "mz/mztypes.h"
#include "view/big_buffer.h"
#include "view/layer_cache.h"
#include "view/stitch_plan.h"
#include "view/topview.h"
#include "view/vehicle_rect.h"

namespace mz {

class TopView {
public:
    TopView();

    void init(MultiviewParam* param);
    void apply(const uint8_t* front, const uint8_t* left, const uint8_t* right, const uint8_t* rear, uint8_t* output);
    void getLutLen(int* length, int camera) const;
    void getLut(void* buffer, int length, int camera);
    void saveLut(const char* path, int camera);
    void getMaskLen(int* length, int format) const;
    void getMask(void* buffer, int length, int format) const;
    void setImage(int width, int height, const uint8_t* image, unsigned mode, int x, int y, int w, int h);
    void saveImage(const char* path) const;
    void adjustCameraPose(MultiviewParam* param, const float* delta, int camera);
    bool internals(TopviewInternals* out);

private:
    // ---- life cycle (topview.cpp) ----
    void build(MultiviewParam* param);
    void allocate(int workW, int workH);
    void reset();

    // Without memory to finish a change the engine is left empty, as before its first Init.
    template <class F>
    void guarded(F change) {
        try {
            change();
        } catch (...) {
            reset();
            throw;
        }
    }

    StitchView view() const { return {workWidth_, workHeight_, rotated_}; }
    SourceSize source() const { return {sourceWidth_, sourceHeight_}; }
    int outWidth() const { return view().outWidth(); }
    int outHeight() const { return view().outHeight(); }
    std::size_t pixelCount() const { return view().pixelCount(); }
    // Working pixel index of output pixel i: the output turns the working image so that the
    // vehicle's front faces left, output(x, y) = working(Wk - 1 - y, x).
    std::size_t workIndex(std::size_t i) const { return view().workIndex(i); }
    Interp interp() const;
    LayerFrame frame() const {
        return {view(), source(), {maps_[0].data(), maps_[1].data(), maps_[2].data(), maps_[3].data()}, interp()};
    }

    void buildPlan() { layers_.planChanged(); }
    void retireMaps(const std::array<bool, kCameraCount>& stale);

    // ---- maps (topview_maps.cpp) ----
    // Everything a camera's map is computed from, bit for bit: its homography, its lens, the
    // source and working sizes, the vehicle centre and the ground scale.
    using MapKey = std::array<uint32_t, 9 + 19 + 7>;
    MapKey mapKey(int c, const CameraParam& cam, float mmPerPixel) const;
    void buildMaps(const MultiviewParam& param);
    // Computes the maps Init left pending; every reader of a map calls it first.
    void ensureMaps();
    void buildMapRows(int c, int first, int last);

    // ---- stitching map (topview_blend.cpp) ----
    void changeImage(int width, int height, const uint8_t* image, unsigned mode, int x, int y, int w, int h);
    uint8_t* code(int col, int row) { return &blend_[3 * (static_cast<std::size_t>(row) * workWidth_ + col)]; }
    // The blend modes' codes row by row (rows first..last-1), on two threads; the seams of modes 2
    // and 3 are drawn afterwards over the whole map.
    void blendRows(int first, int last);
    void writeBandsAndSides(int first, int last);
    float weight(int c, int col, int row) const;
    template <class F>
    void forEachCornerPixel(int first, int last, F f) const;
    void blendAuto(int first, int last);
    void blendFov(int first, int last);
    void blendLines(bool pure, int first, int last);
    void drawSeams(bool pure);
    void mergeVehicle();
    ImageBufferPtr workingPicture(int width, int height, const uint8_t* image) const;

    // ---- export (topview_export.cpp) ----
    int lutLength() const { return maps_[0].empty() ? 0 : outWidth() * outHeight() * 4; }
    int maskLength(int format) const;
    std::vector<uint8_t> blendOutput() const;

    const MultiviewParam* param_ = nullptr;
    uint32_t flags_ = 0;
    bool rotated_ = false;
    int workWidth_ = 0, workHeight_ = 0;
    float ox_ = 0, oy_ = 0;
    VehicleRect rect_;
    std::array<BigVector<float>, kCameraCount> maps_;
    std::array<MapKey, kCameraCount> mapKey_{};
    std::array<bool, kCameraCount> mapKeyValid_{};  // maps_[c] is (or, pending, will be) the map of mapKey_[c]
    // A map is computed when first read, not by the Init that keyed it: the views a configuration
    // sets up before its calibration get new maps before anything reads the first ones. A pending
    // map keeps the camera record and scale of its Init, which the caller may change meanwhile.
    std::array<bool, kCameraCount> mapPending_{};
    std::array<CameraParam, kCameraCount> mapCamera_{};
    std::array<float, kCameraCount> mapScale_{};
    LayerCache layers_;
    BigVector<uint8_t> blend_;    // working orientation, no padding
    BigVector<uint8_t> vehicle_;  // the placed vehicle picture, working orientation
    std::array<std::array<std::array<float, 3>, 3>, kCameraCount> homography_{};
    int sourceWidth_ = 0, sourceHeight_ = 0;
    float frontFov_ = 150.0f, rearFov_ = 150.0f, blendWidth_ = 10.0f;
    uint32_t colour_ = 0x010101;
    int lineWidth_ = 4;
    int blendMode_ = 4;
};

}  // namespace mz

#endif
