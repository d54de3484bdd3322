// Matrices and numbers of a file written by OpenCV's FileStorage in YAML (camera calibrations:
// camera_matrix, dist_coeffs, ...), read with yaml-cpp.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace mz::format {

struct StoredMatrix {
    int rows = 0;
    int cols = 0;
    std::vector<double> data;   // row by row
};

// Every top-level entry that is a matrix (a "!!opencv-matrix" map of rows, cols, dt and data, or
// a plain sequence of numbers as one column) or a number (a 1 x 1 matrix). Other entries (texts,
// nested maps) are left out. Throws std::runtime_error naming the entry, or the line of a YAML
// fault; an XML storage is refused with a hint.
std::map<std::string, StoredMatrix> parseOpencvYaml(const std::string& text);
std::map<std::string, StoredMatrix> readOpencvYaml(const std::filesystem::path& path);

}  // namespace mz::format
