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
        return unit(mix(seed ^ mix(static_cast<uint64_t>(a) * 0x632BE59BD9B4E019ull +
                                   static_cast<uint64_t>(b))));
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
        : cam_(rig.cameras.at(camera)), inverse_(cam_.lens), seed_(mix(rig.options.seed)) {
        for (int t = 0; t < 4; ++t) {
            const Triangle& tri = rig.triangles[t];
            Shape& s = shapes_[t];
            const Vec2 c{(tri.corners[0].x + tri.corners[1].x + tri.corners[2].x) / 3,
                         (tri.corners[0].y + tri.corners[1].y + tri.corners[2].y) / 3};
            // Each side as an inward-facing line; a point's distance inside the outer triangle
            // is the smallest of the three, and the band is where that distance is below the
            // band width.
            for (int e = 0; e < 3; ++e) {
                const Vec2 a = tri.corners[e], b = tri.corners[(e + 1) % 3];
                double nx = -(b.y - a.y), ny = b.x - a.x;
                const double len = std::hypot(nx, ny);
                nx /= len;
                ny /= len;
                if (nx * (c.x - a.x) + ny * (c.y - a.y) < 0) {
                    nx = -nx;
                    ny = -ny;
                }
                s.nx[e] = nx;
                s.ny[e] = ny;
                s.d[e] = -(nx * a.x + ny * a.y);
            }
            s.band = tri.band;
            s.x0 = std::min({tri.corners[0].x, tri.corners[1].x, tri.corners[2].x});
            s.x1 = std::max({tri.corners[0].x, tri.corners[1].x, tri.corners[2].x});
            s.y0 = std::min({tri.corners[0].y, tri.corners[1].y, tri.corners[2].y});
            s.y1 = std::max({tri.corners[0].y, tri.corners[1].y, tri.corners[2].y});
        }
    }

    // Kinds of what a ray meets; the floor's colour is looked up once per pixel.
    enum Hit { kOutside, kSky, kFloor, kBand };

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

    const Camera& cam_;
    RadiusToAngle inverse_;
    uint64_t seed_;
    Shape shapes_[4];
};

void renderRows(const Scene& scene, int width, std::vector<float>& out, int y0, int y1) {
    const Colour band{26, 27, 29};
    for (int y = y0; y < y1; ++y) {
        float* row = out.data() + size_t(y) * width * 3;
        for (int x = 0; x < width; ++x) {
            Colour sum;
            bool haveFloor = false;
            Colour floorColour;
            for (int j = 0; j < kSuper; ++j) {
                const double py = y + (j + 0.5) / kSuper - 0.5;
                for (int i = 0; i < kSuper; ++i) {
                    const double px = x + (i + 0.5) / kSuper - 0.5;
                    double hx = 0, hy = 0, elevation = 0;
                    const Scene::Hit hit = scene.trace(px, py, hx, hy, elevation);
                    Colour c;
                    if (hit == Scene::kFloor) {
                        // The mottling is far coarser than a pixel: one look-up per pixel.
                        if (!haveFloor) {
                            floorColour = scene.floor(hx, hy);
                            haveFloor = true;
                        }
                        c = floorColour;
                    } else if (hit == Scene::kBand) {
                        c = band;
                    } else if (hit == Scene::kSky) {
                        c = Scene::sky(elevation);
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
    for (int i = -radius; i <= radius; ++i) total += kernel[i + radius] = static_cast<float>(std::exp(-0.5 * i * i / (sigma * sigma)));
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
    if (rig.options.blurSigma > 0) blur(img, w, h, rig.options.blurSigma, threads);

    const Lens& lens = rig.cameras[camera].lens;
    const RadiusToAngle inverse(lens);
    const uint64_t noiseSeed = mix(rig.options.seed ^ mix(0xC0FFEEull + camera));
    Picture pic(w, h);
    parallelRows(h, threads, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            uint8_t* out = pic.row(y);
            for (int x = 0; x < w; ++x) {
                const double u = (x - lens.cx) / lens.fx, v = (y - lens.cy) / lens.fy;
                const double edge = std::min(1.0, std::sqrt(u * u + v * v) / inverse.maxRadius());
                const double gain = 1 - rig.options.vignetting * edge * edge;
                for (int ch = 0; ch < 3; ++ch) {
                    double value = img[(size_t(y) * w + x) * 3 + ch] * gain;
                    if (rig.options.noiseSigma > 0) {
                        const uint64_t key = (uint64_t(y) << 34) ^ (uint64_t(x) << 2) ^ uint64_t(ch);
                        value += rig.options.noiseSigma * gaussian(mix(noiseSeed ^ key));
                    }
                    out[3 * x + ch] = static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
                }
            }
        }
    });
    return pic;
}

std::vector<uint8_t> packedPixels(const Picture& pic) {
    std::vector<uint8_t> out(static_cast<size_t>(pic.width) * pic.height * 3);
    for (int y = 0; y < pic.height; ++y)
        std::copy_n(pic.row(y), pic.width * 3, out.data() + static_cast<size_t>(y) * pic.width * 3);
    return out;
}

Picture makeQuad(const Picture& front, const Picture& rear, const Picture& left,
                 const Picture& right) {
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
