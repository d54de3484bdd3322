// The table-driven stitching of four camera layers, open to every engine that stitches them (the
// top view, the bowl views): a plan made once from the coordinate maps and the stitching codes,
// then per frame only sampling and integer blending. Everything comes in as plain data.
//
// A camera's layer (its picture remapped over the whole view) is never built as such: only the
// pixels the plan needs are sampled, into a compact row in output order, and the stitch reads the
// compact rows front to back. The result is bit-identical to remapping every picture with the
// remap and stitching pixel by pixel.
#ifndef MZ_VIEW_STITCH_PLAN_H
#define MZ_VIEW_STITCH_PLAN_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "mz/mztypes.h"
#include "view/big_buffer.h"

namespace mz {

// Camera numbers of the maps, layers and plans (the record order).
enum StitchCamera {
    kFront = MZ_CAMERA_FRONT,
    kRear = MZ_CAMERA_REAR,
    kLeft = MZ_CAMERA_LEFT,
    kRight = MZ_CAMERA_RIGHT,
    kCameraCount = MZ_CAMERA_COUNT
};

constexpr uint8_t kNoSourceFill[3] = {0, 0, 255};

inline std::size_t rowBytes(int width) { return MZ_ROW_STRIDE24(static_cast<std::size_t>(width)); }

enum class Interp { kNearest, kBilinear, kBicubic };

// One camera sample of one output pixel: where it is read and how it is weighted. src < 0 marks a
// pixel without a source (it gets the fill colour).
struct Sample {
    int32_t src;  // byte offset of the (top-left) source pixel
    uint16_t fx, fy;
};

// The stitching step of one output pixel. Constant codes carry their bytes in p, q and w.
struct StitchOp {
    uint8_t kind;
    uint8_t p, q, w;
};
enum : uint8_t { kCopy = 0, kBlend = 1, kBlendTint = 2, kConstant = 3 };

// Consecutive output pixels of one row with the same step (and cameras); blend shares and constant
// bytes follow pixel by pixel in arrays of their own.
struct StitchRun {
    uint8_t kind, p, q;
    uint32_t count;
};

// The view the plan is made for: a working image (rows of workWidth pixels) that the output shows
// as it is, or turned so that output(x, y) = working(workWidth - 1 - y, x).
struct StitchView {
    int workWidth = 0, workHeight = 0;
    bool rotated = false;
    int outWidth() const { return rotated ? workHeight : workWidth; }
    int outHeight() const { return rotated ? workWidth : workHeight; }
    std::size_t pixelCount() const { return static_cast<std::size_t>(workWidth) * workHeight; }
    // Working pixel index of output pixel i.
    std::size_t workIndex(std::size_t i) const {
        if (!rotated) return i;
        const std::size_t outW = static_cast<std::size_t>(workHeight);
        const std::size_t x = i % outW, y = i / outW;
        return x * workWidth + (workWidth - 1 - y);
    }
};

// The source pictures: contiguous BGR rows of rowBytes(width), all cameras of one size.
struct SourceSize {
    int width = 0, height = 0;
};

struct StitchPlan {
    BigVector<StitchOp> ops;                              // per output pixel
    std::array<BigVector<Sample>, kCameraCount> samples;  // per camera, output order
    std::vector<StitchRun> runs;
    std::vector<uint32_t> rowRuns;  // first run of every output row, and the end
    std::vector<uint8_t> blendShares;
    std::vector<uint8_t> constants;

    bool complete(int outHeight) const { return rowRuns.size() == static_cast<std::size_t>(outHeight) + 1; }
    void clear();    // nothing to stitch, storage kept
    void release();  // nothing to stitch, storage freed
};

// The remap's own rules for where map entry `work` (an (x, y) pair of floats) reads and whether it
// has a source at all.
Sample makeSample(const float* map, Interp mode, std::size_t work, SourceSize source);

// Samples a picture at precomputed positions into consecutive 3-byte pixels.
void sampleRun(const uint8_t* src, int sourceWidth, Interp mode, const Sample* first, std::size_t count, uint8_t* d);
template <class Samples>
void samplePicture(const uint8_t* src, int sourceWidth, Interp mode, const Samples& samples, uint8_t* d) {
    sampleRun(src, sourceWidth, mode, samples.data(), samples.size(), d);
}

// Bilinear sampling runs on the processor's vector instructions where it has them (the bytes are the
// same); tests and benchmarks can turn that off. Returns whether it is on now.
bool setVectorSampling(bool enabled);

// The plan for stitching codes `blend` (3 bytes per working pixel, no padding) over the cameras'
// maps (2 floats per working pixel). With `tint`, blended pixels show reddish.
void buildStitchPlan(const StitchView& view, const uint8_t* blend, const std::array<const float*, kCameraCount>& maps,
                     SourceSize source, Interp mode, bool tint, StitchPlan& plan);

// The working pixels camera c supplies under the plan, in output order.
std::vector<std::size_t> plannedPixels(const StitchView& view, const StitchPlan& plan, int c);

// Stitches the compact layers (3 bytes per planned sample of each camera) into output rows of
// rowBytes(outWidth).
void stitch(const StitchPlan& plan, int outWidth, const std::array<const uint8_t*, kCameraCount>& compact,
            uint8_t* output);

// The same stitch straight from the four pictures (source rows of rowBytes(sourceWidth)): every run
// samples its cameras as it goes, with no compact layers in between. The bytes equal sampling every
// camera with samplePicture and stitching the results.
void stitchPictures(const StitchPlan& plan, int outWidth, const std::array<const uint8_t*, kCameraCount>& pictures,
                    int sourceWidth, Interp mode, uint8_t* output);

}  // namespace mz

#endif
