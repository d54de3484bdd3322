// Config.bin as text for people: every record with named fields as JSON (docs/config.md), and a
// readable listing. Car images live in picture files beside the JSON.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "format/config_model.h"
#include "format/stitching_map.h"

namespace mz::format {

// What is wrong with a configuration's JSON: the field at fault as a JSON pointer
// ("/cameras/2/fx"; empty for the text as a whole) and a sentence.
class ConfigJsonError : public std::runtime_error {
public:
    ConfigJsonError(std::string pointer, const std::string& problem)
        : std::runtime_error((pointer.empty() ? std::string("(whole text)") : pointer) + ": " + problem),
          pointer_(std::move(pointer)) {}
    const std::string& pointer() const { return pointer_; }

private:
    std::string pointer_;
};

// The JSON of a configuration. carImageFiles[i] is the file name written into the JSON for car
// image i (the caller writes the picture there); an empty name gives null. Floats are written in
// their shortest form that reads back to the same bits.
std::string configToJson(const ConfigFile& config, const std::vector<std::string>& carImageFiles);

// The JSON of a new configuration whose car images config build draws itself: every stitched
// view gets "carImage": "auto" with the style's fields, and "about" leads with lines for the
// person who edits the file (config build reads past it).
std::string configToJsonWithAutoMaps(const ConfigFile& config, const StitchingStyle& style,
                                     const std::vector<std::string>& about);

// A configuration from its JSON, every field checked against what the file and the workflow
// take; car-image paths are relative to baseFolder and may name BMP or PNG pictures of exactly
// their view's size, or a car image is "carImage": "auto" and drawn from its view's record
// (optional seamAngle, blendWidth, vehicleColour). Throws ConfigJsonError.
ConfigFile configFromJson(const std::string& text, const std::filesystem::path& baseFolder);

// Every record of the file, one field a line.
std::string configToText(const ConfigFile& config);

}  // namespace mz::format
