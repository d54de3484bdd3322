// The bowl-view engines (multi-view kinds 1 and 2): the four cameras projected onto a bowl (a flat
// elliptical floor whose rim rises into a curved wall) and seen by a virtual pinhole camera, the
// fifth camera record. Per camera a coordinate map and a weight map, drawn quad by quad from the
// bowl mesh; a stitching map (BlendMap) with the top view's codes; Apply through the top view's
// stitching plan (view/stitch_plan.h).
//
// Frames: the ground frame of the camera records (x to the vehicle's right, y toward its rear,
// millimetres) with z down, so a height above the floor is a negative z. A real camera's pose is
// relative to its world origin offset, as its homography is; the bowl and the virtual camera are
// in the plain ground frame.
//
// The members are defined by section: bowlview.cpp (life cycle, Apply, exports, the operations
// tables), bowlview_maps.cpp (poses, mesh, coordinate and weight maps), bowlview_blend.cpp
// (stitching map and vehicle picture).
#ifndef MZ_VIEW_BOWLVIEW_H
#define MZ_VIEW_BOWLVIEW_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "mz/mztypes.h"
#include "view/big_buffer.h"
#include "view/layer_cache.h"
#include "view/stitch_plan.h"

namespace mz {

inline constexpr int kBowlRings = 51;
inline constexpr int kBowlRingPoints = 61;

// A camera record as a pinhole camera, in the bowl's reading of the pose (geometry/camera_pose.h):
// R = Rx(-rotX) Ry(-rotY) Rz(-rotZ), a point of the pinhole frame is R (Q - position) and its
// pixel (X / Z fx + cx, Y / Z fy + cy). The position includes the offset of the frame the pose was
// solved in (a real camera's world origin).
struct Pinhole {
    float r[3][3];
    float px, py, pz;
    float fx, fy, cx, cy;

    void toCamera(float x, float y, float z, float out[3]) const {
        const float dx = x - px, dy = y - py, dz = z - pz;
        for (int i = 0; i < 3; ++i) out[i] = r[i][0] * dx + r[i][1] * dy + r[i][2] * dz;
    }
};
Pinhole pinholeOf(const CameraParam& cam, float offsetX, float offsetY);

// What the tests see of a bowl engine after Init.
struct BowlviewInternals {
    int width = 0, height = 0;
    const float* maps[4] = {};          // per camera (front, rear, left, right): height x width (x, y) pairs
    const float* weights[4] = {};       // per camera: height x width floats
    const uint8_t* blendMap = nullptr;  // height x width x 3 bytes, no row padding
    const float* mesh = nullptr;        // kBowlRings x kBowlRingPoints ground points (x, y, z)
};

// False when the handle is not a bowl view or has not been initialised.
bool bowlviewInternals(ViewHandle handle, BowlviewInternals* out);

class BowlView {
public:
    explicit BowlView(int kind) : kind_(kind) {}

    void init(MultiviewParam* param);
    void apply(const uint8_t* front, const uint8_t* left, const uint8_t* right, const uint8_t* rear, uint8_t* output);
    void getLutLen(int* length, int camera) const;
    void getLut(void* buffer, int length, int camera) const;
    void saveLut(const char* path, int camera) const;
    void getMaskLen(int* length, int format) const;
    void getMask(void* buffer, int length, int format) const;
    void setImage(int width, int height, const uint8_t* image, unsigned mode, int x, int y, int w, int h);
    void saveImage(const char* path) const;
    void adjustCameraPose(MultiviewParam*, const float*, int) {}
    bool internals(BowlviewInternals* out) const;

private:
    // ---- life cycle (bowlview.cpp) ----
    void build(MultiviewParam* param);
    void allocate(int width, int height);
    void reset();
    void buildPlan();
    void showBlend(uint8_t* output) const;
    Interp interp() const { return (flags_ & 1u) ? Interp::kBilinear : Interp::kNearest; }
    StitchView view() const { return {width_, height_, false}; }
    LayerFrame frame() const {
        return {view(),
                {sourceWidth_, sourceHeight_},
                {maps_[0].data(), maps_[1].data(), maps_[2].data(), maps_[3].data()},
                interp()};
    }
    std::size_t pixelCount() const { return view().pixelCount(); }
    int maskLength(int format) const;
    std::vector<uint8_t> paddedBlend() const;

    // ---- geometry (bowlview_maps.cpp) ----
    void solvePoses(CameraParam* cameras) const;
    void buildMesh();
    void buildMaps(const CameraParam* cameras);
    void buildMap(int c, const CameraParam& cam, const CameraParam& virt);

    // ---- stitching map (bowlview_blend.cpp) ----
    void rebuildBlend(const MultiviewParam& param);
    void mergeVehicle();
    void changeImage(int width, int height, const uint8_t* image, unsigned mode, int x, int y, int w, int h);

    const int kind_;
    const MultiviewParam* param_ = nullptr;
    uint32_t flags_ = 0;
    int width_ = 0, height_ = 0;
    int sourceWidth_ = 0, sourceHeight_ = 0;
    float frontFov_ = 0, rearFov_ = 0, blendWidth_ = 0;
    float wallX_ = 0, wallY_ = 0, bowlHeight_ = 0, floorY_ = 0;
    float ox_ = 0, oy_ = 0;
    std::vector<float> mesh_;  // x, y, z per point, ring after ring
    std::array<BigVector<float>, kCameraCount> maps_;
    std::array<BigVector<float>, kCameraCount> weights_;
    BigVector<uint8_t> blend_;    // no padding
    BigVector<uint8_t> vehicle_;  // the placed vehicle picture
    // Every Init stores the layers before it replaces the maps: no layer is ever made with an old map.
    LayerCache layers_;
};

}  // namespace mz

#endif
