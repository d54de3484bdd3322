// Matrices and numbers of a file written by OpenCV's FileStorage in YAML or XML (camera
// calibrations: camera_matrix, dist_coeffs, ...), read with yaml-cpp and tinyxml2.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace mz::format {

struct StoredMatrix {
    int rows = 0;
    int cols = 0;
    std::vector<double> data;  // row by row
};

// Every top-level entry that is a matrix (a "!!opencv-matrix" map of rows, cols, dt and data, or
// a plain sequence of numbers as one column) or a number (a 1 x 1 matrix). Other entries (texts,
// nested maps) are left out. Throws std::runtime_error naming the entry, or the line of a YAML
// fault.
std::map<std::string, StoredMatrix> parseOpencvYaml(const std::string& text);
// The same from the XML form: <opencv_storage> with one element per entry, a matrix as
// type_id="opencv-matrix" with <rows>, <cols>, <dt> and <data> of numbers apart by blanks.
std::map<std::string, StoredMatrix> parseOpencvXml(const std::string& text);
// Either form, told by the text; errors start with the path.
std::map<std::string, StoredMatrix> readOpencvStorage(const std::filesystem::path& path);

}  // namespace mz::format
