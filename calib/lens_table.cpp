#include "calib/lens_table.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <iterator>
#include <cstring>
#include <fstream>
#include <string>

#include "geometry/angles.h"
#include "geometry/lens_model.h"

namespace mz::calib {
namespace {

// The built-in table in single precision, whole degrees 0..112 and their radii. Past 104 degrees
// the radius falls again; the ray lookup never reaches that part because it searches from row 0
// upward. Not const because a LensTable points at rows it may own; this one is only read.
constexpr std::array<LensRow, kBuiltInRows> builtInRows() {
    std::array<LensRow, kBuiltInRows> rows{};
    for (int i = 0; i < kBuiltInRows; ++i)
        rows[i] = {static_cast<float>(i), static_cast<float>(lens::kBuiltInRadii[i])};
    return rows;
}
static_assert(kBuiltInRows == lens::kBuiltInRowCount);

std::array<LensRow, kBuiltInRows> kWide20Rows = builtInRows();

const LensTable kWide20 = {lens::kBuiltInWidth,
                           lens::kBuiltInHeight,
                           static_cast<float>(lens::kBuiltInPitchX),
                           static_cast<float>(lens::kBuiltInPitchY),
                           kBuiltInRows,
                           kWide20Rows.data(),
                           {}};

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
            if (!readLensFile(dir.empty() ? std::filesystem::path(key) : dir / key, table, state.fileRows[i])) {
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
    const auto k = lens::forwardCoefficients(camera);
    for (int32_t i = 0; i < table.rowCount; ++i) {
        table.rows[i].angle = static_cast<float>(i);
        table.rows[i].radius = lens::radiusOfAngle(k.data(), radians(static_cast<float>(i)));
    }
    const auto coeff = lens::inverseCoefficients(camera);
    std::copy(coeff.begin(), coeff.end(), table.coeff);
}

}  // namespace mz::calib
