#include "pattern/frame_isolation.h"

#include <algorithm>
#include <vector>

namespace mz::pattern {

namespace {

// A ring around the hole with fewer dark pixels than this share of the fullest ring so far lies
// past the band's outer edge: only what touches the frame from outside still reaches it.
constexpr float kBandEndShare = 0.15f;
// The share of the frame with its hole a fitted triangle must take in, and of the triangle that
// must be frame or hole (tips cut off with what joined them are a little of either).
constexpr float kCoverShare = 0.85f;

struct Grid {
    int width = 0;
    int height = 0;
    bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
    size_t index(int x, int y) const { return static_cast<size_t>(y) * static_cast<size_t>(width) + x; }
};

// The 4-connected regions of `light` pixels, numbered from 0 in `region` (-1 elsewhere); whether
// each reaches the grid's edge and its area.
struct LightRegions {
    std::vector<int> region;
    std::vector<bool> open;
    std::vector<size_t> area;
};

LightRegions lightRegions(const Grid& g, const std::vector<uint8_t>& light) {
    LightRegions out;
    std::vector<int>& region = out.region;
    region.assign(light.size(), -1);
    std::vector<size_t> stack;
    int next = 0;
    for (int y = 0; y < g.height; ++y) {
        for (int x = 0; x < g.width; ++x) {
            const size_t start = g.index(x, y);
            if (!light[start] || region[start] >= 0) continue;
            const int id = next++;
            size_t area = 0;
            bool open = false;
            region[start] = id;
            stack.assign(1, start);
            while (!stack.empty()) {
                const size_t i = stack.back();
                stack.pop_back();
                ++area;
                const int px = static_cast<int>(i % static_cast<size_t>(g.width));
                const int py = static_cast<int>(i / static_cast<size_t>(g.width));
                open |= px == 0 || py == 0 || px == g.width - 1 || py == g.height - 1;
                const int nx[4] = {px - 1, px + 1, px, px};
                const int ny[4] = {py, py, py - 1, py + 1};
                for (int k = 0; k < 4; ++k) {
                    if (!g.inside(nx[k], ny[k])) continue;
                    const size_t j = g.index(nx[k], ny[k]);
                    if (light[j] && region[j] < 0) {
                        region[j] = id;
                        stack.push_back(j);
                    }
                }
            }
            out.open.push_back(open);
            out.area.push_back(area);
        }
    }
    return out;
}

// The largest region of `light` pixels that does not reach the grid's edge, as a 0/1 map; empty
// when there is none.
std::vector<uint8_t> largestHole(const Grid& g, const std::vector<uint8_t>& light) {
    const LightRegions regions = lightRegions(g, light);
    const std::vector<int>& region = regions.region;
    int best = -1;
    size_t bestArea = 0;
    for (size_t id = 0; id < regions.area.size(); ++id) {
        if (!regions.open[id] && regions.area[id] > bestArea) {
            best = static_cast<int>(id);
            bestArea = regions.area[id];
        }
    }
    std::vector<uint8_t> hole;
    if (best < 0) return hole;
    hole.resize(light.size());
    for (size_t i = 0; i < light.size(); ++i) hole[i] = region[i] == best;
    return hole;
}

// The component's box as a grid (the box leaves out its last row and column; the frame's pixels
// reach them) with its own pixels marked dark and every other one light.
Grid componentGrid(const GreyImage& labels, const Component& component, std::vector<uint8_t>& dark,
                   std::vector<uint8_t>& light) {
    const ComponentBox& b = component.box;
    const Grid g{std::min(b.width + 1, labels.width - b.x), std::min(b.height + 1, labels.height - b.y)};
    if (g.width < 3 || g.height < 3) return Grid{};
    dark.assign(static_cast<size_t>(g.width) * static_cast<size_t>(g.height), 0);
    light.assign(dark.size(), 0);
    for (int y = 0; y < g.height; ++y) {
        const uint8_t* row = labels.row(b.y + y) + b.x;
        for (int x = 0; x < g.width; ++x) {
            dark[g.index(x, y)] = row[x] == component.label;
            light[g.index(x, y)] = row[x] != component.label;
        }
    }
    return g;
}

}  // namespace

GreyImage isolateFrame(const GreyImage& labels, const Component& component) {
    const ComponentBox& b = component.box;
    std::vector<uint8_t> dark, light;
    const Grid g = componentGrid(labels, component, dark, light);
    if (g.width == 0) return GreyImage{};
    const std::vector<uint8_t> hole = largestHole(g, light);
    if (hole.empty()) return GreyImage{};

    // Rings of dark pixels outward from the hole, one 8-neighbour step at a time.
    std::vector<int> ring(dark.size(), 0);
    std::vector<size_t> front, reached;
    for (int y = 0; y < g.height; ++y) {
        for (int x = 0; x < g.width; ++x) {
            const size_t i = g.index(x, y);
            if (!hole[i]) continue;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    if (!g.inside(x + dx, y + dy)) continue;
                    const size_t j = g.index(x + dx, y + dy);
                    if (dark[j] && ring[j] == 0) {
                        ring[j] = 1;
                        front.push_back(j);
                    }
                }
            }
        }
    }
    size_t fullest = 0;
    int last = 0;
    while (!front.empty()) {
        if (static_cast<float>(front.size()) < kBandEndShare * static_cast<float>(fullest)) {
            // The thin ring just past the edge still holds the edge's ragged pixels.
            ++last;
            break;
        }
        fullest = std::max(fullest, front.size());
        ++last;
        reached.clear();
        for (const size_t i : front) {
            const int x = static_cast<int>(i % static_cast<size_t>(g.width));
            const int y = static_cast<int>(i / static_cast<size_t>(g.width));
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    if (!g.inside(x + dx, y + dy)) continue;
                    const size_t j = g.index(x + dx, y + dy);
                    if (dark[j] && ring[j] == 0) {
                        ring[j] = last + 1;
                        reached.push_back(j);
                    }
                }
            }
        }
        front.swap(reached);
    }

    GreyImage frame(labels.width, labels.height, 0);
    for (int y = 0; y < g.height; ++y) {
        uint8_t* row = frame.row(b.y + y) + b.x;
        for (int x = 0; x < g.width; ++x) {
            const int r = ring[g.index(x, y)];
            if (r > 0 && r <= last) row[x] = 255;
            if (hole[g.index(x, y)]) row[x] = kHole;
        }
    }
    return frame;
}

GreyImage filledComponent(const GreyImage& labels, const Component& component) {
    const ComponentBox& b = component.box;
    std::vector<uint8_t> dark, light;
    const Grid g = componentGrid(labels, component, dark, light);
    if (g.width == 0) return GreyImage{};
    const LightRegions regions = lightRegions(g, light);
    GreyImage frame(labels.width, labels.height, 0);
    for (int y = 0; y < g.height; ++y) {
        uint8_t* row = frame.row(b.y + y) + b.x;
        for (int x = 0; x < g.width; ++x) {
            const size_t i = g.index(x, y);
            if (dark[i]) row[x] = 255;
            else if (!regions.open[static_cast<size_t>(regions.region[i])]) row[x] = kHole;
        }
    }
    return frame;
}

bool coversFrame(const GreyImage& frame, const ComponentBox& box, const std::array<Point2F, 3>& corners) {
    const auto side = [&](int i, float x, float y) {
        const Point2F& a = corners[static_cast<size_t>(i)];
        const Point2F& b = corners[static_cast<size_t>((i + 1) % 3)];
        return (b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x);
    };
    float minX = corners[0].x, maxX = minX, minY = corners[0].y, maxY = minY;
    for (const Point2F& p : corners) {
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
    }
    const int x0 = std::clamp(static_cast<int>(std::min(minX, static_cast<float>(box.x))) - 1, 0, frame.width - 1);
    const int x1 =
        std::clamp(static_cast<int>(std::max(maxX, static_cast<float>(box.x + box.width))) + 1, 0, frame.width - 1);
    const int y0 = std::clamp(static_cast<int>(std::min(minY, static_cast<float>(box.y))) - 1, 0, frame.height - 1);
    const int y1 =
        std::clamp(static_cast<int>(std::max(maxY, static_cast<float>(box.y + box.height))) + 1, 0, frame.height - 1);
    int64_t inside = 0, covered = 0, shape = 0;
    for (int y = y0; y <= y1; ++y) {
        const uint8_t* row = frame.row(y);
        for (int x = x0; x <= x1; ++x) {
            const float px = static_cast<float>(x) + 0.5f, py = static_cast<float>(y) + 0.5f;
            const float s0 = side(0, px, py), s1 = side(1, px, py), s2 = side(2, px, py);
            const bool in = (s0 >= 0 && s1 >= 0 && s2 >= 0) || (s0 <= 0 && s1 <= 0 && s2 <= 0);
            const bool part = row[x] != 0;
            inside += in;
            shape += part;
            covered += in && part;
        }
    }
    return shape > 0 && inside > 0 && static_cast<float>(covered) >= kCoverShare * static_cast<float>(shape) &&
           static_cast<float>(covered) >= kCoverShare * static_cast<float>(inside);
}

ComponentBox foregroundBox(const GreyImage& frame) {
    int minX = frame.width, maxX = -1, minY = frame.height, maxY = -1;
    for (int y = 0; y < frame.height; ++y) {
        const uint8_t* row = frame.row(y);
        for (int x = 0; x < frame.width; ++x) {
            if (row[x] != 255) continue;
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
        }
    }
    if (maxX < 0) return ComponentBox{};
    return ComponentBox{minX, minY, maxX - minX, maxY - minY};
}

}  // namespace mz::pattern
