// The stitched top-view engine (multi-view kind 0): one coordinate map per camera, the stitching
// map (BlendMap) that says which camera or pair of cameras supplies every top-view pixel, and the
// stitching of four camera pictures.
//
// Apply is table-driven. Init (and every change of the stitching map) turns the maps and the
// BlendMap into a plan: per camera, the output pixels it must supply with their source offsets and
// interpolation weights, and per output pixel, the stitching step. The result is bit-identical to
// remapping every camera picture over the whole view and stitching pixel by pixel: the camera
// layers are kept in output orientation, and a layer that was filled only where the plan needed
// it is completed from the camera's last picture before the plan changes, so a camera skipped in a
// later Apply still shows exactly what the whole remap would have left.
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

inline uint8_t bilinearChannel(int s00, int s01, int s10, int s11, int fx, int fy) {
    const int top = s00 * (kFracOne - fx) + s01 * fx;
    const int bottom = s10 * (kFracOne - fx) + s11 * fx;
    const int v = top * (kFracOne - fy) + bottom * fy;
    return static_cast<uint8_t>((v + (1 << (2 * kFracBits - 1))) >> (2 * kFracBits));
}

// One camera sample of one output pixel: where it is read and how it is weighted. src < 0 marks a
// pixel without a source (it gets the fill colour).
struct Sample {
    uint32_t out;  // output pixel index
    int32_t src;   // byte offset of the (top-left) source pixel
    uint16_t fx, fy;
};

enum class Interp { kNearest, kBilinear, kBicubic };

// The stitching step of one output pixel. Constant codes carry their bytes in p, q and w.
struct StitchOp {
    uint8_t kind;
    uint8_t p, q, w;
};
enum : uint8_t { kCopy = 0, kBlend = 1, kBlendTint = 2, kConstant = 3 };

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
        completeLayers();
        param_ = param;
        const bool rotated = (param->flags & MZ_MV_ROTATED) != 0;
        const int workW = rotated ? param->height : param->width;
        const int workH = rotated ? param->width : param->height;
        flags_ = param->flags;

        const CameraParam& front = param->cameras[kFront];
        if (front.width != sourceWidth_ || front.height != sourceHeight_) {
            sourceWidth_ = std::max(front.width, 0);
            sourceHeight_ = std::max(front.height, 0);
            const std::size_t bytes = rowBytes(sourceWidth_) * static_cast<std::size_t>(sourceHeight_);
            for (auto& s : sources_) s.assign(bytes, 0);
            haveSource_.fill(false);
        }
        if (workW != workWidth_ || workH != workHeight_ || maps_[0].empty()) {
            allocate(workW, workH);
        } else if (rotated != rotated_) {
            reorientLayers(rotated);
        }
        rotated_ = rotated;
        ox_ = rotated ? static_cast<float>(param->height) - param->centreY : param->centreX;
        oy_ = rotated ? param->centreX : param->centreY;

        frontFov_ = param->frontFov;
        rearFov_ = param->rearFov;
        blendWidth_ = param->blendWidth;
        colour_ = param->vehicleColour;
        lineWidth_ = param->lineWidth;
        blendMode_ = param->blendMode;

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
            if (images[c] == nullptr) continue;
            std::memcpy(sources_[c].data(), images[c], sources_[c].size());
            haveSource_[c] = true;
            sampleInto(c, samples_[c]);
            partial_[c] = samples_[c].size() != pixelCount();
        }
        // The caller sizes its buffer from the record: a record resized without a new Init gets nothing.
        if (output != nullptr && ops_.size() == pixelCount() && param_->width == outWidth() &&
            param_->height == outHeight())
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
            completeLayers();
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
        completeLayers();
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
        completeLayers();
        buildMaps(*param);
        buildPlan();
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

    // All or nothing: without memory for the new size the engine is left empty.
    void allocate(int workW, int workH) {
        try {
            workWidth_ = workW;
            workHeight_ = workH;
            const std::size_t n = pixelCount();
            for (int c = 0; c < kCameraCount; ++c) {
                maps_[c].assign(2 * n, 0.0f);
                layers_[c].assign(3 * n, 0);
                samples_[c].clear();
                partial_[c] = false;
            }
            blend_.assign(3 * n, 0);
            vehicle_.assign(3 * n, 0);
            ops_.clear();
        } catch (...) {
            workWidth_ = workHeight_ = 0;
            for (int c = 0; c < kCameraCount; ++c) {
                std::vector<float>().swap(maps_[c]);
                std::vector<uint8_t>().swap(layers_[c]);
            }
            std::vector<uint8_t>().swap(blend_);
            std::vector<uint8_t>().swap(vehicle_);
            throw;
        }
    }

    void reorientLayers(bool rotated) {
        std::vector<uint8_t> work(3 * pixelCount());
        for (auto& layer : layers_) {
            for (std::size_t i = 0; i < pixelCount(); ++i) std::memcpy(&work[3 * workIndexIn(i, rotated_)], &layer[3 * i], 3);
            for (std::size_t i = 0; i < pixelCount(); ++i) std::memcpy(&layer[3 * i], &work[3 * workIndexIn(i, rotated)], 3);
        }
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
    Sample makeSample(int c, std::size_t work, uint32_t out) const {
        const float mx = maps_[c][2 * work], my = maps_[c][2 * work + 1];
        Sample s = {out, -1, 0, 0};
        const int sw = sourceWidth_, sh = sourceHeight_;
        const int stride = static_cast<int>(rowBytes(sw));
        if (interp() == Interp::kNearest) {
            int x, y;
            if (roundToInt(mx, &x) && roundToInt(my, &y) && x >= 0 && x < sw && y >= 0 && y < sh)
                s.src = y * stride + 3 * x;
            return s;
        }
        int X, Y;
        if (!roundToInt(mx * static_cast<float>(kFracOne), &X) || !roundToInt(my * static_cast<float>(kFracOne), &Y))
            return s;
        const int xi = X >> kFracBits, yi = Y >> kFracBits;
        const bool valid = interp() == Interp::kBilinear
                               ? sw >= 2 && sh >= 2 && xi >= 0 && xi < sw - 1 && yi >= 0 && yi < sh - 1
                               : xi >= 1 && xi <= sw - 3 && yi >= 1 && yi <= sh - 3;
        if (!valid) return s;
        const bool cubic = interp() == Interp::kBicubic;
        s.src = (cubic ? yi - 1 : yi) * stride + 3 * (cubic ? xi - 1 : xi);
        s.fx = static_cast<uint16_t>(X & (kFracOne - 1));
        s.fy = static_cast<uint16_t>(Y & (kFracOne - 1));
        return s;
    }

    void sampleInto(int c, const std::vector<Sample>& samples) {
        const uint8_t* src = sources_[c].data();
        uint8_t* layer = layers_[c].data();
        const int stride = static_cast<int>(rowBytes(sourceWidth_));
        switch (interp()) {
            case Interp::kNearest:
                for (const Sample& s : samples) {
                    uint8_t* d = layer + 3 * static_cast<std::size_t>(s.out);
                    std::memcpy(d, s.src < 0 ? kNoSourceFill : src + s.src, 3);
                }
                break;
            case Interp::kBilinear:
                for (const Sample& s : samples) {
                    uint8_t* d = layer + 3 * static_cast<std::size_t>(s.out);
                    if (s.src < 0) {
                        std::memcpy(d, kNoSourceFill, 3);
                        continue;
                    }
                    const uint8_t* s0 = src + s.src;
                    const uint8_t* s1 = s0 + stride;
                    d[0] = bilinearChannel(s0[0], s0[3], s1[0], s1[3], s.fx, s.fy);
                    d[1] = bilinearChannel(s0[1], s0[4], s1[1], s1[4], s.fx, s.fy);
                    d[2] = bilinearChannel(s0[2], s0[5], s1[2], s1[5], s.fx, s.fy);
                }
                break;
            case Interp::kBicubic: {
                const CubicWeights& t = cubicWeights();
                for (const Sample& s : samples) {
                    uint8_t* d = layer + 3 * static_cast<std::size_t>(s.out);
                    if (s.src < 0) {
                        std::memcpy(d, kNoSourceFill, 3);
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
                }
                break;
            }
        }
    }

    // A layer filled only where the plan needed it is finished from its camera's last picture with
    // the maps it was sampled with, before the maps or the plan change.
    void completeLayers() {
        if (maps_[0].empty()) return;
        for (int c = 0; c < kCameraCount; ++c) {
            if (!partial_[c] || !haveSource_[c]) continue;
            std::vector<Sample> all;
            all.reserve(pixelCount());
            for (std::size_t i = 0; i < pixelCount(); ++i) all.push_back(makeSample(c, workIndex(i), static_cast<uint32_t>(i)));
            sampleInto(c, all);
            partial_[c] = false;
        }
    }

    void buildPlan() {
        const std::size_t n = pixelCount();
        ops_.resize(n);
        for (auto& s : samples_) s.clear();
        const bool tint = (flags_ & MZ_MV_SHOW_BLEND) != 0;
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t w = workIndex(i);
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
            const uint32_t out = static_cast<uint32_t>(i);
            if (op.kind == kCopy) {
                samples_[op.p].push_back(makeSample(op.p, w, out));
            } else if (op.kind != kConstant) {
                samples_[op.p].push_back(makeSample(op.p, w, out));
                samples_[op.q].push_back(makeSample(op.q, w, out));
            }
        }
        for (int c = 0; c < kCameraCount; ++c) samples_[c].shrink_to_fit();
    }

    void stitch(uint8_t* output) const {
        const int w = outWidth(), h = outHeight();
        const std::size_t stride = rowBytes(w);
        const uint8_t* layers[kCameraCount] = {layers_[0].data(), layers_[1].data(), layers_[2].data(),
                                               layers_[3].data()};
        const StitchOp* op = ops_.data();
        std::size_t px = 0;
        for (int r = 0; r < h; ++r) {
            uint8_t* d = output + stride * r;
            for (int c = 0; c < w; ++c, ++op, ++px, d += 3) {
                switch (op->kind) {
                    case kCopy: {
                        const uint8_t* s = layers[op->p] + 3 * px;
                        d[0] = s[0];
                        d[1] = s[1];
                        d[2] = s[2];
                        break;
                    }
                    case kBlend:
                    case kBlendTint: {
                        const uint8_t* p = layers[op->p] + 3 * px;
                        const uint8_t* q = layers[op->q] + 3 * px;
                        const int k = op->w;
                        for (int ch = 0; ch < 3; ++ch) d[ch] = static_cast<uint8_t>(((q[ch] - p[ch]) * k + p[ch] * 256) >> 8);
                        if (op->kind == kBlendTint) d[2] = static_cast<uint8_t>((k + d[2]) >> 1);
                        break;
                    }
                    default:
                        d[0] = op->p;
                        d[1] = op->q;
                        d[2] = op->w;
                        break;
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
    std::array<std::vector<uint8_t>, kCameraCount> layers_;  // output orientation, no padding
    std::array<std::vector<uint8_t>, kCameraCount> sources_;  // each camera's last picture
    std::array<bool, kCameraCount> haveSource_{};
    std::array<bool, kCameraCount> partial_{};
    std::array<std::vector<Sample>, kCameraCount> samples_;
    std::vector<StitchOp> ops_;
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
