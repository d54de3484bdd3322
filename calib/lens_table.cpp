#include "calib/lens_table.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <iterator>
#include <cstring>
#include <fstream>
#include <string>

namespace mz::calib {
namespace {

constexpr float kPi = 3.14159265358979f;

// Radii of the built-in table for the whole degrees 0..112. Past 104 degrees the radius falls
// again; the ray lookup never reaches that part because it searches from row 0 upward.
LensRow kWide20Rows[kBuiltInRows] = {
    {0, 0},          {1, 0.013991f},  {2, 0.027987f},  {3, 0.041991f},  {4, 0.056007f},
    {5, 0.070039f},  {6, 0.084092f},  {7, 0.09817f},   {8, 0.112276f},  {9, 0.126416f},
    {10, 0.140592f}, {11, 0.154809f}, {12, 0.169072f}, {13, 0.183384f}, {14, 0.197749f},
    {15, 0.212172f}, {16, 0.226657f}, {17, 0.241208f}, {18, 0.255828f}, {19, 0.270522f},
    {20, 0.285294f}, {21, 0.300149f}, {22, 0.315089f}, {23, 0.330119f}, {24, 0.345244f},
    {25, 0.360466f}, {26, 0.375791f}, {27, 0.391221f}, {28, 0.40676f},  {29, 0.422413f},
    {30, 0.438183f}, {31, 0.454074f}, {32, 0.470089f}, {33, 0.486231f}, {34, 0.502504f},
    {35, 0.518912f}, {36, 0.535457f}, {37, 0.552142f}, {38, 0.56897f},  {39, 0.585944f},
    {40, 0.603066f}, {41, 0.62034f},  {42, 0.637765f}, {43, 0.655346f}, {44, 0.673083f},
    {45, 0.690978f}, {46, 0.709031f}, {47, 0.727244f}, {48, 0.745618f}, {49, 0.764152f},
    {50, 0.782846f}, {51, 0.8017f},   {52, 0.820713f}, {53, 0.839883f}, {54, 0.859209f},
    {55, 0.878687f}, {56, 0.898316f}, {57, 0.918091f}, {58, 0.938009f}, {59, 0.958066f},
    {60, 0.978254f}, {61, 0.99857f},  {62, 1.019005f}, {63, 1.039552f}, {64, 1.060204f},
    {65, 1.08095f},  {66, 1.101781f}, {67, 1.122685f}, {68, 1.143651f}, {69, 1.164665f},
    {70, 1.185713f}, {71, 1.20678f},  {72, 1.22785f},  {73, 1.248903f}, {74, 1.269922f},
    {75, 1.290885f}, {76, 1.311771f}, {77, 1.332556f}, {78, 1.353215f}, {79, 1.373722f},
    {80, 1.394048f}, {81, 1.414162f}, {82, 1.434033f}, {83, 1.453627f}, {84, 1.472907f},
    {85, 1.491837f}, {86, 1.510374f}, {87, 1.528478f}, {88, 1.546102f}, {89, 1.563199f},
    {90, 1.579721f}, {91, 1.595613f}, {92, 1.610822f}, {93, 1.625288f}, {94, 1.63895f},
    {95, 1.651746f}, {96, 1.663606f}, {97, 1.674462f}, {98, 1.684238f}, {99, 1.692857f},
    {100, 1.700239f}, {101, 1.706299f}, {102, 1.710947f}, {103, 1.714092f}, {104, 1.715635f},
    {105, 1.715477f}, {106, 1.713511f}, {107, 1.709627f}, {108, 1.70371f},  {109, 1.695641f},
    {110, 1.685294f}, {111, 1.67254f},  {112, 1.657243f},
};

const LensTable kWide20 = {720, 480, 0.004437f, 0.004868f, kBuiltInRows, kWide20Rows, {}};

bool sameName(const char* a, const char* b) {
    for (;; ++a, ++b) {
        const int ca = std::tolower(static_cast<unsigned char>(*a));
        const int cb = std::tolower(static_cast<unsigned char>(*b));
        if (ca != cb) return false;
        if (ca == 0) return true;
    }
}

// The registry keys on the bare file name: "dir/lens.txt" and "lens.txt" are one table.
std::string bareName(const char* name) {
    const std::string full(name);
    const auto cut = full.find_last_of("/\\");
    return cut == std::string::npos ? full : full.substr(cut + 1);
}

}  // namespace

const LensTable& builtInLens() { return kWide20; }

void resetRegistry(CalibState& state) {
    for (LensEntry& entry : state.registry) {
        entry.useCount = 0;
        entry.table = nullptr;
        std::memset(entry.name, 0, sizeof entry.name);
    }
    LensEntry& first = state.registry[0];
    first.useCount = 1;
    first.table = &kWide20;
    std::strncpy(first.name, kBuiltInLensName, kLensNameSize - 1);
}

const LensTable* lookupLens(CalibState& state, const char* name, const std::filesystem::path& dir) {
    if (name == nullptr) return nullptr;
    const std::string key = bareName(name);
    for (int i = 0; i < kRegistrySize; ++i) {
        LensEntry& entry = state.registry[i];
        if (entry.table == nullptr) {
            LensTable& table = state.fileTables[i];
            if (!readLensFile(dir.empty() ? std::filesystem::path(key) : dir / key, table,
                              state.fileRows[i])) {
                return nullptr;
            }
            std::memset(entry.name, 0, sizeof entry.name);
            std::strncpy(entry.name, key.c_str(), kLensNameSize - 1);
            entry.table = &table;
            entry.useCount = 1;
            return entry.table;
        }
        if (sameName(entry.name, key.c_str())) {
            ++entry.useCount;
            return entry.table;
        }
    }
    return nullptr;
}

bool readLensFile(const std::filesystem::path& path, LensTable& table, LensRow* rowStore) {
    std::ifstream in(path);
    if (!in) return false;
    int32_t width = 0;
    int32_t height = 0;
    float pitchX = 0;
    float pitchY = 0;
    int32_t rowCount = 0;
    if (!(in >> width >> height >> pitchX >> pitchY >> rowCount)) return false;
    // Fewer than two rows cannot be interpolated; such a table would only yield invalid rays.
    if (rowCount < 2 || !std::isfinite(pitchX) || !std::isfinite(pitchY)) return false;
    rowCount = std::min(rowCount, kMaxFileRows);
    LensRow rows[kMaxFileRows];
    for (int32_t i = 0; i < rowCount; ++i) {
        if (!(in >> rows[i].angle >> rows[i].radius)) return false;
        if (!std::isfinite(rows[i].angle) || !std::isfinite(rows[i].radius)) return false;
    }
    std::copy(rows, rows + rowCount, rowStore);
    table.width = width;
    table.height = height;
    table.pitchX = pitchX;
    table.pitchY = pitchY;
    table.rowCount = rowCount;
    table.rows = rowStore;
    // A file carries no coefficients; they are not used by any computation either.
    std::fill(std::begin(table.coeff), std::end(table.coeff), 0.0f);
    return true;
}

void copyLens(const LensTable& from, LensTable& to, LensRow* rowStore) {
    to = from;
    to.rowCount = std::clamp(from.rowCount, 0, kBuiltInRows);
    std::copy(from.rows, from.rows + to.rowCount, rowStore);
    to.rows = rowStore;
}

void lensFromCamera(LensTable& table, const CameraParam& camera) {
    table.width = camera.width;
    table.height = camera.height;
    table.pitchX = 1.0f / camera.fx;
    table.pitchY = 1.0f / camera.fy;
    for (int32_t i = 0; i < table.rowCount; ++i) {
        const float t = static_cast<float>(i) * kPi / 180.0f;
        const float t2 = t * t;
        const float t3 = t2 * t;
        const float t5 = t3 * t2;
        const float t7 = t5 * t2;
        const float t9 = t7 * t2;
        table.rows[i].angle = static_cast<float>(i);
        table.rows[i].radius =
            camera.k1 * t + camera.k2 * t3 + camera.k3 * t5 + camera.k4 * t7 + camera.k5 * t9;
    }
    const float coeff[9] = {camera.c0, camera.c1, camera.c2, camera.c3, camera.c4,
                            camera.c5, camera.c6, camera.c7, camera.c8};
    std::copy(coeff, coeff + 9, table.coeff);
}

}  // namespace mz::calib
