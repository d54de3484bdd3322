// The camera layers of a stitching engine: pictures, layer states, stored copies, the plan and the
// compact layers.
#include "view/layer_cache.h"

#include <cstring>
#include <utility>

namespace mz {

void LayerCache::clear() {
    for (int c = 0; c < kCameraCount; ++c) {
        BigVector<float>().swap(oldMaps_[c]);
        std::vector<uint8_t>().swap(stored_[c]);
        compact_[c].clear();
        compactValid_[c] = false;
        layer_[c] = Layer::kZero;
    }
    planStale_ = false;
    plan_.clear();
}

void LayerCache::release() {
    for (int c = 0; c < kCameraCount; ++c) {
        BigVector<float>().swap(oldMaps_[c]);
        std::vector<uint8_t>().swap(stored_[c]);
        BigVector<uint8_t>().swap(sources_[c]);
        std::vector<uint8_t>().swap(compact_[c]);
        compactValid_[c] = false;
        layer_[c] = Layer::kZero;
    }
    planStale_ = false;
    plan_.release();
}

void LayerCache::resetPictures(SourceSize source) {
    const std::size_t bytes = rowBytes(source.width) * static_cast<std::size_t>(source.height);
    // Sized only: no layer reads a picture until take() has filled it (the layers were cleared
    // or stored before the size changed), so zeroing would only touch memory a view never shown
    // does not need.
    for (auto& s : sources_) {
        s.clear();
        s.resize(bytes);
    }
}

void LayerCache::retireMap(int c, BigVector<float>& map) {
    if (layer_[c] != Layer::kCurrentMap) return;
    std::swap(map, oldMaps_[c]);
    layer_[c] = Layer::kOldMap;
}

const float* LayerCache::layerMap(int c, const LayerFrame& frame) const {
    return layer_[c] == Layer::kOldMap ? oldMaps_[c].data() : frame.maps[c];
}

void LayerCache::storeLayers(const LayerFrame& frame) {
    const std::size_t n = frame.view.pixelCount();
    for (int c = 0; c < kCameraCount; ++c) {
        if (layer_[c] != Layer::kCurrentMap && layer_[c] != Layer::kOldMap) continue;
        const float* map = layerMap(c, frame);
        std::vector<Sample> samples(n);
        for (std::size_t w = 0; w < n; ++w) samples[w] = makeSample(map, layerInterp_[c], w, frame.source);
        stored_[c].resize(3 * n);
        samplePicture(sources_[c].data(), frame.source.width, layerInterp_[c], samples, stored_[c].data());
        layer_[c] = Layer::kStored;
        compactValid_[c] = false;
    }
}

// The engine says when the plan is made (the top view at the next Apply, so that an engine
// initialised only to hand out its tables never pays for it). Everything the plan is made from
// changes only together with a call of planChanged, so it comes out the same whenever it is made.
void LayerCache::planChanged() {
    compactValid_.fill(false);
    plan_.clear();
    planStale_ = true;
}

void LayerCache::ensurePlan(const LayerFrame& frame, const uint8_t* blend, bool tint) {
    if (!planStale_) return;
    buildStitchPlan(frame.view, blend, frame.maps, frame.source, frame.mode, tint, plan_);
    planStale_ = false;
}

void LayerCache::take(int c, const uint8_t* picture, Interp mode) {
    std::memcpy(sources_[c].data(), picture, sources_[c].size());
    std::vector<uint8_t>().swap(stored_[c]);
    layer_[c] = Layer::kCurrentMap;
    layerInterp_[c] = mode;
}

void LayerCache::sampleInto(int c, const LayerFrame& frame) {
    compact_[c].resize(3 * plan_.samples[c].size());
    samplePicture(sources_[c].data(), frame.source.width, frame.mode, plan_.samples[c], compact_[c].data());
}

// The layer of a camera left out of Apply, at the pixels the plan needs now.
void LayerCache::refreshCompact(int c, const LayerFrame& frame) {
    compact_[c].assign(3 * plan_.samples[c].size(), 0);
    if (layer_[c] == Layer::kCurrentMap && layerInterp_[c] == frame.mode) {
        sampleInto(c, frame);
    } else if (layer_[c] != Layer::kZero) {
        const std::vector<std::size_t> pixels = plannedPixels(frame.view, plan_, c);
        uint8_t* d = compact_[c].data();
        if (layer_[c] == Layer::kStored) {
            for (std::size_t k = 0; k < pixels.size(); ++k) std::memcpy(d + 3 * k, &stored_[c][3 * pixels[k]], 3);
        } else {
            const float* map = layerMap(c, frame);
            std::vector<Sample> samples(pixels.size());
            for (std::size_t k = 0; k < pixels.size(); ++k)
                samples[k] = makeSample(map, layerInterp_[c], pixels[k], frame.source);
            samplePicture(sources_[c].data(), frame.source.width, layerInterp_[c], samples, d);
        }
    }
    compactValid_[c] = true;
}

void LayerCache::apply(const std::array<const uint8_t*, kCameraCount>& pictures, const LayerFrame& frame,
                       uint8_t* output) {
    const int outWidth = frame.view.outWidth();
    bool all = true;
    for (const uint8_t* p : pictures) all = all && p != nullptr;
    if (output != nullptr && all) {
        // Four new pictures: stitched straight from them. The layers are sampled from the kept
        // pictures only if a later Apply leaves a camera out.
        for (int c = 0; c < kCameraCount; ++c) {
            take(c, pictures[c], frame.mode);
            compactValid_[c] = false;
        }
        stitchPictures(plan_, outWidth,
                       {sources_[0].data(), sources_[1].data(), sources_[2].data(), sources_[3].data()},
                       frame.source.width, frame.mode, output);
        return;
    }
    for (int c = 0; c < kCameraCount; ++c) {
        if (pictures[c] != nullptr) {
            take(c, pictures[c], frame.mode);
            sampleInto(c, frame);
            compactValid_[c] = true;
        } else if (!compactValid_[c]) {
            refreshCompact(c, frame);
        }
    }
    if (output != nullptr)
        stitch(plan_, outWidth, {compact_[0].data(), compact_[1].data(), compact_[2].data(), compact_[3].data()},
               output);
}

}  // namespace mz
