// The files a command reads and those it writes: an output that is one of the inputs would replace
// what the command reads, so it is refused before anything is read or written.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace mz::cli {

struct NamedPath {
    std::string option;  // as the operator gave it ("--report"), or what the command makes of one
    std::filesystem::path path;
};

// The four camera pictures a data folder may hold, under every ending the picture reader takes.
std::vector<NamedPath> dataPictures(const std::filesystem::path& data);

// Why an output names an input (the same path, or the same file through a link: device and inode
// compared), naming both options and the path; nothing when none does. `clash` gets the output's
// option.
std::optional<std::string> outputNamingAnInput(const std::vector<NamedPath>& inputs,
                                               const std::vector<NamedPath>& outputs, std::string* clash = nullptr);

// The same, thrown as std::invalid_argument.
void refuseOutputsNamingInputs(const std::vector<NamedPath>& inputs, const std::vector<NamedPath>& outputs);

}  // namespace mz::cli
