#include "app/cli/output_paths.h"

#include <stdexcept>

#include <sys/stat.h>

#include "app/cli/camera_keys.h"

namespace mz::cli {

namespace {

bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    struct stat sa {};
    struct stat sb {};
    // stat follows links, so a symbolic link to an input is that input; a hard link has its inode.
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

std::vector<NamedPath> dataPictures(const std::filesystem::path& data) {
    std::vector<NamedPath> pictures;
    for (const char* camera : kCameraKeys) {
        for (const char* ending : {".bmp", ".png", ".jpg", ".jpeg"})
            pictures.push_back(
                {"the " + std::string(camera) + " picture", data / "image" / (camera + std::string(ending))});
    }
    return pictures;
}

std::optional<std::string> outputNamingAnInput(const std::vector<NamedPath>& inputs,
                                               const std::vector<NamedPath>& outputs, std::string* clash) {
    for (const NamedPath& out : outputs) {
        if (out.path.empty()) continue;
        for (const NamedPath& in : inputs) {
            if (in.path.empty() || !sameFile(out.path, in.path)) continue;
            if (clash) *clash = out.option;
            return out.option + " (" + out.path.string() + ") is the file of " + in.option + " (" + in.path.string() +
                   "): an output may not replace an input; nothing was written";
        }
    }
    return std::nullopt;
}

void refuseOutputsNamingInputs(const std::vector<NamedPath>& inputs, const std::vector<NamedPath>& outputs) {
    if (const std::optional<std::string> why = outputNamingAnInput(inputs, outputs)) throw std::invalid_argument(*why);
}

}  // namespace mz::cli
