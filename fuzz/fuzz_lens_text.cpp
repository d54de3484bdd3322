// Lens-table text files through the calibration library's reader, then through the table lookup
// that turns a radius into an incidence angle.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "calib/camera_solver.h"
#include "calib/lens_table.h"

namespace {

// One file per process, in the temporary folder, rewritten for every input and removed at exit.
struct ScratchFile {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("mz-fuzz-lens-" + std::to_string(getpid()) + ".txt");
    ~ScratchFile() {
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
};

const std::filesystem::path& scratchFile() {
    static const ScratchFile file;
    return file.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto& path = scratchFile();
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    } else {
        return 0;
    }
    mz::calib::LensRow rows[mz::calib::kMaxFileRows];
    mz::calib::LensTable table{};
    if (mz::calib::readLensFile(path, table, rows)) {
        if (table.rowCount < 2 || table.rowCount > mz::calib::kMaxFileRows) __builtin_trap();
        for (float rho : {0.0f, 0.1f, 0.5f, 1.0f, 3.0f, -1.0f}) (void)mz::calib::incidenceAngle(table, rho);
    }
    return 0;
}
