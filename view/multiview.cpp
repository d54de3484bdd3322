// The stitched top-view engine (multi-view kind 0): one coordinate map per camera, the stitching
// map (BlendMap) that says which camera or pair of cameras supplies every top-view pixel, and the
// stitching of four camera pictures.
//
// Apply is table-driven. Init (and every change of the stitching map) turns the maps and the
// BlendMap into a plan: per camera, the source offsets and interpolation weights of the output
// pixels it must supply, in output order, and per output pixel, the stitching step. A camera's
// layer (its picture remapped over the whole view) is never built as such: it is defined by the
// camera's last picture and the map and interpolation it was applied with, and only the pixels
// the plan needs are sampled, into a compact row in output order. The result is bit-identical to
// remapping every picture over the whole view and stitching pixel by pixel, also for a camera left
// out of a later Apply: its layer is then sampled again from its last picture with the map that was
// current when that picture came (kept aside when Init replaces the maps).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "geometry/image.h"
#include "geometry/matrix.h"
#include "mz/mzview.h"
#include "view/topview.h"
#include "view/vehicle_rect.h"
#include "view/view_engine.h"

namespace mz {
namespace {

enum Camera { kFront = 0, kRear = 1, kLeft = 2, kRight = 3, kCameraCount = 4 };

constexpr uint8_t kNoSourceFill[3] = {0, 0, 255};
constexpr float kMissingText = 36245.0f;
constexpr float kDegToRadCoarse = 0.017453f;  // the blend geometry's own constant
constexpr float kInv255 = 0.003921569f;
constexpr int kFracBits = 10;
constexpr int kFracOne = 1 << kFracBits;
constexpr int kCubicShift = 32;
constexpr int kPlacedBorder = 2;

std::size_t rowBytes(int width) { return (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3}; }

bool keyByte(uint8_t v) { return v >= 1 && v <= 254; }
bool opaque(const uint8_t* p) { return keyByte(p[0]) && keyByte(p[1]) && keyByte(p[2]); }

// Cubic convolution weights (a = -0.75) at k/1024 and 1 + k/1024, times 2^32: the same integers
// as the remap's, so that a precomputed bicubic sample equals the remap's.
struct CubicWeights {
    int64_t near[kFracOne + 1];
    int64_t far[kFracOne + 1];

    CubicWeights() {
        for (int64_t k = 0; k <= kFracOne; ++k) {
            near[k] = 5 * k * k * k - 9 * k * k * kFracOne + (int64_t{1} << kCubicShift);
            const int64_t m = kFracOne + k;
            far[k] = -3 * m * m * m + 15 * m * m * kFracOne - 24 * m * kFracOne * kFracOne +
                     3 * (int64_t{1} << kCubicShift);
        }
    }
};

const CubicWeights& cubicWeights() {
    static const CubicWeights weights;
    return weights;
}

inline uint8_t roundCubic(__int128 v) {
    constexpr __int128 kHalf = static_cast<__int128>(1) << (2 * kCubicShift - 1);
    if (v <= 0) return 0;
    const __int128 r = (v + kHalf) >> (2 * kCubicShift);
    return static_cast<uint8_t>(r > 255 ? 255 : r);
}

// One camera sample of one output pixel: where it is read and how it is weighted. src < 0 marks a
// pixel without a source (it gets the fill colour).
struct Sample {
    int32_t src;  // byte offset of the (top-left) source pixel
    uint16_t fx, fy;
};

// What a camera's layer holds: nothing yet (zero), its last picture through the current map or
// through the map that Init replaced, or a stored copy.
enum class Layer { kZero, kCurrentMap, kOldMap, kStored };

enum class Interp { kNearest, kBilinear, kBicubic };

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

struct Ray {
    float x, y, z;
};

class TopView {
public:
    TopView() {
        for (auto& h : homography_)
            for (auto& row : h) row.fill(0.0f);
    }

    void init(MultiviewParam* param) {
        if (param == nullptr || param->cameras == nullptr || !viewSizeFits(param->width, param->height)) return;
        guarded([&] { build(param); });
    }

    void build(MultiviewParam* param) {
        param_ = param;
        const bool rotated = (param->flags & MZ_MV_ROTATED) != 0;
        const int workW = rotated ? param->height : param->width;
        const int workH = rotated ? param->width : param->height;

        const CameraParam& front = param->cameras[kFront];
        const bool newSize = workW != workWidth_ || workH != workHeight_ || maps_[0].empty();
        const bool newSource = front.width != sourceWidth_ || front.height != sourceHeight_;
        if (newSize) {
            allocate(workW, workH);
        } else if (newSource) {
            storeLayers();  // their pictures are about to go
        }
        if (newSource) {
            sourceWidth_ = std::max(front.width, 0);
            sourceHeight_ = std::max(front.height, 0);
            const std::size_t bytes = rowBytes(sourceWidth_) * static_cast<std::size_t>(sourceHeight_);
            for (auto& s : sources_) s.assign(bytes, 0);
        }
        flags_ = param->flags;
        rotated_ = rotated;
        ox_ = rotated ? static_cast<float>(param->height) - param->centreY : param->centreX;
        oy_ = rotated ? param->centreX : param->centreY;

        frontFov_ = param->frontFov;
        rearFov_ = param->rearFov;
        blendWidth_ = param->blendWidth;
        colour_ = param->vehicleColour;
        lineWidth_ = param->lineWidth;
        blendMode_ = param->blendMode;

        retireMaps();
        buildMaps(*param);
        // "Predefined": the stitching map is what SetImage's copy mode loaded.
        if (blendMode_ != 4) {
            std::fill(blend_.begin(), blend_.end(), uint8_t{0});
            rect_ = vehicleRect(*param, workWidth_, workHeight_, ox_, oy_);
            switch (blendMode_) {
                case 0: blendAuto(); break;
                case 1: blendFov(); break;
                case 2:
                case 3: blendLines(blendMode_ == 3); break;
                default: break;
            }
            mergeVehicle();
        }
        buildPlan();
    }

    void apply(const uint8_t* front, const uint8_t* left, const uint8_t* right, const uint8_t* rear,
               uint8_t* output) {
        if (maps_[0].empty() || sourceWidth_ == 0 || sourceHeight_ == 0) return;
        const uint8_t* images[kCameraCount] = {front, rear, left, right};
        for (int c = 0; c < kCameraCount; ++c) {
            if (images[c] != nullptr) {
                std::memcpy(sources_[c].data(), images[c], sources_[c].size());
                layer_[c] = Layer::kCurrentMap;
                layerInterp_[c] = interp();
                sampleInto(c, samples_[c]);
                compactValid_[c] = true;
            } else if (!compactValid_[c]) {
                refreshCompact(c);
            }
        }
        // The caller sizes its buffer from the record: a record resized without a new Init gets nothing.
        if (output != nullptr && rowRuns_.size() == static_cast<std::size_t>(outHeight()) + 1 &&
            param_->width == outWidth() && param_->height == outHeight())
            stitch(output);
    }

    void getLutLen(int* length, int /*camera: every camera's table has the same size*/) const {
        if (length != nullptr) *length = lutLength();
    }

    void getLut(void* buffer, int length, int camera) const {
        if (buffer == nullptr || camera < 0 || camera >= kCameraCount || maps_[0].empty()) return;
        if (length != lutLength()) return;
        std::vector<Point2F> pairs(pixelCount());
        const float* map = maps_[camera].data();
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            const std::size_t w = workIndex(i);
            pairs[i] = {map[2 * w], map[2 * w + 1]};
        }
        mzMakeBinView(outWidth(), outHeight(), pairs.data(), static_cast<uint8_t*>(buffer), nullptr,
                      static_cast<int>(flags_ & 1u));
    }

    void saveLut(const char* path, int camera) const {
        if (path == nullptr || camera < 0 || camera >= kCameraCount || maps_[0].empty()) return;
        FILE* file = std::fopen(path, "w");
        if (file == nullptr) return;
        const float* m = maps_[camera].data();
        for (int row = 0; row < workHeight_; ++row)
            for (int col = 0; col < workWidth_; ++col, m += 2)
                std::fprintf(file, "%d %d %.6f %.6f\n", col, row, static_cast<double>(m[0] < 0 ? kMissingText : m[0]),
                             static_cast<double>(m[1] < 0 ? kMissingText : m[1]));
        std::fclose(file);
    }

    void getMaskLen(int* length, int format) const {
        if (length != nullptr) *length = maskLength(format);
    }

    // Written only when the caller's length is the one GetMaskLen reports: the builders trust
    // their buffer to be that large.
    void getMask(void* buffer, int length, int format) const {
        const int expected = maskLength(format);
        if (buffer == nullptr || expected == 0 || length != expected) return;
        const std::vector<uint8_t> image = blendOutput();
        auto* dst = static_cast<uint8_t*>(buffer);
        const int w = outWidth(), h = outHeight();
        switch (format) {
            case 0: mzMakeBinMaskRGB16(w, h, image.data(), dst, nullptr); break;
            case 1: mzMakeBinMaskRGB32(w, h, image.data(), dst, nullptr); break;
            case 2: mzMakeBinMaskYCbCr(w, h, image.data(), dst, nullptr); break;
            case 3: mzMakeBinMaskRGB24(w, h, image.data(), dst, nullptr); break;
            default: break;
        }
    }

    void setImage(int width, int height, const uint8_t* image, unsigned mode, int x, int y, int w, int h) {
        guarded([&] { changeImage(width, height, image, mode, x, y, w, h); });
    }

    void changeImage(int width, int height, const uint8_t* image, unsigned mode, int x, int y, int w, int h) {
        if (blend_.empty()) return;
        if (mode == MZ_MV_IMAGE_CLEAR) {
            std::fill(vehicle_.begin(), vehicle_.end(), uint8_t{0});
            return;
        }
        if (image == nullptr || width <= 0 || height <= 0) return;
        ImageBufferPtr picture = workingPicture(width, height, image);
        if (!picture) return;
        if (mode == MZ_MV_IMAGE_COPY) {
            if (picture->width != workWidth_ || picture->height != workHeight_) return;
            const std::size_t bytes = static_cast<std::size_t>(workWidth_) * 3;
            for (int r = 0; r < workHeight_; ++r) std::memcpy(&blend_[r * bytes], picture->rows[r], bytes);
            buildPlan();
            return;
        }
        std::fill(vehicle_.begin(), vehicle_.end(), uint8_t{0});
        // The placed size and corner in working orientation.
        const int pw = rotated_ ? h : w, ph = rotated_ ? w : h;
        const int px = rotated_ ? workWidth_ - y - h : x, py = rotated_ ? x : y;
        if (pw > 0 && ph > 0) {
            ImageBufferPtr placed(createImageBuffer(3, pw, ph));
            if (!placed) return;
            clearRows(placed->rows, ph, static_cast<std::size_t>(placed->stride));
            mzResizeImage(picture.get(), placed.get(), MZ_REMAP_BILINEAR);
            for (int r = kPlacedBorder; r < ph - kPlacedBorder; ++r) {
                const long long ty = static_cast<long long>(py) + r;
                if (ty < 0 || ty >= workHeight_) continue;
                for (int c = kPlacedBorder; c < pw - kPlacedBorder; ++c) {
                    const long long tx = static_cast<long long>(px) + c;
                    if (tx < 0 || tx >= workWidth_) continue;
                    const uint8_t* s = placed->rows[r] + 3 * c;
                    if (opaque(s)) std::memcpy(&vehicle_[3 * (ty * workWidth_ + tx)], s, 3);
                }
            }
        }
        mergeVehicle();
        buildPlan();
    }

    void saveImage(const char* path) const {
        if (path == nullptr || blend_.empty()) return;
        const std::vector<uint8_t> image = blendOutput();
        ImageBufferPtr buffer(createImageBuffer(3, outWidth(), outHeight()));
        if (!buffer) return;
        const std::size_t stride = rowBytes(outWidth());
        for (int r = 0; r < outHeight(); ++r) std::memcpy(buffer->rows[r], &image[r * stride], stride);
        int size = 0;
        uint8_t* bmp = mzImageToBmp(buffer.get(), &size);
        if (bmp == nullptr) return;
        if (FILE* file = std::fopen(path, "wb")) {
            std::fwrite(bmp, 1, static_cast<std::size_t>(size), file);
            std::fclose(file);
        }
        std::free(bmp);
    }

    void adjustCameraPose(MultiviewParam* param, const float* delta, int camera) {
        if (param == nullptr || param->cameras == nullptr || delta == nullptr || camera < 0 ||
            camera >= kCameraCount || maps_[0].empty())
            return;
        CameraParam& cam = param->cameras[camera];
        if (cam.imagePoints != nullptr && cam.worldPoints != nullptr) {
            for (int i = 0; i < cam.pointCount; ++i) {
                const Point2F g = groundOfPixel(cam, cam.imagePoints[i], delta);
                cam.worldPoints[i] = {g.x, -g.y};
            }
        }
        guarded([&] {
            retireMaps();
            buildMaps(*param);
            buildPlan();
        });
    }

    bool internals(TopviewInternals* out) const {
        if (maps_[0].empty()) return false;
        out->workWidth = workWidth_;
        out->workHeight = workHeight_;
        out->sourceWidth = sourceWidth_;
        out->sourceHeight = sourceHeight_;
        for (int c = 0; c < kCameraCount; ++c) out->maps[c] = maps_[c].data();
        out->blendMap = blend_.data();
        return true;
    }

private:
    int outWidth() const { return rotated_ ? workHeight_ : workWidth_; }
    int outHeight() const { return rotated_ ? workWidth_ : workHeight_; }
    std::size_t pixelCount() const { return static_cast<std::size_t>(workWidth_) * workHeight_; }
    int lutLength() const { return maps_[0].empty() ? 0 : outWidth() * outHeight() * 4; }

    int maskLength(int format) const {
        if (blend_.empty()) return 0;
        const int w = outWidth(), h = outHeight();
        switch (format) {
            case 0:
            case 2: return w * h * 2;
            case 1: return w * h * 4;
            case 3: return static_cast<int>(rowBytes(w)) * h;
            default: return 0;
        }
    }

    // Working pixel index of output pixel i: the output turns the working image so that the
    // vehicle's front faces left, output(x, y) = working(Wk - 1 - y, x).
    std::size_t workIndex(std::size_t i) const { return workIndexIn(i, rotated_); }

    std::size_t workIndexIn(std::size_t i, bool rotated) const {
        if (!rotated) return i;
        const std::size_t outW = static_cast<std::size_t>(workHeight_);
        const std::size_t x = i % outW, y = i / outW;
        return x * workWidth_ + (workWidth_ - 1 - y);
    }

    void allocate(int workW, int workH) {
        workWidth_ = workW;
        workHeight_ = workH;
        const std::size_t n = pixelCount();
        for (int c = 0; c < kCameraCount; ++c) {
            maps_[c].assign(2 * n, 0.0f);
            std::vector<float>().swap(oldMaps_[c]);
            std::vector<uint8_t>().swap(stored_[c]);
            samples_[c].clear();
            compact_[c].clear();
            compactValid_[c] = false;
            layer_[c] = Layer::kZero;
        }
        blend_.assign(3 * n, 0);
        vehicle_.assign(3 * n, 0);
        ops_.clear();
        rowRuns_.clear();
    }

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

    void reset() {
        workWidth_ = workHeight_ = 0;
        sourceWidth_ = sourceHeight_ = 0;
        for (int c = 0; c < kCameraCount; ++c) {
            std::vector<float>().swap(maps_[c]);
            std::vector<float>().swap(oldMaps_[c]);
            std::vector<uint8_t>().swap(stored_[c]);
            std::vector<uint8_t>().swap(sources_[c]);
            std::vector<Sample>().swap(samples_[c]);
            std::vector<uint8_t>().swap(compact_[c]);
            compactValid_[c] = false;
            layer_[c] = Layer::kZero;
        }
        std::vector<uint8_t>().swap(blend_);
        std::vector<uint8_t>().swap(vehicle_);
        std::vector<StitchOp>().swap(ops_);
        std::vector<StitchRun>().swap(runs_);
        std::vector<uint32_t>().swap(rowRuns_);
    }

    // ---- maps ----

    void buildMaps(const MultiviewParam& param) {
        // Front, left, right, rear: the order in which the homographies have always been built.
        for (const int c : {kFront, kLeft, kRight, kRear}) {
            const CameraParam& cam = param.cameras[c];
            MatrixPtr h(3, 3);
            if (!h) throw std::bad_alloc();
            for (int r = 0; r < 3; ++r)
                for (int k = 0; k < 3; ++k) h[r][k] = homography_[c][r][k];
            // A camera without four point pairs keeps its previous matrix (at first all zero,
            // which leaves its map empty).
            mzGetHomography(h.get(), &cam, 0);
            for (int r = 0; r < 3; ++r)
                for (int k = 0; k < 3; ++k) homography_[c][r][k] = h[r][k];
            buildMap(c, cam, param.mmPerPixel);
        }
    }

    void buildMap(int c, const CameraParam& cam, float mmPerPixel) {
        const auto& h = homography_[c];
        const float sw = static_cast<float>(sourceWidth_), sh = static_cast<float>(sourceHeight_);
        float* out = maps_[c].data();
        for (int row = 0; row < workHeight_; ++row) {
            const float Y = (static_cast<float>(row) - oy_) * mmPerPixel;
            for (int col = 0; col < workWidth_; ++col, out += 2) {
                const float X = (static_cast<float>(col) - ox_) * mmPerPixel;
                const float a = h[0][0] * X + h[0][1] * Y + h[0][2];
                const float b = h[1][0] * X + h[1][1] * Y + h[1][2];
                const float w = h[2][0] * X + h[2][1] * Y + h[2][2];
                const float u = a / w / cam.f;
                const float v = b / w / cam.f;
                const float rho = std::sqrt(u * u + v * v);
                float x, y;
                if (rho != 0.0f) {
                    const float t = std::atan(rho);
                    const float t2 = t * t;
                    const float t3 = t2 * t;
                    const float t5 = t3 * t2;
                    const float t7 = t5 * t2;
                    const float t9 = t7 * t2;
                    const float r = cam.k1 * t + cam.k2 * t3 + cam.k3 * t5 + cam.k4 * t7 + cam.k5 * t9;
                    const float s = r / rho;
                    x = s * u * cam.fx + cam.cx;
                    y = s * v * cam.fy + cam.cy;
                } else {
                    // On the optical axis: the principal point (the ratio r / rho has no value there).
                    x = cam.cx;
                    y = cam.cy;
                }
                if (x >= 0.0f && x < sw && y >= 0.0f && y < sh) {
                    out[0] = x;
                    out[1] = y;
                } else {
                    out[0] = -1.0f;
                    out[1] = -1.0f;
                }
            }
        }
    }

    // ---- stitching map ----

    uint8_t* code(int col, int row) { return &blend_[3 * (static_cast<std::size_t>(row) * workWidth_ + col)]; }

    static void put(uint8_t* p, uint8_t b0, uint8_t b1, uint8_t b2) {
        p[0] = b0;
        p[1] = b1;
        p[2] = b2;
    }

    // Bands, sides and the vehicle area; corners are left to the caller's rule.
    void writeBandsAndSides() {
        const VehicleRect& k = rect_;
        const uint8_t vb = static_cast<uint8_t>(colour_ >> 16), vg = static_cast<uint8_t>(colour_ >> 8),
                      vr = static_cast<uint8_t>(colour_);
        for (int row = 0; row < workHeight_; ++row)
            for (int col = 0; col < workWidth_; ++col) {
                const bool left = col < k.x0, right = col >= k.x1;
                if (left || right) {
                    if (row >= k.y0 && row < k.y1) put(code(col, row), left ? 255 : 0, left ? 0 : 255, 0);
                } else if (row < k.y0) {
                    put(code(col, row), 0, 0, 0);
                } else if (row >= k.y1) {
                    put(code(col, row), 255, 255, 0);
                } else {
                    put(code(col, row), vb, vg, vr);
                }
            }
    }

    // Corner codes: bytes 0 and 1 name the corner, byte 2 is the side camera's share.
    static void cornerCode(uint8_t* p, bool frontCorner, bool leftCorner, uint8_t share) {
        put(p, frontCorner ? 0 : 255, leftCorner ? 0 : 255, share);
    }

    static uint8_t shareByte(float share) {
        const float r = std::floor(share + 0.5f);
        if (r > 0.0f && r < 255.0f) return static_cast<uint8_t>(r);
        return r >= 255.0f ? 254 : 1;
    }

    float weight(int c, int col, int row) const {
        const VehicleRect& k = rect_;
        float falloff;
        switch (c) {
            case kFront:
                if (row >= k.y0) return 0.0f;
                falloff = static_cast<float>(k.y0 - row) / static_cast<float>(k.y0);
                break;
            case kLeft:
                if (col >= k.x0) return 0.0f;
                falloff = static_cast<float>(k.x0 - col) / static_cast<float>(k.x0);
                break;
            case kRear:
                if (row < k.y1) return 0.0f;
                falloff = static_cast<float>(row - k.y1) / static_cast<float>(workHeight_ - k.y1);
                break;
            default:
                if (col < k.x1) return 0.0f;
                falloff = static_cast<float>(col - k.x1) / static_cast<float>(workWidth_ - k.x1);
                break;
        }
        const float* m = &maps_[c][2 * (static_cast<std::size_t>(row) * workWidth_ + col)];
        const float w = static_cast<float>(sourceWidth_), h = static_cast<float>(sourceHeight_);
        const float v = (1.0f - std::fabs(2.0f * m[1] / h - 1.0f)) * (1.0f - std::fabs(2.0f * m[0] / w - 1.0f));
        return v * falloff;
    }

    void blendAuto() {
        writeBandsAndSides();
        const VehicleRect& k = rect_;
        for (int row = 0; row < workHeight_; ++row) {
            const bool front = row < k.y0, rear = row >= k.y1;
            if (!front && !rear) continue;
            for (int col = 0; col < workWidth_; ++col) {
                const bool left = col < k.x0, right = col >= k.x1;
                if (!left && !right) continue;
                const float wF = weight(kFront, col, row), wL = weight(kLeft, col, row);
                const float wR = weight(kRight, col, row), wB = weight(kRear, col, row);
                const float s = wF + wL + wR + wB + kInv255;
                const float share = (left ? wL : wR) * 255.0f / s;
                cornerCode(code(col, row), front, left, shareByte(share));
            }
        }
    }

    // Inside a corner's wedge: the side of the line through the (possibly moved) vehicle corner
    // that makes half the FOV with the driving axis.
    struct Corner {
        float x, y;
    };

    bool insideWedge(bool front, bool left, int col, int row, const Corner& k, float tF, float tR) const {
        const float dc = static_cast<float>(col) - k.x, dr = k.y - static_cast<float>(row);
        if (front) return left ? tF * dc + dr > 0.0f : -tF * dc + dr > 0.0f;
        return left ? !(-tR * dc + dr > 0.0f) : !(tR * dc + dr > 0.0f);
    }

    void blendFov() {
        writeBandsAndSides();
        const VehicleRect& k = rect_;
        const float tF = std::tan((90.0f - frontFov_ / 2.0f) * kDegToRadCoarse);
        const float tR = std::tan((90.0f - rearFov_ / 2.0f) * kDegToRadCoarse);
        for (int row = 0; row < workHeight_; ++row) {
            const bool front = row < k.y0, rear = row >= k.y1;
            if (!front && !rear) continue;
            const float halfFov = (front ? frontFov_ : rearFov_) / 2.0f;
            for (int col = 0; col < workWidth_; ++col) {
                const bool left = col < k.x0, right = col >= k.x1;
                if (!left && !right) continue;
                const Corner corner = {static_cast<float>(left ? k.x0 : k.x1), static_cast<float>(front ? k.y0 : k.y1)};
                uint8_t share = 255;
                if (insideWedge(front, left, col, row, corner, tF, tR)) {
                    const float dx = static_cast<float>(col) - corner.x, dy = static_cast<float>(row) - corner.y;
                    const float d = std::sqrt(dx * dx + dy * dy);
                    const float alpha = std::acos(std::fabs(static_cast<float>(row) - corner.y) / (d + kInv255));
                    const float s = (front && left) ? (alpha + kInv255) * 255.0f / (halfFov * kDegToRadCoarse)
                                                    : alpha * 255.0f / (halfFov * kDegToRadCoarse + kInv255);
                    share = s < 1.0f ? 1 : s > 254.0f ? 254 : static_cast<uint8_t>(s);
                }
                cornerCode(code(col, row), front, left, share);
            }
        }
    }

    void blendLines(bool pure) {
        writeBandsAndSides();
        const VehicleRect& k = rect_;
        const float tF = std::tan((90.0f - frontFov_ / 2.0f) * kDegToRadCoarse);
        const float tR = std::tan((90.0f - rearFov_ / 2.0f) * kDegToRadCoarse);
        const int x0m = k.x0 - lineWidth_ + 1, y1m = k.y1 - lineWidth_ + 1;
        for (int row = 0; row < workHeight_; ++row) {
            const bool front = row < k.y0, rear = row >= k.y1;
            if (!front && !rear) continue;
            for (int col = 0; col < workWidth_; ++col) {
                const bool left = col < k.x0, right = col >= k.x1;
                if (!left && !right) continue;
                const Corner corner = {static_cast<float>(left ? x0m : k.x1), static_cast<float>(front ? k.y0 : y1m)};
                const bool inside = insideWedge(front, left, col, row, corner, tF, tR);
                uint8_t* p = code(col, row);
                if (!pure) {
                    cornerCode(p, front, left, inside ? 1 : 255);
                } else if (inside) {
                    put(p, front ? 0 : 255, front ? 0 : 255, 0);  // the front or rear camera
                } else {
                    put(p, left ? 255 : 0, left ? 0 : 255, 0);  // the side camera
                }
            }
        }
        drawSeams(pure, tF, tR, x0m, y1m);
    }

    static int toInt(float v) {
        if (!(v > -2147483648.0f && v < 2147483648.0f)) return -1;  // off the map: draws nothing
        return static_cast<int>(v);
    }

    void drawSeams(bool pure, float tF, float tR, int x0m, int y1m) {
        const VehicleRect& k = rect_;
        const int W = workWidth_, H = workHeight_;
        const int xr = pure ? k.x1 : k.x1 - 1;
        std::vector<uint8_t*> rows(H);
        for (int r = 0; r < H; ++r) rows[r] = code(0, r);
        ImageBuffer image = {32, 3, 0, W, H, W * 3, W * 3 * H, rows.data()};
        auto line = [&](int xa, int ya, float xb, float yb) {
            mzDrawLineBresenham(&image, xa, ya, toInt(xb), toInt(yb), colour_, lineWidth_);
        };
        const float fx0 = static_cast<float>(x0m), fy0 = static_cast<float>(k.y0);
        const float fx1 = static_cast<float>(k.x1), fy1 = static_cast<float>(y1m);
        const float fW = static_cast<float>(W - 1), fH = static_cast<float>(H - 1);

        float yEnd = fy0 - fx0 * tF;
        if (yEnd < 0.0f) line(x0m, k.y0, (fx0 * tF - fy0) / tF, 0.0f);
        else line(x0m, k.y0, 0.0f, yEnd);

        yEnd = fy0 - tF * (fW - fx1);
        if (yEnd < 0.0f) line(xr, k.y0, fx1 + fy0 / tF, 0.0f);
        else line(xr, k.y0, fW, yEnd);

        yEnd = fy1 + tR * (fW - fx1);
        if (yEnd >= static_cast<float>(H)) line(xr, y1m, (fH - fy1 + fx1 * tR) / tR, fH);
        else line(xr, y1m, fW, yEnd);

        yEnd = fy1 + fx0 * tR;
        if (yEnd >= static_cast<float>(H)) line(x0m, y1m, fx0 - (fH - fy1) / tR, fH);
        else line(x0m, y1m, 0.0f, yEnd);
    }

    void mergeVehicle() {
        for (std::size_t i = 0; i < vehicle_.size(); i += 3)
            if (opaque(&vehicle_[i])) std::memcpy(&blend_[i], &vehicle_[i], 3);
    }

    // The stitching map in output orientation, rows padded as a 24-bit mask image.
    std::vector<uint8_t> blendOutput() const {
        const int w = outWidth(), h = outHeight();
        const std::size_t stride = rowBytes(w);
        std::vector<uint8_t> image(stride * h, 0);
        std::size_t i = 0;
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c, ++i) std::memcpy(&image[r * stride + 3 * c], &blend_[3 * workIndex(i)], 3);
        return image;
    }

    // A display-orientation picture (padded BGR rows) turned into working orientation.
    ImageBufferPtr workingPicture(int width, int height, const uint8_t* image) const {
        const int ww = rotated_ ? height : width, wh = rotated_ ? width : height;
        ImageBufferPtr picture(createImageBuffer(3, ww, wh));
        if (!picture) return nullptr;
        const std::size_t stride = rowBytes(width);
        for (int b = 0; b < wh; ++b) {
            uint8_t* d = picture->rows[b];
            if (!rotated_) {
                std::memcpy(d, image + stride * b, static_cast<std::size_t>(width) * 3);
                continue;
            }
            // working(a, b) = display(column b, row height - 1 - a)
            for (int a = 0; a < ww; ++a) std::memcpy(d + 3 * a, image + stride * (height - 1 - a) + 3 * b, 3);
        }
        return picture;
    }

    // ---- plan and stitching ----

    Interp interp() const {
        if (flags_ & MZ_MV_BICUBIC) return Interp::kBicubic;
        return (flags_ & MZ_MV_BILINEAR) ? Interp::kBilinear : Interp::kNearest;
    }

    // The remap's own rules for where a map entry reads and whether it has a source at all.
    Sample makeSample(const float* map, Interp mode, std::size_t work) const {
        const float mx = map[2 * work], my = map[2 * work + 1];
        Sample s = {-1, 0, 0};
        const int sw = sourceWidth_, sh = sourceHeight_;
        const int stride = static_cast<int>(rowBytes(sw));
        if (mode == Interp::kNearest) {
            int x, y;
            if (roundToInt(mx, &x) && roundToInt(my, &y) && x >= 0 && x < sw && y >= 0 && y < sh)
                s.src = y * stride + 3 * x;
            return s;
        }
        int X, Y;
        if (!roundToInt(mx * static_cast<float>(kFracOne), &X) || !roundToInt(my * static_cast<float>(kFracOne), &Y))
            return s;
        const int xi = X >> kFracBits, yi = Y >> kFracBits;
        const bool cubic = mode == Interp::kBicubic;
        const bool valid = cubic ? xi >= 1 && xi <= sw - 3 && yi >= 1 && yi <= sh - 3
                                 : sw >= 2 && sh >= 2 && xi >= 0 && xi < sw - 1 && yi >= 0 && yi < sh - 1;
        if (!valid) return s;
        s.src = (cubic ? yi - 1 : yi) * stride + 3 * (cubic ? xi - 1 : xi);
        s.fx = static_cast<uint16_t>(X & (kFracOne - 1));
        s.fy = static_cast<uint16_t>(Y & (kFracOne - 1));
        return s;
    }

    // Samples a picture at precomputed positions into consecutive 3-byte pixels.
    void samplePicture(const uint8_t* src, Interp mode, const std::vector<Sample>& samples, uint8_t* d) const {
        const int stride = static_cast<int>(rowBytes(sourceWidth_));
        switch (mode) {
            case Interp::kNearest:
                for (const Sample& s : samples) {
                    std::memcpy(d, s.src < 0 ? kNoSourceFill : src + s.src, 3);
                    d += 3;
                }
                break;
            case Interp::kBilinear:
                // The remap's two-step sum, expanded into four corner weights (the same integer),
                // with blue and red side by side in 32-bit lanes: no lane exceeds 255 * 2^20.
                for (const Sample& s : samples) {
                    if (s.src < 0) {
                        std::memcpy(d, kNoSourceFill, 3);
                    } else {
                        const uint8_t* s0 = src + s.src;
                        const uint8_t* s1 = s0 + stride;
                        const uint32_t fx = s.fx, fy = s.fy;
                        const uint32_t w11 = fx * fy;
                        const uint32_t w01 = (fx << kFracBits) - w11;
                        const uint32_t w10 = (fy << kFracBits) - w11;
                        const uint32_t w00 = (1u << (2 * kFracBits)) - (fx << kFracBits) - (fy << kFracBits) + w11;
                        auto lanes = [](const uint8_t* q) { return q[0] | static_cast<uint64_t>(q[2]) << 32; };
                        const uint64_t br = lanes(s0) * w00 + lanes(s0 + 3) * w01 + lanes(s1) * w10 + lanes(s1 + 3) * w11;
                        const uint32_t g = s0[1] * w00 + s0[4] * w01 + s1[1] * w10 + s1[4] * w11;
                        constexpr uint32_t kHalf = 1u << (2 * kFracBits - 1);
                        d[0] = static_cast<uint8_t>((static_cast<uint32_t>(br) + kHalf) >> (2 * kFracBits));
                        d[1] = static_cast<uint8_t>((g + kHalf) >> (2 * kFracBits));
                        d[2] = static_cast<uint8_t>((static_cast<uint32_t>(br >> 32) + kHalf) >> (2 * kFracBits));
                    }
                    d += 3;
                }
                break;
            case Interp::kBicubic: {
                const CubicWeights& t = cubicWeights();
                for (const Sample& s : samples) {
                    if (s.src < 0) {
                        std::memcpy(d, kNoSourceFill, 3);
                        d += 3;
                        continue;
                    }
                    const int64_t wx[4] = {t.far[s.fx], t.near[s.fx], t.near[kFracOne - s.fx], t.far[kFracOne - s.fx]};
                    const int64_t wy[4] = {t.far[s.fy], t.near[s.fy], t.near[kFracOne - s.fy], t.far[kFracOne - s.fy]};
                    for (int ch = 0; ch < 3; ++ch) {
                        __int128 sum = 0;
                        for (int r = 0; r < 4; ++r) {
                            const uint8_t* p = src + s.src + r * stride + ch;
                            const int64_t row = p[0] * wx[0] + p[3] * wx[1] + p[6] * wx[2] + p[9] * wx[3];
                            sum += static_cast<__int128>(row) * wy[r];
                        }
                        d[ch] = roundCubic(sum);
                    }
                    d += 3;
                }
                break;
            }
        }
    }

    void sampleInto(int c, const std::vector<Sample>& samples) {
        compact_[c].resize(3 * samples.size());
        samplePicture(sources_[c].data(), interp(), samples, compact_[c].data());
    }

    // The working pixels camera c supplies under the current plan, in output order.
    std::vector<std::size_t> neededPixels(int c) const {
        std::vector<std::size_t> pixels;
        pixels.reserve(samples_[c].size());
        for (std::size_t i = 0; i < ops_.size(); ++i) {
            const StitchOp& op = ops_[i];
            if (op.kind != kConstant && (op.p == c || (op.kind != kCopy && op.q == c))) pixels.push_back(workIndex(i));
        }
        return pixels;
    }

    // The layer of a camera left out of Apply, at the pixels the plan needs now.
    void refreshCompact(int c) {
        compact_[c].assign(3 * samples_[c].size(), 0);
        if (layer_[c] == Layer::kCurrentMap && layerInterp_[c] == interp()) {
            sampleInto(c, samples_[c]);
        } else if (layer_[c] != Layer::kZero) {
            const std::vector<std::size_t> pixels = neededPixels(c);
            uint8_t* d = compact_[c].data();
            if (layer_[c] == Layer::kStored) {
                for (std::size_t k = 0; k < pixels.size(); ++k) std::memcpy(d + 3 * k, &stored_[c][3 * pixels[k]], 3);
            } else {
                const float* map = layer_[c] == Layer::kOldMap ? oldMaps_[c].data() : maps_[c].data();
                std::vector<Sample> samples(pixels.size());
                for (std::size_t k = 0; k < pixels.size(); ++k) samples[k] = makeSample(map, layerInterp_[c], pixels[k]);
                samplePicture(sources_[c].data(), layerInterp_[c], samples, d);
            }
        }
        compactValid_[c] = true;
    }

    // Before Init replaces the maps: a layer defined by the current map keeps that map aside.
    void retireMaps() {
        for (int c = 0; c < kCameraCount; ++c) {
            if (layer_[c] == Layer::kCurrentMap) {
                std::swap(maps_[c], oldMaps_[c]);
                layer_[c] = Layer::kOldMap;
            }
            maps_[c].resize(2 * pixelCount());
        }
    }

    // Before the pictures go: every layer that depends on one is computed over the whole view.
    void storeLayers() {
        for (int c = 0; c < kCameraCount; ++c) {
            if (layer_[c] != Layer::kCurrentMap && layer_[c] != Layer::kOldMap) continue;
            const float* map = layer_[c] == Layer::kOldMap ? oldMaps_[c].data() : maps_[c].data();
            std::vector<Sample> samples(pixelCount());
            for (std::size_t w = 0; w < samples.size(); ++w) samples[w] = makeSample(map, layerInterp_[c], w);
            stored_[c].resize(3 * pixelCount());
            samplePicture(sources_[c].data(), layerInterp_[c], samples, stored_[c].data());
            layer_[c] = Layer::kStored;
            compactValid_[c] = false;
        }
    }

    void buildPlan() {
        rowRuns_.clear();  // no stitching until the plan is whole
        const std::size_t n = pixelCount();
        ops_.resize(n);
        for (auto& s : samples_) s.clear();
        compactValid_.fill(false);
        const Interp mode = interp();
        const bool tint = (flags_ & MZ_MV_SHOW_BLEND) != 0;
        const std::size_t outW = static_cast<std::size_t>(outWidth());
        const std::size_t outH = static_cast<std::size_t>(outHeight());
        std::size_t i = 0;
        for (std::size_t y = 0; y < outH; ++y) {
            for (std::size_t x = 0; x < outW; ++x, ++i) {
                // Without rotation output pixel i is working pixel i; with rotation (x, y) is the working
                // pixel (Wk - 1 - y, x).
                const std::size_t w = rotated_ ? x * workWidth_ + (workWidth_ - 1 - y) : i;
                const uint8_t b0 = blend_[3 * w], b1 = blend_[3 * w + 1], b2 = blend_[3 * w + 2];
                StitchOp op;
                const bool pureB0 = b0 == 0 || b0 == 255, pureB1 = b1 == 0 || b1 == 255;
                if (!pureB0 || !pureB1) {
                    op = {kConstant, b0, b1, b2};
                } else {
                    // The camera that a zero share shows, and the pair that a share blends.
                    int only, from, to;
                    if (b1 == 0) {
                        only = b0 == 0 ? kFront : kLeft;
                        from = b0 == 0 ? kFront : kRear;
                        to = kLeft;
                    } else {
                        only = b0 == 0 ? kRight : kRear;
                        from = b0 == 0 ? kFront : kRear;
                        to = kRight;
                    }
                    if (b2 == 0) {
                        op = {kCopy, static_cast<uint8_t>(only), 0, 0};
                    } else {
                        op = {static_cast<uint8_t>(tint && b2 < 255 ? kBlendTint : kBlend), static_cast<uint8_t>(from),
                              static_cast<uint8_t>(to), b2};
                    }
                }
                ops_[i] = op;
                if (op.kind == kCopy) {
                    samples_[op.p].push_back(makeSample(maps_[op.p].data(), mode, w));
                } else if (op.kind != kConstant) {
                    samples_[op.p].push_back(makeSample(maps_[op.p].data(), mode, w));
                    samples_[op.q].push_back(makeSample(maps_[op.q].data(), mode, w));
                }
            }
        }
        buildRuns();
    }

    void buildRuns() {
        runs_.clear();
        rowRuns_.assign(1, 0);
        blendShares_.clear();
        constants_.clear();
        const std::size_t w = static_cast<std::size_t>(outWidth());
        for (std::size_t i = 0, col = 0; i < ops_.size(); ++i, col = col + 1 == w ? 0 : col + 1) {
            const StitchOp& op = ops_[i];
            const bool rowStart = col == 0;
            if (rowStart && i != 0) rowRuns_.push_back(static_cast<uint32_t>(runs_.size()));
            StitchRun* last = runs_.empty() || rowStart ? nullptr : &runs_.back();
            const bool same = last != nullptr && last->kind == op.kind &&
                              (op.kind == kConstant || (last->p == op.p && (op.kind == kCopy || last->q == op.q)));
            if (same) {
                ++last->count;
            } else {
                runs_.push_back({op.kind, op.p, op.q, 1});
            }
            if (op.kind == kBlend || op.kind == kBlendTint) {
                blendShares_.push_back(op.w);
            } else if (op.kind == kConstant) {
                constants_.insert(constants_.end(), {op.p, op.q, op.w});
            }
        }
        rowRuns_.push_back(static_cast<uint32_t>(runs_.size()));
    }

    void stitch(uint8_t* output) const {
        const std::size_t stride = rowBytes(outWidth());
        // Each camera's compact layer is read front to back as the output pixels come.
        const uint8_t* next[kCameraCount] = {compact_[0].data(), compact_[1].data(), compact_[2].data(),
                                             compact_[3].data()};
        const uint8_t* share = blendShares_.data();
        const uint8_t* constant = constants_.data();
        for (std::size_t r = 0; r + 1 < rowRuns_.size(); ++r) {
            uint8_t* d = output + stride * r;
            for (uint32_t k = rowRuns_[r]; k < rowRuns_[r + 1]; ++k) {
                const StitchRun& run = runs_[k];
                const std::size_t bytes = 3 * static_cast<std::size_t>(run.count);
                if (run.kind == kCopy) {
                    std::memcpy(d, next[run.p], bytes);
                    next[run.p] += bytes;
                    d += bytes;
                } else if (run.kind == kConstant) {
                    std::memcpy(d, constant, bytes);
                    constant += bytes;
                    d += bytes;
                } else {
                    const uint8_t* p = next[run.p];
                    const uint8_t* q = next[run.q];
                    for (uint32_t n = 0; n < run.count; ++n, p += 3, q += 3, d += 3) {
                        const int w = *share++;
                        for (int ch = 0; ch < 3; ++ch) d[ch] = static_cast<uint8_t>(((q[ch] - p[ch]) * w + p[ch] * 256) >> 8);
                        if (run.kind == kBlendTint) d[2] = static_cast<uint8_t>((w + d[2]) >> 1);
                    }
                    next[run.p] += bytes;
                    next[run.q] += bytes;
                }
            }
        }
    }

    // ---- pose adjustment ----

    // The ground point under a picture point for the camera's pose plus delta (position, height,
    // tilt, roll, heading), through the inverse lens polynomial.
    static Point2F groundOfPixel(const CameraParam& cam, Point2F pixel, const float* delta) {
        const float posX = cam.posX + delta[0], posY = cam.posY + delta[1], height = cam.posZ + delta[2];
        const float tilt = (cam.rotX + delta[3]) * kDegToRad, roll = (cam.rotZ + delta[4]) * kDegToRad;
        const float heading = (cam.rotY + delta[5]) * kDegToRad;
        const float u = (pixel.x - cam.cx) / cam.fx;
        const float v = (cam.cy - pixel.y) / cam.fy;  // up the picture
        const float rho = std::sqrt(u * u + v * v);
        const float coeff[9] = {cam.c0, cam.c1, cam.c2, cam.c3, cam.c4, cam.c5, cam.c6, cam.c7, cam.c8};
        float theta = coeff[0], power = 1.0f;
        for (int k = 1; k < 9; ++k) {
            power *= rho;
            theta += coeff[k] * power;
        }
        const float phi = (u == 0.0f && v == 0.0f) ? 0.0f : std::atan2(v, u);
        const Ray ray = {std::cos(phi) * std::sin(theta), std::sin(phi) * std::sin(theta), -std::cos(theta)};
        // Ground in the camera's own frame; a ray that never reaches the ground lands under the
        // camera.
        const float yUp = ray.x * std::sin(roll) + ray.y * std::cos(roll);
        const float xAhead = -ray.z;
        Point2F local = {0.0f, 0.0f};
        const float denominator = std::cos(tilt) * yUp - std::sin(tilt) * xAhead;
        if (tilt - std::atan2(yUp, xAhead) > 0.0f && denominator != 0.0f) {
            const float k = -height / denominator;
            local = {(ray.x * std::cos(roll) - ray.y * std::sin(roll)) * k,
                     (std::sin(tilt) * yUp + std::cos(tilt) * xAhead) * k};
            if (!std::isfinite(local.x) || !std::isfinite(local.y)) local = {0.0f, 0.0f};
        }
        const float c = std::cos(heading), s = std::sin(heading);
        return {posX + local.x * c - local.y * s, posY + local.x * s + local.y * c};
    }

    static constexpr float kDegToRad = 3.14159265358979f / 180.0f;

    const MultiviewParam* param_ = nullptr;
    uint32_t flags_ = 0;
    bool rotated_ = false;
    int workWidth_ = 0, workHeight_ = 0;
    float ox_ = 0, oy_ = 0;
    VehicleRect rect_;
    std::array<std::vector<float>, kCameraCount> maps_;
    std::array<std::vector<float>, kCameraCount> oldMaps_;    // the map an old layer was made with
    std::array<std::vector<uint8_t>, kCameraCount> sources_;  // each camera's last picture
    std::array<Layer, kCameraCount> layer_{};
    std::array<Interp, kCameraCount> layerInterp_{};
    std::array<std::vector<uint8_t>, kCameraCount> stored_;   // working orientation, kStored only
    std::array<std::vector<Sample>, kCameraCount> samples_;   // the plan, output order
    std::array<std::vector<uint8_t>, kCameraCount> compact_;  // the layer at the plan's pixels
    std::array<bool, kCameraCount> compactValid_{};
    std::vector<StitchOp> ops_;       // per output pixel
    std::vector<StitchRun> runs_;
    std::vector<uint32_t> rowRuns_;   // first run of every output row, and the end
    std::vector<uint8_t> blendShares_;
    std::vector<uint8_t> constants_;
    std::vector<uint8_t> blend_;    // working orientation, no padding
    std::vector<uint8_t> vehicle_;  // the placed vehicle picture, working orientation
    std::array<std::array<std::array<float, 3>, 3>, kCameraCount> homography_{};
    int sourceWidth_ = 0, sourceHeight_ = 0;
    float frontFov_ = 150.0f, rearFov_ = 150.0f, blendWidth_ = 10.0f;
    uint32_t colour_ = 0x010101;
    int lineWidth_ = 4;
    int blendMode_ = 4;
};

ViewHandle createTopview() { return createView<TopView>(&kTopviewOps); }

}  // namespace

bool topviewInternals(ViewHandle handle, TopviewInternals* out) {
    if (handle == nullptr || out == nullptr || handle->ops != &kTopviewOps || handle->engine == nullptr) return false;
    return static_cast<const TopView*>(handle->engine)->internals(out);
}

const ViewOps kTopviewOps = {{
    toSlot(&createTopview),
    toSlot(&viewOp<TopView, &TopView::init, MultiviewParam*>),
    toSlot(&viewOp<TopView, &TopView::apply, const uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*, uint8_t*>),
    toSlot(&viewOp<TopView, &TopView::getLutLen, int*, int>),
    toSlot(&viewOp<TopView, &TopView::getLut, void*, int, int>),
    toSlot(&viewOp<TopView, &TopView::saveLut, const char*, int>),
    toSlot(&viewOp<TopView, &TopView::getMaskLen, int*, int>),
    toSlot(&viewOp<TopView, &TopView::getMask, void*, int, int>),
    toSlot(&viewOp<TopView, &TopView::setImage, int, int, const uint8_t*, unsigned, int, int, int, int>),
    toSlot(&viewOp<TopView, &TopView::saveImage, const char*>),
    toSlot(&viewOp<TopView, &TopView::adjustCameraPose, MultiviewParam*, const float*, int>),
    toSlot(&releaseView<TopView>),
}};

}  // namespace mz
