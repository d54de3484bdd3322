#include "sim/render.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "geometry/angles.h"
#include "geometry/lens_model.h"

namespace mz::sim {

namespace {

constexpr int kSuper = 4;  // samples per pixel along each axis

uint64_t mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

double unit(uint64_t h) { return static_cast<double>(h >> 11) * 0x1.0p-53; }

// Smooth lattice noise in [0, 1), the floor's mottling.
double valueNoise(double x, double y, uint64_t seed) {
    const double fx = std::floor(x), fy = std::floor(y);
    const int64_t ix = static_cast<int64_t>(fx), iy = static_cast<int64_t>(fy);
    const double tx = x - fx, ty = y - fy;
    const double sx = tx * tx * (3 - 2 * tx), sy = ty * ty * (3 - 2 * ty);
    auto at = [&](int64_t a, int64_t b) {
        return unit(mix(seed ^ mix(static_cast<uint64_t>(a) * 0x632BE59BD9B4E019ull + static_cast<uint64_t>(b))));
    };
    const double top = at(ix, iy) + (at(ix + 1, iy) - at(ix, iy)) * sx;
    const double bottom = at(ix, iy + 1) + (at(ix + 1, iy + 1) - at(ix, iy + 1)) * sx;
    return top + (bottom - top) * sy;
}

struct Colour {
    double b = 0, g = 0, r = 0;
};

class Scene {
public:
    Scene(const Rig& rig, int camera)
        : cam_(rig.cameras.at(camera)), inverse_(cam_.lens), seed_(mix(rig.options.seed)),
          realism_(rig.options.realism) {
        for (int t = 0; t < 4; ++t) {
            const Triangle& tri = rig.triangles[t];
            Shape& s = shapes_[t];
            // Each side as an inward-facing line; a point's distance inside the outer triangle
            // is the smallest of the three, and the band is where that distance is below the
            // band width.
            for (int e = 0; e < 3; ++e) {
                const Vec2 a = tri.corners[e], n = inwardNormal(tri, e);
                s.nx[e] = n.x;
                s.ny[e] = n.y;
                s.d[e] = -(n.x * a.x + n.y * a.y);
            }
            s.band = tri.band;
            s.x0 = std::min({tri.corners[0].x, tri.corners[1].x, tri.corners[2].x});
            s.x1 = std::max({tri.corners[0].x, tri.corners[1].x, tri.corners[2].x});
            s.y0 = std::min({tri.corners[0].y, tri.corners[1].y, tri.corners[2].y});
            s.y1 = std::max({tri.corners[0].y, tri.corners[1].y, tri.corners[2].y});
        }
        placeBayEffects(rig);
    }

    // Whether the light on the floor varies (hall lights, the vehicle's shadow).
    bool lit() const { return realism_.light > 0 || realism_.shadow > 0; }
    bool worn() const { return realism_.wear > 0; }

    // Light falling on a floor point, relative to the clean bay's: smooth fields many pixels wide,
    // so they darken an edge's two sides alike and leave where it crosses half level.
    double light(double x, double y) const {
        double gain = 1;
        if (realism_.light > 0) {
            const double patches = 2 * valueNoise(x / 3000, y / 3000, seed_ ^ 0x11637ull) - 1;
            const double slope = std::clamp((x * lightDir_.x + y * lightDir_.y) / 3500, -1.0, 1.0);
            gain *= 1 + realism_.light * std::clamp(0.6 * patches + 0.4 * slope, -1.0, 1.0);
        }
        if (realism_.shadow > 0) {
            // Distance outside the vehicle's shadow box (negative inside), through a wide penumbra:
            // the hall's light is broad, so the shadow is soft.
            const double dx = std::abs(x - shadowCentre_.x) - shadowHalf_.x;
            const double dy = std::abs(y - shadowCentre_.y) - shadowHalf_.y;
            const double outside = std::hypot(std::max(dx, 0.0), std::max(dy, 0.0)) + std::min(std::max(dx, dy), 0.0);
            const double t = std::clamp(0.5 - outside / kPenumbra, 0.0, 1.0);
            gain *= 1 - realism_.shadow * t * t * (3 - 2 * t);
        }
        return gain;
    }

    // Share of the band's contrast lost at a floor point: worn paint and dust in patches.
    double wear(double x, double y) const {
        return std::min(0.95, realism_.wear * (0.7 + 0.6 * valueNoise(x / 400, y / 400, seed_ ^ 0xD057ull)));
    }

    // Kinds of what a ray meets; the floor's colour is looked up once per pixel.
    enum Hit { kOutside, kSky, kFloor, kBand, kCable };

    Hit trace(double px, double py, double& hx, double& hy, double& elevation) const {
        const Lens& lens = cam_.lens;
        double u, v;
        mz::lens::normalisedOffset(lens, px, py, u, v);
        const double rho = mz::lens::planeRadius(u, v);
        if (rho > inverse_.maxRadius()) return kOutside;
        double s, c;
        inverse_.sinCos(rho, s, c);
        const double k = rho > 0 ? s / rho : 0;
        const double dx = u * k, dy = v * k, dz = c;
        const Mat3& r = cam_.rotation;
        // Camera to floor: the transpose of the floor-to-camera rotation.
        const double wx = r[0][0] * dx + r[1][0] * dy + r[2][0] * dz;
        const double wy = r[0][1] * dx + r[1][1] * dy + r[2][1] * dz;
        const double wz = r[0][2] * dx + r[1][2] * dy + r[2][2] * dz;
        elevation = wz;
        if (wz > -1e-4) return kSky;
        const double t = -cam_.position.z / wz;
        hx = cam_.position.x + wx * t;
        hy = cam_.position.y + wy * t;
        if (realism_.cable > 0 && onCable(hx, hy)) return kCable;
        for (const Shape& sh : shapes_) {
            if (hx < sh.x0 || hx > sh.x1 || hy < sh.y0 || hy > sh.y1) continue;
            double inside = 1e30;
            for (int e = 0; e < 3; ++e) inside = std::min(inside, sh.nx[e] * hx + sh.ny[e] * hy + sh.d[e]);
            if (inside >= 0 && inside < sh.band) return kBand;
        }
        return kFloor;
    }

    Colour floor(double x, double y) const {
        const double mottle = valueNoise(x / 700, y / 700, seed_) - 0.5;
        const double grain = valueNoise(x / 90, y / 90, seed_ ^ 0x5bd1e995u) - 0.5;
        const double shade = 14 * mottle + 6 * grain;
        Colour c{188 + shade, 196 + shade, 203 + shade};
        // Far floor fades into the hall's haze.
        const double dist = std::hypot(x - cam_.position.x, y - cam_.position.y);
        const double haze = 1 - std::exp(-dist / 20000);
        c.b += (214 - c.b) * haze;
        c.g += (214 - c.g) * haze;
        c.r += (212 - c.r) * haze;
        return c;
    }

    static Colour sky(double elevation) {
        const double t = std::clamp(elevation * 2, 0.0, 1.0);
        return {232 - 20 * t, 218 - 35 * t, 200 - 55 * t};
    }

private:
    struct Shape {
        double nx[3], ny[3], d[3];
        double band = 0;
        double x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    };

    static constexpr double kPenumbra = 700;  // mm

    // The parts of the bay's effects drawn from the seed, the same for every camera.
    void placeBayEffects(const Rig& rig) {
        const uint64_t h = mix(rig.options.seed ^ 0xBA7EFFEC75ull);
        const double lightAngle = 2 * kPi<double> * unit(mix(h + 1));
        lightDir_ = {std::cos(lightAngle), std::sin(lightAngle)};
        // The shadow lies a little beyond the body and off towards the side away from the light.
        const double shadowAngle = 2 * kPi<double> * unit(mix(h + 2));
        const double shadowOffset = 350 + 250 * unit(mix(h + 3));
        shadowCentre_ = {shadowOffset * std::cos(shadowAngle), shadowOffset * std::sin(shadowAngle)};
        shadowHalf_ = {rig.options.vehicleWidth / 2 + 150, rig.options.vehicleLength / 2 + 150};
        // The cable crosses one side of one triangle somewhere along its middle, at up to 30
        // degrees from square, from well outside to just inside the hole.
        const Triangle& tri = rig.triangles[mix(h + 4) % 4];
        const int side = static_cast<int>(mix(h + 5) % 3);
        const Vec2 a = tri.corners[side], b = tri.corners[(side + 1) % 3];
        const double along = 0.3 + 0.4 * unit(mix(h + 6));
        const Vec2 cross{a.x + (b.x - a.x) * along, a.y + (b.y - a.y) * along};
        const Vec2 n = inwardNormal(tri, side);
        const double nx = n.x, ny = n.y;
        const double turn = (unit(mix(h + 7)) - 0.5) * kPi<double> / 3;
        const double dx = nx * std::cos(turn) - ny * std::sin(turn), dy = nx * std::sin(turn) + ny * std::cos(turn);
        const double inward = (tri.band + 60) / std::max(0.5, std::cos(turn));
        cableFrom_ = {cross.x - 900 * dx, cross.y - 900 * dy};
        cableTo_ = {cross.x + inward * dx, cross.y + inward * dy};
    }

    bool onCable(double x, double y) const {
        const double ex = cableTo_.x - cableFrom_.x, ey = cableTo_.y - cableFrom_.y;
        const double t =
            std::clamp(((x - cableFrom_.x) * ex + (y - cableFrom_.y) * ey) / (ex * ex + ey * ey), 0.0, 1.0);
        return std::hypot(x - cableFrom_.x - t * ex, y - cableFrom_.y - t * ey) < realism_.cable / 2;
    }

    const Camera& cam_;
    RadiusToAngle inverse_;
    uint64_t seed_;
    const Realism& realism_;
    Shape shapes_[4];
    Vec2 lightDir_, shadowCentre_, shadowHalf_, cableFrom_, cableTo_;
};

void renderRows(const Scene& scene, int width, std::vector<float>& out, int y0, int y1) {
    const Colour band{26, 27, 29};
    const Colour cable{40, 40, 42};
    for (int y = y0; y < y1; ++y) {
        float* row = out.data() + size_t(y) * width * 3;
        for (int x = 0; x < width; ++x) {
            Colour sum;
            bool haveFloor = false;
            Colour floorColour;
            // Light and wear vary over hundreds of millimetres: one look-up per pixel as well.
            bool haveGround = false;
            double light = 1;
            Colour wornBand = band;
            for (int j = 0; j < kSuper; ++j) {
                const double py = y + (j + 0.5) / kSuper - 0.5;
                for (int i = 0; i < kSuper; ++i) {
                    const double px = x + (i + 0.5) / kSuper - 0.5;
                    double hx = 0, hy = 0, elevation = 0;
                    const Scene::Hit hit = scene.trace(px, py, hx, hy, elevation);
                    Colour c;
                    if (hit >= Scene::kFloor && !haveGround && (scene.lit() || scene.worn())) {
                        haveGround = true;
                        if (scene.lit()) light = scene.light(hx, hy);
                        if (scene.worn()) {
                            if (!haveFloor) {
                                floorColour = scene.floor(hx, hy);
                                haveFloor = true;
                            }
                            const double w = scene.wear(hx, hy);
                            wornBand = {band.b + w * (floorColour.b - band.b), band.g + w * (floorColour.g - band.g),
                                        band.r + w * (floorColour.r - band.r)};
                        }
                    }
                    if (hit == Scene::kFloor) {
                        // The mottling is far coarser than a pixel: one look-up per pixel.
                        if (!haveFloor) {
                            floorColour = scene.floor(hx, hy);
                            haveFloor = true;
                        }
                        c = floorColour;
                    } else if (hit == Scene::kBand) {
                        c = wornBand;
                    } else if (hit == Scene::kCable) {
                        c = cable;
                    } else if (hit == Scene::kSky) {
                        c = Scene::sky(elevation);
                    }
                    if (hit >= Scene::kFloor) {
                        c.b *= light;
                        c.g *= light;
                        c.r *= light;
                    }
                    sum.b += c.b;
                    sum.g += c.g;
                    sum.r += c.r;
                }
            }
            const double n = kSuper * kSuper;
            row[3 * x] = static_cast<float>(sum.b / n);
            row[3 * x + 1] = static_cast<float>(sum.g / n);
            row[3 * x + 2] = static_cast<float>(sum.r / n);
        }
    }
}

template <typename Fn>
void parallelRows(int height, int threads, Fn fn) {
    if (threads <= 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    threads = std::min(threads, std::max(1, height / 8));
    std::atomic<int> next{0};
    auto work = [&] {
        for (;;) {
            const int y0 = next.fetch_add(8);
            if (y0 >= height) return;
            fn(y0, std::min(height, y0 + 8));
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) pool.emplace_back(work);
    work();
    for (std::thread& t : pool) t.join();
}

void blur(std::vector<float>& img, int width, int height, double sigma, int threads) {
    const int radius = static_cast<int>(std::ceil(3 * sigma));
    std::vector<float> kernel(2 * radius + 1);
    double total = 0;
    for (int i = -radius; i <= radius; ++i)
        total += kernel[i + radius] = static_cast<float>(std::exp(-0.5 * i * i / (sigma * sigma)));
    for (float& k : kernel) k = static_cast<float>(k / total);
    std::vector<float> tmp(img.size());
    parallelRows(height, threads, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            for (int x = 0; x < width; ++x) {
                for (int ch = 0; ch < 3; ++ch) {
                    float acc = 0;
                    for (int i = -radius; i <= radius; ++i) {
                        const int xx = std::clamp(x + i, 0, width - 1);
                        acc += kernel[i + radius] * img[(size_t(y) * width + xx) * 3 + ch];
                    }
                    tmp[(size_t(y) * width + x) * 3 + ch] = acc;
                }
            }
        }
    });
    parallelRows(height, threads, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            for (int x = 0; x < width; ++x) {
                for (int ch = 0; ch < 3; ++ch) {
                    float acc = 0;
                    for (int i = -radius; i <= radius; ++i) {
                        const int yy = std::clamp(y + i, 0, height - 1);
                        acc += kernel[i + radius] * tmp[(size_t(yy) * width + x) * 3 + ch];
                    }
                    img[(size_t(y) * width + x) * 3 + ch] = acc;
                }
            }
        }
    });
}

// Where a pixel lies between the image circle's centre (0) and its edge (1).
double rimShare(const Lens& lens, double maxRadius, int x, int y) {
    const double u = (x - lens.cx) / lens.fx, v = (y - lens.cy) / lens.fy;
    return std::min(1.0, std::sqrt(u * u + v * v) / maxRadius);
}

// Lateral colour: red lands a little further out than green and blue as far in, by `rim` pixels at
// the image circle's edge and less towards the centre. The two fringes balance about green.
void shiftColours(std::vector<float>& img, int width, int height, const Lens& lens, double maxRadius, double rim,
                  int threads) {
    const std::vector<float> source = img;
    auto sample = [&](double sx, double sy, int ch) {
        sx = std::clamp(sx, 0.0, width - 1.0);
        sy = std::clamp(sy, 0.0, height - 1.0);
        const int x0 = std::min(static_cast<int>(sx), width - 2), y0 = std::min(static_cast<int>(sy), height - 2);
        const double tx = sx - x0, ty = sy - y0;
        auto at = [&](int x, int y) { return double(source[(size_t(y) * width + x) * 3 + ch]); };
        const double top = at(x0, y0) + (at(x0 + 1, y0) - at(x0, y0)) * tx;
        const double bottom = at(x0, y0 + 1) + (at(x0 + 1, y0 + 1) - at(x0, y0 + 1)) * tx;
        return top + (bottom - top) * ty;
    };
    parallelRows(height, threads, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            for (int x = 0; x < width; ++x) {
                const double dx = x - lens.cx, dy = y - lens.cy, r = std::hypot(dx, dy);
                if (r == 0) continue;
                const double e = rimShare(lens, maxRadius, x, y);
                const double shift = rim * e * e;
                const double ux = dx / r * shift, uy = dy / r * shift;
                float* p = &img[(size_t(y) * width + x) * 3];
                p[0] = static_cast<float>(sample(x + ux, y + uy, 0));  // blue, pulled in
                p[2] = static_cast<float>(sample(x - ux, y - uy, 2));  // red, pushed out
            }
        }
    });
}

// The lens's softness towards the rim: on top of the picture's even blur (`sigma`), so much more
// that the total reaches `rim` at the image circle's edge, growing with the square of the radius.
// Each pixel's kernel is symmetric about it.
void blurTowardsRim(std::vector<float>& img, int width, int height, const Lens& lens, double maxRadius, double sigma,
                    double rim, int threads) {
    constexpr double kStep = 0.05;  // px between the kernels' widths
    std::vector<uint8_t> kernelOf(size_t(width) * height);
    int widest = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double e = rimShare(lens, maxRadius, x, y);
            const double total = sigma + (rim - sigma) * e * e;
            const double extra = std::sqrt(std::max(0.0, total * total - sigma * sigma));
            const int k = static_cast<int>(std::lround(extra / kStep));
            kernelOf[size_t(y) * width + x] = static_cast<uint8_t>(std::min(k, 255));
            widest = std::max(widest, std::min(k, 255));
        }
    }
    std::vector<std::vector<float>> kernels(widest + 1);
    for (int k = 1; k <= widest; ++k) {
        const double s = k * kStep;
        const int radius = static_cast<int>(std::ceil(3 * s));
        std::vector<float>& kernel = kernels[k];
        kernel.resize(2 * radius + 1);
        double total = 0;
        for (int i = -radius; i <= radius; ++i)
            total += kernel[i + radius] = static_cast<float>(std::exp(-0.5 * i * i / (s * s)));
        for (float& v : kernel) v = static_cast<float>(v / total);
    }
    // Horizontal then vertical, each pixel gathering with its own kernel.
    std::vector<float> tmp(img.size());
    for (int pass = 0; pass < 2; ++pass) {
        const std::vector<float>& from = pass == 0 ? img : tmp;
        std::vector<float>& to = pass == 0 ? tmp : img;
        parallelRows(height, threads, [&](int y0, int y1) {
            for (int y = y0; y < y1; ++y) {
                for (int x = 0; x < width; ++x) {
                    const size_t at = size_t(y) * width + x;
                    const std::vector<float>& kernel = kernels[kernelOf[at]];
                    if (kernel.empty()) {
                        for (int ch = 0; ch < 3; ++ch) to[at * 3 + ch] = from[at * 3 + ch];
                        continue;
                    }
                    const int radius = static_cast<int>(kernel.size() / 2);
                    for (int ch = 0; ch < 3; ++ch) {
                        float acc = 0;
                        for (int i = -radius; i <= radius; ++i) {
                            const int xx = pass == 0 ? std::clamp(x + i, 0, width - 1) : x;
                            const int yy = pass == 1 ? std::clamp(y + i, 0, height - 1) : y;
                            acc += kernel[i + radius] * from[(size_t(yy) * width + xx) * 3 + ch];
                        }
                        to[at * 3 + ch] = acc;
                    }
                }
            }
        });
    }
}

// A glare spot: light scattered in the lens from a bright reflection, a core and a faint halo
// added on top of the picture. Smooth, so it moves no edge, though it may wash one out.
struct Glare {
    double x = 0, y = 0, radius = 1, peak = 0;
    double at(int px, int py) const {
        const double d2 = ((px - x) * (px - x) + (py - y) * (py - y)) / (radius * radius);
        return peak * (std::exp(-0.5 * d2) + 0.25 * std::exp(-0.5 * d2 / 16));
    }
};

// One camera of the bay catches it, somewhere over the floor in the lower part of its picture.
Glare glareOf(const Rig& rig, int camera) {
    Glare g;
    const uint64_t h = mix(rig.options.seed ^ 0x6142E5B07ull);
    if (rig.options.realism.glare <= 0 || static_cast<int>(mix(h) % 4) != camera) return g;
    const int w = rig.options.width, height = rig.options.height;
    g.x = w * (0.2 + 0.6 * unit(mix(h + 1)));
    g.y = height * (0.5 + 0.35 * unit(mix(h + 2)));
    g.radius = 0.05 * w;
    g.peak = rig.options.realism.glare;
    return g;
}

// Standard normal deviate from a hash: the same numbers on every run, platform and thread count.
double gaussian(uint64_t h) {
    const double u1 = (static_cast<double>(h >> 40) + 1) * 0x1.0p-24;
    const double u2 = static_cast<double>(h & 0xFFFFFF) * 0x1.0p-24;
    return std::sqrt(-2 * std::log(u1)) * std::cos(2 * kPi<double> * u2);
}

}  // namespace

Picture renderCamera(const Rig& rig, int camera, int threads) {
    const int w = rig.options.width, h = rig.options.height;
    const Scene scene(rig, camera);
    std::vector<float> img(size_t(w) * h * 3);
    parallelRows(h, threads, [&](int y0, int y1) { renderRows(scene, w, img, y0, y1); });
    const Lens& lens = rig.cameras[camera].lens;
    const RadiusToAngle inverse(lens);
    const Realism& realism = rig.options.realism;
    if (realism.chroma > 0) shiftColours(img, w, h, lens, inverse.maxRadius(), realism.chroma, threads);
    if (rig.options.blurSigma > 0) blur(img, w, h, rig.options.blurSigma, threads);
    if (realism.rimBlur > std::max(0.0, rig.options.blurSigma)) {
        blurTowardsRim(img, w, h, lens, inverse.maxRadius(), std::max(0.0, rig.options.blurSigma), realism.rimBlur,
                       threads);
    }

    const Glare glare = glareOf(rig, camera);
    const uint64_t noiseSeed = mix(rig.options.seed ^ mix(0xC0FFEEull + camera));
    const bool noisy = rig.options.noiseSigma > 0 || realism.noiseGain > 0;
    Picture pic(w, h);
    parallelRows(h, threads, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            uint8_t* out = pic.row(y);
            for (int x = 0; x < w; ++x) {
                const double u = (x - lens.cx) / lens.fx, v = (y - lens.cy) / lens.fy;
                const double edge = std::min(1.0, std::sqrt(u * u + v * v) / inverse.maxRadius());
                const double gain = 1 - rig.options.vignetting * edge * edge;
                const double flare = glare.peak > 0 ? glare.at(x, y) : 0;
                for (int ch = 0; ch < 3; ++ch) {
                    double value = img[(size_t(y) * w + x) * 3 + ch] * gain;
                    if (glare.peak > 0) value += flare;
                    if (noisy) {
                        const uint64_t key = (uint64_t(y) << 34) ^ (uint64_t(x) << 2) ^ uint64_t(ch);
                        // Shot noise grows with the light a pixel gathers; the read noise stays.
                        const double sigma = realism.noiseGain > 0
                                                 ? std::sqrt(rig.options.noiseSigma * rig.options.noiseSigma +
                                                             realism.noiseGain * std::max(0.0, value))
                                                 : rig.options.noiseSigma;
                        value += sigma * gaussian(mix(noiseSeed ^ key));
                    }
                    out[3 * x + ch] = static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
                }
            }
        }
    });
    return pic;
}

Realism realismPreset(const std::string& level) {
    // mild: a good camera in a tidy bay; real: what a plant's cameras and floor usually give;
    // harsh: an old camera, a dirty floor, a cable left lying.
    struct Preset {
        const char* level;
        double rimBlur, noiseGain, chroma, light, shadow, wear;
        int jpegQuality;
        double glare, cable;
    };
    static constexpr Preset kPresets[] = {
        {"clean", 0, 0, 0, 0, 0, 0, 0, 0, 0},
        {"mild", 1.1, 0.08, 0.3, 0.15, 0.2, 0.15, 92, 0, 0},
        {"real", 1.6, 0.2, 0.6, 0.3, 0.4, 0.3, 80, 70, 0},
        {"harsh", 2.0, 0.3, 1.0, 0.45, 0.55, 0.5, 65, 120, 20},
    };
    for (const Preset& p : kPresets) {
        if (level == p.level) {
            return {p.level,  p.rimBlur, p.noiseGain,   p.chroma, p.light,
                    p.shadow, p.wear,    p.jpegQuality, p.glare,  p.cable};
        }
    }
    throw std::invalid_argument("no realism level \"" + level + "\" (clean, mild, real or harsh)");
}

std::vector<uint8_t> packedPixels(const Picture& pic) {
    std::vector<uint8_t> out(static_cast<size_t>(pic.width) * pic.height * 3);
    for (int y = 0; y < pic.height; ++y)
        std::copy_n(pic.row(y), pic.width * 3, out.data() + static_cast<size_t>(y) * pic.width * 3);
    return out;
}

Picture makeQuad(const Picture& front, const Picture& rear, const Picture& left, const Picture& right) {
    const int w = front.width, h = front.height;
    for (const Picture* p : {&rear, &left, &right}) {
        if (p->width != w || p->height != h) throw std::invalid_argument("quad: pictures differ in size");
    }
    Picture quad(2 * w, 2 * h);
    const Picture* parts[4] = {&front, &rear, &left, &right};
    const int ox[4] = {0, w, 0, w}, oy[4] = {0, 0, h, h};
    for (int p = 0; p < 4; ++p) {
        for (int y = 0; y < h; ++y) {
            std::memcpy(quad.row(oy[p] + y) + 3 * ox[p], parts[p]->row(y), size_t(w) * 3);
        }
    }
    return quad;
}

}  // namespace mz::sim
