#include "tests/e2e/e2e_util.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <sys/wait.h>
#include <unistd.h>

#include "sim/simulated_lens.h"

namespace mz::e2e {

namespace {

std::string quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace

CliResult runCli(const std::vector<std::string>& args) {
    // A run without --history records in the default history: the build's, not the home folder's.
    std::string command = "XDG_DATA_HOME=" + quoted(MZ_E2E_DATA_HOME) + " " + quoted(MZ_CLI_PATH);
    for (const std::string& a : args) command += " " + quoted(a);
    command += " 2>&1";
    CliResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::filesystem::path freshFolder(const std::string& name) {
    const char* tmp = std::getenv("TMPDIR");
    const std::filesystem::path root =
        std::filesystem::path(tmp ? tmp : "/tmp") / ("mz_e2e_" + std::to_string(getpid()));
    const std::filesystem::path dir = root / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

void removeFolder(const std::filesystem::path& dir) {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    std::filesystem::remove(dir.parent_path(), ec);  // fails, harmlessly, while others remain
}

nlohmann::json readJson(const std::filesystem::path& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return nlohmann::json::parse(in);
}

std::vector<uint8_t> readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> flashPayload(const std::vector<uint8_t>& file) {
    if (file.size() < 32) throw std::runtime_error("not a flash data file");
    const uint32_t length = (uint32_t(file[8] | file[9] << 8) << 16) | uint32_t(file[10] | file[11] << 8);
    std::vector<uint8_t> payload;
    payload.reserve(length);
    size_t pos = 32;
    while (payload.size() < length) {
        const size_t block = std::min<size_t>(1024, length - payload.size());
        if (pos + block + 1 > file.size()) throw std::runtime_error("flash data file is truncated");
        payload.insert(payload.end(), file.begin() + pos, file.begin() + pos + block);
        pos += block + 1;
    }
    return payload;
}

SourceMap decodeLut(const std::vector<uint8_t>& payload, int width, int height) {
    SourceMap map;
    map.width = width;
    map.height = height;
    map.source.assign(size_t(width) * height, {-1, -1});
    if (payload.size() != size_t(width) * height * 4) throw std::runtime_error("table of the wrong size");
    const size_t evenRows = size_t(height + 1) / 2;
    for (int row = 0; row < height; ++row) {
        const bool odd = (row & 1) != 0;
        const size_t stored = odd ? evenRows + size_t(row) / 2 : size_t(row) / 2;
        const uint8_t* p = payload.data() + stored * width * 4;
        for (int col = 0; col < width; ++col, p += 4) {
            const uint16_t x = uint16_t(p[0] | p[1] << 8), y = uint16_t(p[2] | p[3] << 8);
            if (x == 0xFFFF && y == 0xFFFF) continue;
            // x in 1/64 pixel; y in 1/64 row of its field, the odd field one row lower.
            map.source[size_t(row) * width + col] = {x / 64.0, 2.0 * y / 64.0 + (odd ? 1.0 : 0.0)};
        }
    }
    return map;
}

Distribution distribution(std::vector<double> values) {
    Distribution d;
    d.count = values.size();
    if (values.empty()) return d;
    std::sort(values.begin(), values.end());
    auto at = [&](double q) {
        return values[std::min(values.size() - 1, size_t(q * double(values.size() - 1) + 0.5))];
    };
    d.median = at(0.5);
    d.p95 = at(0.95);
    d.max = values.back();
    return d;
}

Distribution seamMisalignment(const sim::Rig& rig, const std::array<SourceMap, 4>& tables, size_t& unseen,
                              std::array<Distribution, 4>* zones) {
    const int w = rig.options.width, h = rig.options.height;
    auto covers = [&](const sim::Vec2& p) { return p.x >= 0 && p.y >= 0 && p.x <= w - 1 && p.y <= h - 1; };
    auto zoneOf = [](int a, int b) {
        const bool front = a == sim::kFront || b == sim::kFront, rear = a == sim::kRear || b == sim::kRear;
        const bool left = a == sim::kLeft || b == sim::kLeft, right = a == sim::kRight || b == sim::kRight;
        if (front && left) return int(kFrontLeft);
        if (front && right) return int(kFrontRight);
        if (rear && left) return int(kRearLeft);
        if (rear && right) return int(kRearRight);
        return -1;  // front with rear, left with right: no corner of the vehicle
    };
    std::vector<double> gaps;
    std::array<std::vector<double>, 4> zoneGaps;
    unseen = 0;
    std::vector<sim::RadiusToAngle> inverse;
    for (const sim::Camera& c : rig.cameras) inverse.emplace_back(c.lens);
    const size_t pixels = tables[0].source.size();
    for (size_t i = 0; i < pixels; ++i) {
        for (int a = 0; a < 4; ++a) {
            if (!covers(tables[a].source[i])) continue;
            for (int b = a + 1; b < 4; ++b) {
                if (!covers(tables[b].source[i])) continue;
                sim::Vec2 fa, fb;
                if (!sim::pixelToFloor(rig.cameras[a], inverse[a], tables[a].source[i], fa) ||
                    !sim::pixelToFloor(rig.cameras[b], inverse[b], tables[b].source[i], fb)) {
                    ++unseen;
                    continue;
                }
                gaps.push_back(std::hypot(fa.x - fb.x, fa.y - fb.y));
                if (const int zone = zoneOf(a, b); zone >= 0) zoneGaps[zone].push_back(gaps.back());
            }
        }
    }
    if (zones != nullptr) {
        for (int z = 0; z < 4; ++z) (*zones)[z] = distribution(std::move(zoneGaps[z]));
    }
    return distribution(std::move(gaps));
}

}  // namespace mz::e2e
